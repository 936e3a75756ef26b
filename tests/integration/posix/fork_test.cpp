// A child forked while another thread is inside quorin_initialize inherits a lifecycle lock
// that no thread of its own will ever release: every lifecycle call in the child fails with
// the fork-child status instead of waiting forever, and its forwarders are unbound. The
// parent carries on as if nothing happened.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "quorin.h"
#include "support/agent_fixture.h"

namespace {

std::atomic<int32_t> logging_entered{0};
std::atomic<int32_t> logging_proceed{0};

// Holds the initializing thread in the log line that follows the agent's initialization, when
// the agent has stored its function table.
void block_on_success_line(int32_t, const quorin_wchar_t* message) {
    if (to_u16(message) != u"Corvantis Kestrane SDK for C/C++ initialized successfully.") return;
    logging_entered.store(1);
    while (logging_proceed.load() == 0) std::this_thread::yield();
}

// Runs in the child; a set bit names a failed check.
int child_failures(const std::vector<api_row>& rows, const test_agent_control_block& agent) {
    int failures = 0;
    if (quorin_initialize() != QUORIN_STATUS_FORK_CHILD) failures |= 1;
    if (quorin_initialize_2(3) != QUORIN_STATUS_FORK_CHILD) failures |= 2;
    if (quorin_shutdown() != QUORIN_STATUS_FORK_CHILD) failures |= 4;
    const uint64_t calls = agent.call_count.load();
    for (const api_row& row : rows) {
        if (row.call(zero_arguments(row)) != row.unbound) failures |= 8;
    }
    if (agent.call_count.load() != calls) failures |= 16;
    return failures;
}

class ForkChild : public agent_fixture {
  protected:
    void SetUp() override {
        agent_fixture::SetUp();
        logging_entered.store(0);
        logging_proceed.store(0);
    }
};

struct blocking_point {
    const char* name;
    bool in_logging;  // else inside the agent initialize function, before the agent stores
};

}  // namespace

TEST_F(ForkChild, LifecycleCallsFailInsteadOfWaitingAndForwardersAreUnbound) {
    const std::vector<api_row> rows = all_rows();
    const std::vector<blocking_point> points = {
        {"inside the agent initialize function", false},
        {"after the agent stored its function table", true},
    };
    set_home(QUORIN_TEST_HOME);
    for (const blocking_point& point : points) {
        SCOPED_TRACE(point.name);
        reset_agent();
        logging_entered.store(0);
        logging_proceed.store(0);
        if (point.in_logging) {
            quorin_stub_set_logging_callback(block_on_success_line);
        } else {
            agent().block_agent_initialize.store(1);
        }
        std::atomic<quorin_status_t> initialized{QUORIN_STATUS_GENERIC_ERROR};
        std::thread initializer([&initialized] { initialized.store(quorin_initialize()); });
        std::atomic<int32_t>& entered =
            point.in_logging ? logging_entered : agent().agent_initialize_entered;
        while (entered.load() == 0) std::this_thread::yield();

        const pid_t child = fork();
        if (child == 0) {
            alarm(60);  // a child that waits on the inherited lock dies instead of hanging
            _exit(child_failures(rows, agent()));
        }
        (point.in_logging ? logging_proceed : agent().agent_initialize_proceed).store(1);
        initializer.join();
        ASSERT_NE(child, -1);
        int child_status = 0;
        ASSERT_EQ(waitpid(child, &child_status, 0), child);
        ASSERT_TRUE(WIFEXITED(child_status)) << "signal " << WTERMSIG(child_status);
        EXPECT_EQ(WEXITSTATUS(child_status), 0);

        // The parent is untouched: bound, and released normally.
        ASSERT_EQ(initialized.load(), QUORIN_STATUS_OK);
        EXPECT_EQ(quorin_customservicetracer_create_p(nullptr, nullptr),
                  test_agent_handle(test_agent_functions, 38));
        quorin_stub_set_logging_callback(nullptr);
        ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
        EXPECT_EQ(agent().release_calls.load(), 1u);
        EXPECT_EQ(agent().shutdown_calls.load(), 1u);
    }
}
