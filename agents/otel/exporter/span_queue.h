// The spans between the application's threads and the exporter thread: a pool of records
// that keep their memory, and a bounded queue of finished records or of what the exporter
// thread makes them of, bounded both in spans and in bytes. The records waiting for reuse keep
// their buffers only up to a quarter of the byte bound, so what the pool holds stays near that
// bound however the spans' sizes vary. Producers never wait: when the pool or the queue is full the
// span is dropped and counted.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "bounded_ring.h"
#include "otlp_model.h"
#include "striped_counter.h"

namespace otel {

// How the consumer makes a span of what a producer handed over unmade (a deferred span), so
// that the producer's thread does not pay for making it: the source's memory (for the byte
// bound, the same every time it is asked), filling a span from it, and letting it go, filled
// or not. Each is called once the producer handed the source over, on any thread.
struct deferred_span_hooks {
    size_t (*bytes)(const void* source) = nullptr;
    void (*fill)(const void* source, otlp_span& span) = nullptr;
    void (*release)(void* source) = nullptr;
};

class span_queue {
  public:
    span_queue(uint32_t max_spans, uint64_t max_bytes, uint32_t max_batch,
               deferred_span_hooks deferred = {});
    ~span_queue();
    span_queue(const span_queue&) = delete;
    span_queue& operator=(const span_queue&) = delete;

    // Producers. A record comes cleared; a null record means the queue is full or no record
    // was free (counted as a dropped span). The queue owns the record again after submit or
    // discard.
    otlp_span* acquire();
    // Returns the number of queued spans afterwards, 0 when the span was dropped (queue full
    // by spans or by bytes), or a record that is not this queue's.
    size_t submit(otlp_span* record);
    void discard(otlp_span* record);
    // A deferred span; as submit, and a dropped span's source stays with the caller.
    size_t submit_deferred(void* source);

    // The consumer: up to `most` spans in submission order (per producer), handed back with
    // recycle once encoded. Deferred spans are made here, after the records submitted.
    size_t take(std::vector<otlp_span*>& batch, size_t most);
    void recycle(otlp_span* record);

    size_t size() const { return queued_.load(std::memory_order_relaxed); }
    uint64_t bytes() const { return queued_bytes_.load(std::memory_order_relaxed); }
    uint64_t dropped() const { return dropped_.get(); }
    uint32_t max_spans() const { return max_spans_; }

  private:
    struct pooled_span;
    bool owns(otlp_span* record) const;
    // A new record while the pool may grow; out of line, as the pool grows only at first.
    [[gnu::noinline]] otlp_span* allocate();
    // A record from the free ring, else a new one; null (counted) when the pool is full.
    otlp_span* reuse_or_allocate();
    // The consumer's span made of a deferred one, null (counted as dropped) when none is had.
    otlp_span* make_deferred(void* source);

    const uint32_t max_spans_;
    const uint64_t max_bytes_;
    const size_t pool_limit_;
    std::atomic<uint64_t> kept_bytes_{0};  // held by the records in free_
    bounded_ring<pooled_span> free_;
    bounded_ring<pooled_span> queued_records_;
    const deferred_span_hooks deferred_;
    bounded_ring<void> queued_sources_;
    std::atomic<size_t> allocated_{0};
    std::atomic<size_t> queued_{0};
    std::atomic<uint64_t> queued_bytes_{0};
    // Written by every producer while the queue is full.
    striped_counter dropped_;
    std::mutex owned_mutex_;  // taken only while the pool grows
    std::vector<std::unique_ptr<pooled_span>> owned_;
};

}  // namespace otel
