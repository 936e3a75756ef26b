// The spin lock with more threads than processors, where waiters use up their spinning steps
// and fall back to sleeping: it still admits one thread at a time, loses no increment and
// serves every waiter within a bounded time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "foundation/spin_lock.h"
#include "support/run_together.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Generous: a run takes well under a second natively and a few seconds under TSan.
constexpr auto wall_time_bound = std::chrono::seconds(60);

int oversubscribed_thread_count() {
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<int>(std::max(8u, 4 * processors));
}

struct guarded_counter {
    spin_lock lock{0};
    uint64_t value = 0;  // plain on purpose: only the lock guards it
    uint64_t holders = 0;
    uint64_t overlaps = 0;

    void increment(bool yield_inside) {
        spin_lock_acquire(&lock);
        if (++holders != 1) ++overlaps;
        // Giving up the processor while holding the lock makes the others wait long enough to
        // reach their sleeping steps.
        if (yield_inside) std::this_thread::yield();
        ++value;
        --holders;
        spin_lock_release(&lock);
    }
};

}  // namespace

TEST(SpinLockStressConcurrency, OversubscribedThreadsLoseNoIncrement) {
    const int thread_count = oversubscribed_thread_count();
    constexpr int acquisitions = 10000;
    guarded_counter counter;
    const auto start = clock_type::now();
    run_together(thread_count, [&](int) {
        for (int i = 0; i < acquisitions; ++i) counter.increment(i % 16 == 0);
    });
    const auto elapsed = clock_type::now() - start;

    EXPECT_EQ(counter.value, uint64_t(thread_count) * acquisitions);
    EXPECT_EQ(counter.overlaps, 0u);
    EXPECT_EQ(counter.lock.load(), 0u);
    EXPECT_LT(elapsed, wall_time_bound);
    std::printf("[ figures  ] %d threads x %d acquisitions in %.2f s\n", thread_count, acquisitions,
                std::chrono::duration<double>(elapsed).count());
}

TEST(SpinLockStressConcurrency, WaitersThatFellBackToSleepingStillGetTheLock) {
    const int waiter_count = oversubscribed_thread_count();
    guarded_counter counter;
    std::atomic<int> waiting{0};
    spin_lock_acquire(&counter.lock);
    std::vector<std::thread> waiters;
    for (int t = 0; t < waiter_count; ++t) {
        waiters.emplace_back([&] {
            waiting.fetch_add(1);
            counter.increment(false);
            counter.increment(false);
        });
    }
    while (waiting.load() != waiter_count) std::this_thread::yield();
    // Held well past the 1000 spinning steps of every waiter: they all sleep between reads now.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(counter.value, 0u);
    const auto start = clock_type::now();
    spin_lock_release(&counter.lock);
    for (std::thread& waiter : waiters) waiter.join();
    const auto elapsed = clock_type::now() - start;

    EXPECT_EQ(counter.value, uint64_t(waiter_count) * 2);
    EXPECT_EQ(counter.overlaps, 0u);
    EXPECT_LT(elapsed, wall_time_bound);
}
