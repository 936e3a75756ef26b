// fork() while the exporter thread is sending: the child neither hangs nor sends its parent's
// spans, and its ids part from the parent's.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "exporter_support.h"
#include "id_generator.h"
#include "otel_platform.h"

namespace {

using namespace std::chrono_literals;
using otel_test::queue_span;

TEST(OtelFork, TheChildStartsEmptyAndTheParentDeliversOnce) {
    REQUIRE_RECEIVER(rx);
    rx.script("delay=400 200");  // the parent's batch is under way while it forks
    otel::exporter exporter(otel_test::options_for(rx));
    exporter.start();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(queue_span(exporter, "parent" + std::to_string(i)));
    std::thread flusher([&] { EXPECT_TRUE(exporter.flush()); });
    while (rx.requests().empty()) std::this_thread::yield();
    ASSERT_TRUE(queue_span(exporter, "parent-queued"));  // queued, not yet sent, at the fork

    const pid_t child = fork();
    if (child == 0) {
        alarm(20);  // a hang ends the child, and the parent sees it
        const bool queued = queue_span(exporter, "child");
        const bool flushed = exporter.flush();
        exporter.shutdown();
        _exit(queued && flushed && exporter.stats().spans_exported == 1 ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    flusher.join();
    EXPECT_TRUE(exporter.flush());

    const auto requests = rx.requests();
    const auto names = otel_test::delivered_span_names(requests);
    EXPECT_EQ(names.size(), 7u);
    for (const auto& [name, times] : names) EXPECT_EQ(times, 1) << name;
    for (const auto& request : requests) {
        const auto in_request = otel_test::received_span_names({request});
        if (in_request.count("child") != 0) {
            EXPECT_EQ(in_request.size(), 1u);
        }
    }
}

// In a fork child: a new engine for the exporter it inherited, an exporter of its own and a
// hook of its own each get a place for their fork hooks, here and `depth` generations below.
bool generations_have_places(otel::exporter& inherited, int depth) {
    alarm(20);          // a hang ends the child, and its parent sees it
    inherited.flush();  // builds the child's engine
    {
        otel::exporter own(otel::exporter_options{});
        const int token = otel::fork_child_hook_add([](void*) {}, nullptr);
        otel::fork_child_hook_remove(token);
        if (token < 0) return false;
    }
    if (depth == 0) return true;
    const pid_t child = fork();
    if (child == 0) _exit(generations_have_places(inherited, depth - 1) ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST(OtelFork, EveryGenerationOfChildrenHasPlacesForForkHooks) {
    otel::exporter inherited(otel::exporter_options{});
    const pid_t child = fork();
    if (child == 0) _exit(generations_have_places(inherited, 12) ? 0 : 1);
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

TEST(OtelFork, AChildGeneratesIdsOfItsOwn) {
    otel::id_generator ids;
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    const pid_t child = fork();
    if (child == 0) {
        const uint64_t id = ids.next();
        _exit(write(pipe_ends[1], &id, sizeof id) == sizeof id ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    uint64_t child_id = 0;
    ASSERT_EQ(read(pipe_ends[0], &child_id, sizeof child_id),
              static_cast<ssize_t>(sizeof child_id));
    waitpid(child, nullptr, 0);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    EXPECT_NE(ids.next(), child_id);
}

}  // namespace
