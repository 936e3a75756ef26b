// The values through which every forwarder reaches the agent. The agent writes the context
// and the table pointer through their addresses during its initialize function; each
// extension pointer is stored by extension_interface_get; the lifecycle clears them.
#pragma once

#include <atomic>

#include "platform/platform.h"

static_assert(sizeof(std::atomic<void*>) == sizeof(void*) &&
                  std::atomic<void*>::is_always_lock_free,
              "the agent stores these through plain pointer addresses");

// All on one cache line of their own, which nothing else shares: lifecycle calls and the
// lock they take on other threads do not evict what every forwarder reads.
struct alignas(64) agent_values {
    std::atomic<void*> function_table;  // null while unbound: every forwarder tests this first
    std::atomic<void*> context;
    std::atomic<void*> metrics;
    std::atomic<void*> serverless;
    std::atomic<void*> span;
    std::atomic<void*> techtype;
    std::atomic<void*> tracer_ext;
};
static_assert(sizeof(agent_values) == 64);

extern PLATFORM_HIDDEN agent_values agent_reach;

inline constexpr std::atomic<void*>& agent_function_table = agent_reach.function_table;
inline constexpr std::atomic<void*>& agent_context = agent_reach.context;
inline constexpr std::atomic<void*>& metrics_interface = agent_reach.metrics;
inline constexpr std::atomic<void*>& serverless_interface = agent_reach.serverless;
inline constexpr std::atomic<void*>& span_interface = agent_reach.span;
inline constexpr std::atomic<void*>& techtype_interface = agent_reach.techtype;
inline constexpr std::atomic<void*>& tracer_ext_interface = agent_reach.tracer_ext;

// The address the agent writes through.
inline void** agent_value_address(std::atomic<void*>* value) {
    return reinterpret_cast<void**>(value);
}

// Empties the context, the table pointer and all five extension pointers, so that no
// forwarder reaches the agent module any more.
void agent_values_clear();
