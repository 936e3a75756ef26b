// The recorder's methods on every call's path, inline: publishing an object, starting a
// tracer and ending it. Apart from recorder.h because they need the call (call.h), which needs
// the recorder.
#pragma once

#include "call.h"
#include "recorder.h"

namespace agent_core {

inline quorin_handle_t recorder::publish(call& c, record_ptr&& record) {
    thread_state& thread = c.thread();
    const quorin_handle_t handle =
        objects.insert(std::move(record), [&thread](object_table& table, uint32_t* index) {
            return thread.spares.take_index(table, index);
        });
    if (handle == 0) refuse_publish(c);
    return handle;
}

// Inlined into the start slots: a call for it would cost about what its common path does.
[[gnu::always_inline]] inline void recorder::start(call& c, object_table::locked&& tracer,
                                                   uint64_t start_us) {
    thread_state& thread = c.thread();
    const nesting_entry* outer = thread.nesting.current();
    object_record& record = *tracer;
    if (!record.explicit_parent && record.has_request_headers &&
        output().reads_headers.load(std::memory_order_relaxed)) {
        adopt_headers(record);
    }
    if (record.explicit_parent) {
        record.context.flags = output().trace_flags(record.context.trace,
                                                    record.has_parent ? &record.context : nullptr);
        record.depth = 0;
        record.root = record.handle;
    } else if (outer != nullptr) {
        record.context = outer->context;
        record.parent = outer->context.span;
        record.has_parent = true;
        record.depth = outer->depth + 1;
        record.root = outer->root;
        if (outer->has_trace_state) inherit_trace_state(record, *outer);
    } else {
        record.context.trace = thread.ids.new_trace();
        const int flags = output().root_flags.load(std::memory_order_relaxed);
        record.context.flags = flags >= 0 ? static_cast<uint8_t>(flags)
                                          : output().trace_flags(record.context.trace, nullptr);
        record.depth = 0;
        record.root = record.handle;
    }
    if (!record.given_ids) record.context.span = thread.ids.new_span();
    record.started = true;
    // Only a recorded tracer's times are read: the clock is not free.
    record.start_us = start_us != 0 || !recorded(record) ? start_us : now_microseconds();
    record.sequence = ++thread.sequence;
    record.thread_claim = thread.claim();
    const nesting_entry entry{record.handle, tracer.mark(), record.root,           record.context,
                              record.depth,  record.tracer, record.has_trace_state};
    tracer.unlock();
    if (!thread.nesting.push(entry) && !thread.nesting.depth_reported)
        report_depth(c, entry.handle);
}

inline record_ptr recorder::remove(call& c, object_table::locked&& object) {
    thread_spares& spares = c.thread().spares;
    return object.take(
        [&spares](object_table& table, uint32_t index) { return spares.keep_index(table, index); });
}

inline void recorder::end(call& c, object_table::locked&& tracer, uint64_t end_us) {
    thread_state& thread = c.thread();
    record_ptr record = remove(c, std::move(tracer));
    if (record->started && record->thread_claim == thread.claim())
        thread.nesting.remove(record->handle);
    record->state = record->started ? end_state::ended : end_state::never_started;
    record->end_us = end_us;
    c.write_warnings();
    if (record->from_parent ||
        (output().ignores_unrecorded && !(record->started && recorded(*record)))) {
        recycle_record(record.release(), &thread.spares);
        return;
    }
    output().tracer_ended(std::move(record));
}

}  // namespace agent_core
