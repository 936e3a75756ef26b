// fork() with spans queued or tracers open in the agent: the child neither hangs nor sends its
// parent's spans or metric values, and what each process traced arrives once; a fork while the
// release waits for the collector does not wait with it.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
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
    std::map<std::string, std::string> instances;
    for (const received_span& span : shutdown_and_receive_spans()) {
        ++paths[span.attributes.at("url.path")];
        // Each process sends under its own id and service instance.
        EXPECT_EQ(span.resource.at("process.pid"),
                  std::to_string(span.attributes.at("url.path") == "/child" ? child : getpid()));
        instances[span.attributes.at("url.path")] = span.resource.at("service.instance.id");
    }
    EXPECT_EQ(instances["/parent-before"], instances["/parent-after"]);
    EXPECT_NE(instances["/child"], instances["/parent-after"]);
    EXPECT_EQ(paths, (std::map<std::string, int>{
                         {"/child", 1}, {"/parent-after", 1}, {"/parent-before", 1}}));
}

// Tracers open at the fork, on the forking thread and on another, are the parent's: the child
// nests its own under them but sends none of them, and its metric series start from zero.
TEST_F(otel_agent_test, ForkChildSendsNoneOfItsParentsOpenTracersNorItsMetricValues) {
    initialize();
    const quorin_handle_t orders = quorin_integercountermetric_create_p("shop", "orders", "count");
    quorin_integercountermetric_increase_by_p(orders, 5, nullptr);
    const quorin_handle_t outer = quorin_incomingwebrequesttracer_create_p(0, "/outer", "GET");
    quorin_tracer_start(outer);
    quorin_handle_t other = 0;
    std::thread([&] {
        other = quorin_incomingwebrequesttracer_create_p(0, "/other", "GET");
        quorin_tracer_start(other);
    }).join();
    const pid_t child = fork();
    if (child == 0) {
        alarm(20);
        serve("/child");
        quorin_integercountermetric_increase_by_p(orders, 1, nullptr);
        quorin_tracer_end(outer);
        _exit(quorin_shutdown() == QUORIN_STATUS_OK ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    quorin_tracer_end(outer);
    quorin_tracer_end(other);
    quorin_metric_delete(orders);

    const std::vector<received_span> spans = shutdown_and_receive_spans();
    std::map<std::string, int> paths;
    std::string child_parent, outer_span;
    for (const received_span& span : spans) {
        ++paths[span.attributes.at("url.path")];
        EXPECT_EQ(span.attributes.count("quorin.tracer.not_ended"), 0u);
        if (span.attributes.at("url.path") == "/child") child_parent = span.parent;
        if (span.attributes.at("url.path") == "/outer") outer_span = span.span;
    }
    EXPECT_EQ(paths, (std::map<std::string, int>{{"/child", 1}, {"/other", 1}, {"/outer", 1}}));
    EXPECT_EQ(child_parent, outer_span) << "the child's tracer continues the parent's trace";
    std::multiset<std::string> values;
    for (const received_point& point : points_in(receiver_->requests())) {
        if (point.metric == "shop.orders") values.insert(point.value);
    }
    EXPECT_EQ(values, (std::multiset<std::string>{"1", "5"}));
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
