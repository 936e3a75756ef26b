// The values through which every forwarder reaches the agent. The agent writes the context
// and the table pointer through their addresses during its initialize function, and each
// extension pointer through extension_interface_get; the lifecycle clears them.
#pragma once

#include <atomic>

#include "platform/platform.h"

static_assert(sizeof(std::atomic<void*>) == sizeof(void*) &&
                  std::atomic<void*>::is_always_lock_free,
              "the agent stores these through plain pointer addresses");

extern PLATFORM_HIDDEN std::atomic<void*> agent_context;
// Null while unbound: every forwarder tests this first.
extern PLATFORM_HIDDEN std::atomic<void*> agent_function_table;

extern PLATFORM_HIDDEN std::atomic<void*> metrics_interface;
extern PLATFORM_HIDDEN std::atomic<void*> serverless_interface;
extern PLATFORM_HIDDEN std::atomic<void*> span_interface;
extern PLATFORM_HIDDEN std::atomic<void*> techtype_interface;
extern PLATFORM_HIDDEN std::atomic<void*> tracer_ext_interface;

// The address the agent writes through.
inline void** agent_value_address(std::atomic<void*>* value) {
    return reinterpret_cast<void**>(value);
}

// Empties the context, the table pointer and all five extension pointers, so that no
// forwarder reaches the agent module any more.
void agent_values_clear();
