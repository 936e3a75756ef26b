// The bodies that every forwarder is generated from. A row gives the slot, the result type,
// the parameters (with names), the arguments, and the unbound result (empty for none).
#pragma once

#include <atomic>

#include "api/agent_binding.h"

// The unbound path is laid out right after the test and the bound path at the branch target.
// In this order the compiler keeps the bound path's argument moves behind the test, where
// the unbound path does not pay for them, and the bound path measured fastest. (The unbound
// answers take the export's own parameters, so their path moves no argument either.)
#define QUORIN_IS_NULL(pointer) __builtin_expect((pointer) == nullptr, 1)

#define QUORIN_WITH_CONTEXT_PARAMS(...) (void* context __VA_OPT__(, ) __VA_ARGS__)
#define QUORIN_WITH_CONTEXT_ARGS(...) \
    (agent_context.load(std::memory_order_relaxed) __VA_OPT__(, ) __VA_ARGS__)

// Reads the table pointer once; unbound returns the default, bound tail-calls the slot with
// the context in front of the caller's arguments.
#define QUORIN_CORE_FORWARD(slot, result_type, params, args, unbound)                        \
    {                                                                                        \
        using slot_function = result_type(*) QUORIN_WITH_CONTEXT_PARAMS params;              \
        void* const* table =                                                                 \
            static_cast<void* const*>(agent_function_table.load(std::memory_order_acquire)); \
        if (QUORIN_IS_NULL(table)) return unbound;                                           \
        return reinterpret_cast<slot_function>(table[slot]) QUORIN_WITH_CONTEXT_ARGS args;   \
    }

// As above, with the extension interface tested before the table pointer; the slot is taken
// from the interface.
#define QUORIN_EXTENSION_FORWARD(interface, slot, result_type, params, args, unbound)             \
    {                                                                                             \
        using slot_function = result_type(*) QUORIN_WITH_CONTEXT_PARAMS params;                   \
        void* const* functions =                                                                  \
            static_cast<void* const*>(interface.load(std::memory_order_acquire));                 \
        if (QUORIN_IS_NULL(functions)) return unbound;                                            \
        if (QUORIN_IS_NULL(agent_function_table.load(std::memory_order_relaxed))) return unbound; \
        return reinterpret_cast<slot_function>(functions[slot]) QUORIN_WITH_CONTEXT_ARGS args;    \
    }
