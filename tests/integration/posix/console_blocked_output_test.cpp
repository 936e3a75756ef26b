// The console agent writing into a pipe that nobody reads for a while: tracing threads, a fork
// and the release go on; the lines that did not fit are counted where they are missing, and
// what was queued still arrives once the pipe is read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/console_agent_fixture.h"

namespace {

using namespace std::chrono_literals;

class ConsoleBlockedOutput : public console_agent_fixture {
  protected:
    // The output becomes a pipe, opened for reading first so that the agent's open does not
    // wait for a reader. Nothing reads it until drain().
    void SetUp() override {
        console_agent_fixture::SetUp();
        ASSERT_EQ(mkfifo(output_.c_str(), 0600), 0);
        reader_ = open(output_.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader_, 0);
    }
    void TearDown() override {
        if (reader_ >= 0) close(reader_);
        console_agent_fixture::TearDown();
    }

    // Reads the pipe until the agent closes it, on a thread of its own.
    std::future<std::string> drain() {
        return std::async(std::launch::async, [fd = reader_] {
            std::string text;
            char buffer[65536];
            for (;;) {
                pollfd wanted{fd, POLLIN, 0};
                poll(&wanted, 1, -1);
                const ssize_t size = read(fd, buffer, sizeof buffer);
                if (size == 0) return text;  // the writer closed the pipe
                if (size > 0) text.append(buffer, static_cast<size_t>(size));
            }
        });
    }

    int reader_ = -1;
};

void trace_requests(int count) {
    for (int i = 0; i < count; ++i) {
        const quorin_handle_t request = quorin_customservicetracer_create_p("run", "Job");
        quorin_tracer_start(request);
        quorin_tracer_end(request);
    }
}

// Runs the work on a thread and aborts when it does not end within a minute: a thread held up
// by the output would otherwise hang the whole run.
template <typename Work>
void within_a_minute(const char* what, Work work) {
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(60s) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not return: it waits for the output\n", what);
        std::abort();
    }
    runner.join();
}

// Lines of the text (which starts with a newline) that start with the prefix.
size_t count_of(const std::string& text, const std::string& prefix) {
    std::string line_start(1, '\n');
    line_start += prefix;
    size_t count = 0;
    for (size_t at = 0; (at = text.find(line_start, at)) != std::string::npos; ++at) ++count;
    return count;
}

std::string after_newline(const std::string& text) {
    std::string out(1, '\n');
    out += text;
    return out;
}

uint64_t dropped_in(const std::string& text) {
    const std::string note = "\n# console agent: ";
    uint64_t dropped = 0;
    for (size_t at = 0; (at = text.find(note, at)) != std::string::npos; ++at) {
        dropped += std::strtoull(text.c_str() + at + note.size(), nullptr, 10);
    }
    return dropped;
}

TEST_F(ConsoleBlockedOutput, TracingGoesOnAndEveryLineIsWrittenOrCounted) {
    initialize();
    // Two lines per request, some 8 MiB in all: more than the pipe and the writer's queue hold.
    constexpr int requests = 100000;
    within_a_minute("tracing", [] { trace_requests(requests); });

    std::future<std::string> output = drain();
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    const std::string text = after_newline(output.get());

    // The line at the release may be one of those dropped.
    const uint64_t dropped = dropped_in(text);
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(count_of(text, "trace ") + count_of(text, "  custom service  Job.run  ") +
                  count_of(text, "# console agent released") + dropped,
              2u * requests + 1);
}

TEST_F(ConsoleBlockedOutput, ForkAndReleaseReturnWhileTheOutputBlocks) {
    initialize();
    // Enough to fill the pipe, well within the writer's queue.
    constexpr int requests = 3000;
    trace_requests(requests);

    within_a_minute("fork", [] {
        // What the child traces is held in the open tracer's tree, and the child writes
        // nothing: under valgrind a child whose thread is stuck in a write cannot exit.
        const quorin_handle_t open = quorin_customservicetracer_create_p("serve", "Job");
        quorin_tracer_start(open);
        const pid_t child = fork();
        if (child == 0) {
            alarm(30);
            trace_requests(1);
            _exit(quorin_agent_get_fork_state() == 1 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        quorin_tracer_end(open);
    });
    // The release gives up waiting for the output; the writer's thread goes on alone, in a
    // module kept loaded for it, and closes the pipe when it has written everything.
    within_a_minute("quorin_shutdown", [] { EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK); });

    const std::string text = after_newline(drain().get());
    EXPECT_EQ(count_of(text, "  custom service  Job.run  "), static_cast<size_t>(requests));
    EXPECT_EQ(dropped_in(text), 0u);
    EXPECT_EQ(text.substr(text.size() - 25), "# console agent released\n");
}

}  // namespace
