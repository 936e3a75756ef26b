// The bodies that every forwarder is generated from. A row gives the slot, the result type,
// the parameters (with names), the arguments, and the unbound result (empty for none).
#pragma once

#include <atomic>

#include "api/agent_binding.h"

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
        if (table == nullptr) return unbound;                                                \
        return reinterpret_cast<slot_function>(table[slot]) QUORIN_WITH_CONTEXT_ARGS args;   \
    }

// As above, with the extension interface tested before the table pointer; the slot is taken
// from the interface.
#define QUORIN_EXTENSION_FORWARD(interface, slot, result_type, params, args, unbound)          \
    {                                                                                          \
        using slot_function = result_type(*) QUORIN_WITH_CONTEXT_PARAMS params;                \
        void* const* functions =                                                               \
            static_cast<void* const*>(interface.load(std::memory_order_acquire));              \
        if (functions == nullptr) return unbound;                                              \
        if (agent_function_table.load(std::memory_order_relaxed) == nullptr) return unbound;   \
        return reinterpret_cast<slot_function>(functions[slot]) QUORIN_WITH_CONTEXT_ARGS args; \
    }
