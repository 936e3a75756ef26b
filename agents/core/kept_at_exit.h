// The module's long-lived objects (the recorder, the record pool, the output) as a process
// that exits with the agent still bound leaves them: not destroyed. At that moment other
// threads may still call into the agent (POSIX runs static destructors from exit() while they
// run), or they are gone, perhaps holding locks and with the heap in an inconsistent state
// (Windows runs them in DLL_PROCESS_DETACH): nothing is freed, nothing waited for, and what is
// queued is delivered only by the agent's release. A module unloaded after the release
// destroys them as usual.
#pragma once

#include <atomic>
#include <utility>

namespace agent_core {

// Whether the agent is initialized and not released. Constant-initialized and never
// destroyed, so static destructors may read it.
inline constinit std::atomic<bool> agent_bound{false};

template <typename T>
union kept_at_exit {
    T value;

    template <typename... Args>
    explicit kept_at_exit(Args&&... args) : value(std::forward<Args>(args)...) {}
    ~kept_at_exit() {
        if (!agent_bound.load(std::memory_order_acquire)) value.~T();
    }
    kept_at_exit(const kept_at_exit&) = delete;
    kept_at_exit& operator=(const kept_at_exit&) = delete;
};

}  // namespace agent_core
