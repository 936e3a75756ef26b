// The life of a record: taken from the calling thread's spares, else from the pool that every
// thread shares, and reset; published under a handle; handed to the output when its tracer
// ends; and recycled when its owner drops it, on whatever thread that is: into that thread's
// spares while they have room, else into the shared pool, which keeps records within a number
// and a size. Records keep the memory they grew, so that steady tracing allocates nothing.
#pragma once

#include <cstddef>
#include <memory>

#include "object_record.h"
#include "thread_spares.h"

namespace agent_core {

// A record whose texts grew beyond this is freed when dropped, not kept for reuse.
inline constexpr size_t spare_text_bytes = 16 * 1024;
// Most memory the records in the shared pool hold together (object_record::memory_bytes).
inline constexpr size_t pooled_record_bytes = 8u << 20;

// Recycles a record into the spares of the calling thread's state, if it has one
// (recycle_record).
void recycle_dropped_record(object_record* record);
struct record_recycler {
    // Inline, passing no deleter out: a record_ptr then stays in registers.
    void operator()(object_record* record) const { recycle_dropped_record(record); }
};
// An output that receives a finished tracer owns it until it drops the pointer.
using record_ptr = std::unique_ptr<object_record, record_recycler>;

// A cleared record of that kind from the shared pool, else a new one.
record_ptr new_pooled_record(object_kind kind);
// A cleared record of that kind from the spares, else from the shared pool. Inline: every
// object's record is taken so.
inline record_ptr new_record(object_kind kind, thread_spares& spares) {
    object_record* spare = spares.take_record();
    if (spare == nullptr) return new_pooled_record(kind);
    spare->reset(kind);
    return record_ptr(spare);
}

// Hands a record to the pool that every thread shares; the pool frees it when it is too large
// or the pool is full.
void pool_record(object_record* record);
// Keeps a dropped record among the spares given (the dropping thread's; null when it has
// none) while they have room, else pools it. Inline: an unrecorded tracer's record is
// recycled so at its end.
inline void recycle_record(object_record* record, thread_spares* own) {
    if (record->text_bytes_kept() <= spare_text_bytes && own != nullptr &&
        own->keep_record(record)) {
        return;
    }
    pool_record(record);
}

// Frees the records the pool keeps (at release).
void trim_record_pool();
// Fork: held from before the fork until after it, in parent and child.
void lock_record_pool();
void unlock_record_pool();

}  // namespace agent_core
