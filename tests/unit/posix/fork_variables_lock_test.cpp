// A fork waits until no other thread is inside an operation on the variable store, so a child
// never inherits the store half-changed, or a variables lock that no thread of its own will
// ever release.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "config/variable_store.h"
#include "quorin.h"
#include "support/scoped_state.h"

TEST(ForkVariables, AForkWaitsForTheVariablesLockSoTheChildCanUseTheStore) {
    reset_library_state();
    ASSERT_EQ(quorin_stub_set_variable(wide(u"before=1"), 1), QUORIN_STATUS_OK);
    std::atomic<bool> holding{false};
    std::atomic<bool> forked{false};
    // Holds the lock across the fork: until the parent has forked, or, when the fork waits for
    // the lock as it should, for a bounded time.
    std::thread holder([&] {
        variables_lock_and_read();
        holding.store(true);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (!forked.load() && std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
        }
        variables_unlock();
    });
    while (!holding.load()) std::this_thread::yield();

    const pid_t child = fork();
    if (child == 0) {
        // A lock left held makes the child wait until the alarm ends it.
        alarm(10);
        int failures = 0;
        if (quorin_stub_set_variable(wide(u"child=1"), 1) != QUORIN_STATUS_OK) failures |= 1;
        if (quorin_stub_set_variable(wide(u"before=2"), 0) != QUORIN_STATUS_ENTRY_EXISTS) {
            failures |= 2;
        }
        _exit(failures);
    }
    forked.store(true);
    holder.join();
    ASSERT_GE(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the child hung on the variables lock";
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    reset_library_state();
}
