// A child forked while the parent's threads trace: it neither hangs on a lock another thread
// held at the fork nor draws the ids the parent draws; it keeps the forking thread's open
// tracers and knows it is a fork child; its new threads trace as well.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/console_agent_fixture.h"

namespace {

class RecordingCoreForkConcurrency : public console_agent_fixture {};

// TSan starts no thread in the child of a process that had several; the allocator of this
// compiler's ASan is not fork-safe: a child's new thread may wait forever for an allocator
// lock that one of the parent's threads held at the fork (glibc's malloc takes its locks
// across a fork).
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool threads_in_child = false;
#else
constexpr bool threads_in_child = true;
#endif

// "<fork state> <trace id> <span id>" of a new tracer inside the thread's open one.
std::string traced_step() {
    const quorin_handle_t step = quorin_customservicetracer_create_p("step", "AfterFork");
    quorin_tracer_start(step);
    char trace_id[33] = {}, span_id[17] = {};
    quorin_tracecontext_get_current(trace_id, sizeof trace_id, span_id, sizeof span_id);
    quorin_tracer_end(step);
    return std::to_string(quorin_agent_get_fork_state()) + " " + trace_id + " " + span_id;
}

TEST_F(RecordingCoreForkConcurrency, ChildrenForkedWhileThreadsTraceNeitherHangNorRepeatIds) {
    initialize();
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i) {
        workers.emplace_back([&] {
            const char* keys[] = {"k"};
            const char* values[] = {"v"};
            while (!stop.load()) {
                const quorin_handle_t request = quorin_customservicetracer_create_p("work", "W");
                quorin_tracer_start(request);
                quorin_customrequestattribute_add_strings_p(keys, values, BY_VALUE(1));
                quorin_tracer_end(request);
            }
        });
    }
    const quorin_handle_t open = quorin_customservicetracer_create_p("serve", "Parent");
    quorin_tracer_start(open);
    const std::string trace_id = current_trace_id();

    for (int round = 0; round < 20; ++round) {
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            alarm(30);  // a child that hangs is killed, and its parent sees the signal
            // A new thread takes a state the workers left, with the records and indexes they
            // kept: usable, though a worker may have been changing them at the fork.
            if (threads_in_child) {
                std::thread([] {
                    for (int i = 0; i < 50; ++i) traced_step();
                }).join();
            }
            const std::string line = traced_step();
            _exit(write(report[1], line.data(), line.size()) == static_cast<ssize_t>(line.size())
                      ? 0
                      : 1);
        }
        close(report[1]);
        const std::string parent = traced_step();
        std::string received(128, '\0');
        const ssize_t size = read(report[0], received.data(), received.size());
        close(report[0]);
        received.resize(size > 0 ? static_cast<size_t>(size) : 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

        // Both continue the open tracer's trace; only the child is a fork child; the span ids
        // drawn at the same point after the fork differ.
        ASSERT_EQ(received.size(), parent.size()) << received;
        EXPECT_EQ(received.substr(0, 2), "1 ");
        EXPECT_EQ(parent.substr(0, 2), "0 ");
        EXPECT_EQ(received.substr(2, 32), trace_id);
        EXPECT_EQ(parent.substr(2, 32), trace_id);
        EXPECT_NE(received.substr(35), parent.substr(35));
    }
    stop.store(true);
    for (std::thread& worker : workers) worker.join();
    quorin_tracer_end(open);
}

}  // namespace
