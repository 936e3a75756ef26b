// A process that exits without releasing the agent while another thread still traces: the
// agent frees nothing at the exit, so that thread never reaches freed memory (which ASan
// reports), and the process ends with its own exit status. The process is this program run
// anew with only the second test, which does nothing in a normal run (under valgrind the
// program, as /proc/self/exe names it, runs without valgrind).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "support/console_agent_fixture.h"

namespace {

constexpr char child_variable[] = "QUORIN_TEST_EXIT_CHILD";

class ExitWithoutShutdown : public console_agent_fixture {};

TEST_F(ExitWithoutShutdown, AThreadStillTracingDuringTheExitFindsTheAgentWhole) {
    char program[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", program, sizeof program - 1), 0);
    for (int round = 0; round < 3; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv(child_variable, "1", 1);
            execl(program, program, "--gtest_filter=ExitWithoutShutdown.ExitsWhileAThreadTraces",
                  nullptr);
            _exit(127);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "round " << round << ": signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 7) << "round " << round;
    }
}

TEST_F(ExitWithoutShutdown, ExitsWhileAThreadTraces) {
    if (std::getenv(child_variable) == nullptr) GTEST_SKIP() << "run by the test above";
    initialize();
    static std::atomic<int> calls{0};
    std::thread([] {
        for (;;) {
            const quorin_handle_t work = quorin_customservicetracer_create_p("work", "W");
            quorin_tracer_start(work);
            quorin_tracer_end(work);
            calls.fetch_add(1);
        }
    }).detach();
    while (calls.load() < 100) std::this_thread::yield();
    std::exit(7);
}

}  // namespace
