// A fork waits until no other thread is inside an operation on the variable store, so a child
// never inherits the store half-changed, or a variables lock that no thread of its own will
// ever release.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "quorin.h"
#include "support/scoped_state.h"

namespace {

// Runs in the child; a set bit names a failed check. A store whose lock was left held makes
// the child hang until the alarm ends it.
int child_failures() {
    alarm(10);
    int failures = 0;
    if (quorin_stub_set_variable(wide(u"child=1"), 1) != QUORIN_STATUS_OK) failures |= 1;
    if (quorin_stub_set_variable(wide(u"busy=x"), 0) != QUORIN_STATUS_ENTRY_EXISTS) failures |= 2;
    quorin_stub_free_variables();
    return failures;
}

}  // namespace

TEST(ForkVariables, ChildrenForkedDuringStoreOperationsGetAWholeStoreAndAFreeLock) {
    reset_library_state();
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    // Keeps the variables lock busy: each set holds it for one store operation.
    std::thread writer([&] {
        while (!stop.load()) {
            quorin_stub_set_variable(wide(u"busy=x"), 1);
            char16_t text[] = u"va=1";
            for (char16_t name = u'a'; name < u'q'; ++name) {
                text[1] = name;
                quorin_stub_set_variable(wide(text), 1);
            }
            // The lock gives no fairness: let a waiting fork have it between rounds.
            std::this_thread::yield();
            rounds.fetch_add(1);
        }
    });
    while (rounds.load() == 0) std::this_thread::yield();

    constexpr int children = 40;
    int failed_children = 0;
    for (int i = 0; i < children; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) _exit(child_failures());
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed_children;
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(failed_children, 0) << "children that hung or found the store broken";
    reset_library_state();
}
