// fork() with spans queued in the agent: the child neither hangs nor sends its parent's spans,
// and what each process traced arrives once; a fork while the release waits for the collector
// does not wait with it.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

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
        // Each process sends under its own id.
        EXPECT_EQ(span.resource.at("process.pid"),
                  std::to_string(span.attributes.at("url.path") == "/child" ? child : getpid()));
    }
    EXPECT_EQ(paths, (std::map<std::string, int>{
                         {"/child", 1}, {"/parent-after", 1}, {"/parent-before", 1}}));
}

TEST_F(otel_agent_test, AForkWhileTheReleaseWaitsForAHangingCollectorGoesOn) {
    receiver_->script("hang\nhang\nhang\nhang");
    set_option("otel_timeout=5000");
    initialize();
    serve("/queued");
    std::atomic<bool> released{false};
    std::thread releasing([&] {
        EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
        released = true;
    });
    // The release sends what is queued, and the receiver never answers.
    while (receiver_->requests().empty()) std::this_thread::yield();
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    EXPECT_FALSE(released) << "the fork waited for the release";
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    releasing.join();
}

}  // namespace
}  // namespace otel_test
