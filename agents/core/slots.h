// The agent's side of every slot of the function table and of the extension interfaces, and
// the helpers the slot files share. The declarations come from the library's own lists of
// exports, so a slot whose parameters disagree with its export does not link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "call.h"
#include "quorin.h"
#include "recorder_inline.h"

#define AGENT_SLOT_PARAMS(...) (void* context __VA_OPT__(, ) __VA_ARGS__)

namespace agent_core::slots {

#define QUORIN_CORE(slot, result_type, name, params, args, unbound) \
    result_type name AGENT_SLOT_PARAMS params;
#include "core_api.inc"
#undef QUORIN_CORE

#define QUORIN_EXTENSION(interface, slot, result_type, name, params, args, unbound) \
    result_type name AGENT_SLOT_PARAMS params;
#include "extension_api.inc"
#undef QUORIN_EXTENSION

// Slot 0 is never called by the library; slot 1 releases the agent; slot 2 has no export.
void unused_slot(void* context);
void release(void* context);
uint32_t reserved_slot(void* context, uint32_t first, uint32_t second, uint64_t third,
                       uint64_t fourth);

}  // namespace agent_core::slots

namespace agent_core {

// Publishes a new tracer of the kind, built by the caller.
inline quorin_handle_t publish_tracer(call& c, record_ptr&& tracer) {
    const quorin_handle_t handle = c.core().publish(c, std::move(tracer));
    c.detail(" -> tracer %llu", static_cast<unsigned long long>(handle));
    return handle;
}
inline record_ptr new_tracer(const call& c, tracer_kind kind) {
    record_ptr tracer = c.new_record(object_kind::tracer);
    tracer->tracer = kind;
    return tracer;
}

// Warns "tracer <handle> <what>".
void warn_about_tracer(call& c, const char* what, quorin_handle_t handle);

// The tracer, locked, when it may start; empty (with a warning) otherwise.
inline object_table::locked startable_tracer(call& c, quorin_handle_t handle) {
    object_table::locked tracer = c ? c.tracer(handle) : object_table::locked();
    if (tracer && tracer->started) {
        tracer.unlock();
        warn_about_tracer(c, "was started already", handle);
    }
    return tracer;
}

// Ends the tracer at end_us (0: now); an end before the start is moved to it, and reported when
// the application gave it.
inline void end_tracer(call& c, quorin_handle_t handle, uint64_t end_us) {
    object_table::locked tracer = c ? c.tracer(handle) : object_table::locked();
    if (!tracer) return;
    if (!tracer->started) warn_about_tracer(c, "ended without a start", handle);
    uint64_t end = end_us;
    if (end == 0)
        end = tracer->started && !recorded(*tracer) ? tracer->start_us : now_microseconds();
    if (tracer->started && end < tracer->start_us) {
        // A clock that was set back is not the application's doing: only a time it gave is.
        if (end_us != 0) c.warn("the end time lies before the start time");
        end = tracer->start_us;
    }
    c.core().end(c, std::move(tracer), end);
}

}  // namespace agent_core
