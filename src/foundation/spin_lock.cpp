#include "foundation/spin_lock.h"

#include "platform/platform.h"

namespace {
// Waiters spin this many steps, then sleep 1 ms per step for the rest of the acquisition.
constexpr uint64_t spin_steps = 1000;
}  // namespace

void spin_lock_acquire(spin_lock* lock) {
    uint64_t step = 0;
    for (;;) {
        uint32_t expected = 0;
        if (lock->compare_exchange_strong(expected, 1, std::memory_order_seq_cst)) return;
        do {
            if (step < spin_steps) {
                platform_cpu_pause();
            } else {
                platform_sleep_1ms();
            }
            ++step;
        } while (lock->load(std::memory_order_relaxed) != 0);
    }
}

void spin_lock_release(spin_lock* lock) { lock->store(0, std::memory_order_release); }
