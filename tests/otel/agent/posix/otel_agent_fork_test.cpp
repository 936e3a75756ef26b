// fork() with spans queued in the agent: the child neither hangs nor sends its parent's spans,
// and what each process traced arrives once.
#include <sys/wait.h>
#include <unistd.h>

#include "agent/otel_agent_fixture.h"

namespace otel_test {
namespace {

void serve(const char* path) {
    const quorin_handle_t request = quorin_incomingwebrequesttracer_create_p(0, path, "GET");
    quorin_tracer_start(request);
    quorin_tracer_end(request);
}

TEST_F(otel_agent_test, ForkChildSendsOnlyItsOwnSpans) {
    initialize();
    serve("/parent-before");
    const pid_t child = fork();
    if (child == 0) {
        alarm(20);  // a hang ends the child, and the parent sees it
        serve("/child");
        _exit(quorin_shutdown() == QUORIN_STATUS_OK ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    serve("/parent-after");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

    std::map<std::string, int> paths;
    for (const received_span& span : shutdown_and_receive_spans()) {
        ++paths[span.attributes.at("url.path")];
    }
    EXPECT_EQ(paths, (std::map<std::string, int>{
                         {"/child", 1}, {"/parent-after", 1}, {"/parent-before", 1}}));
}

}  // namespace
}  // namespace otel_test
