// A one-byte lock for the core's short critical sections (a slot of the object table, the
// record pool, a thread's spares). Contended only when the application uses one object from
// several threads at once, or while a fork is prepared: then it yields instead of burning the
// processor.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace agent_core {

class spin_lock {
  public:
    void lock() {
        for (int attempt = 0; locked_.exchange(true, std::memory_order_acquire); ++attempt) {
            while (locked_.load(std::memory_order_relaxed)) {
                if (++attempt > 64) std::this_thread::yield();
            }
        }
    }
    void unlock() { locked_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> locked_{false};
};

}  // namespace agent_core
