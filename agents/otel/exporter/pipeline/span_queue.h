// The spans between the application's threads and the exporter thread: a bounded queue of what
// the producers hand over unmade (the sources), bounded both in spans and in bytes, and the
// consumer's pool of spans that keep their memory, made of the sources as they are taken. The
// spans waiting for reuse keep their buffers only up to a quarter of the byte bound, so what the
// pool holds stays near that bound however the spans' sizes vary. Producers never wait: when
// the queue is full the span is dropped and counted.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "bounded_ring.h"
#include "otlp_model.h"
#include "striped_counter.h"

namespace otel {

// What a producer hands over unmade (a finished tracer's record, say): the exporter never looks
// inside it, only hands it to the span_maker it was given.
struct span_source;

// How the consumer makes a span of a source, so that the producer's thread does not pay for
// making it: the source's memory (for the byte bound, the same every time it is asked), filling
// a span from it, and letting it go, filled or not. Each is called once the producer handed the
// source over, on any thread. The agent gives the exporter one that outlives it.
class span_maker {
  public:
    virtual size_t bytes(const span_source& source) const = 0;
    virtual void fill(const span_source& source, otlp_span& span) const = 0;
    virtual void release(span_source* source) const = 0;

  protected:
    ~span_maker() = default;
};

class span_queue {
  public:
    span_queue(uint32_t max_spans, uint64_t max_bytes, uint32_t max_batch, const span_maker* maker);
    ~span_queue();
    span_queue(const span_queue&) = delete;
    span_queue& operator=(const span_queue&) = delete;

    // Producers. Returns the number of queued spans afterwards, 0 when the span was dropped
    // (queue full by spans or by bytes, or no maker to make it with): its source stays with the
    // caller.
    size_t submit_deferred(span_source* source);

    // The consumer, one thread at a time: up to `most` spans made of the sources in submission
    // order (per producer), handed back with recycle once encoded.
    size_t take(std::vector<otlp_span*>& batch, size_t most);
    void recycle(otlp_span* span);

    size_t size() const { return queued_.load(std::memory_order_relaxed); }
    // Whether more than three quarters of the bound (in spans or in bytes) are queued: the
    // exporter then runs at the application's priority until it is back under the mark.
    bool above_high_water() const {
        return uint64_t{size()} * 4 > uint64_t{max_spans_} * 3 ||
               queued_bytes_.load(std::memory_order_relaxed) > max_bytes_ / 4 * 3;
    }
    uint64_t dropped() const { return dropped_.get(); }
    uint32_t max_spans() const { return max_spans_; }

  private:
    struct pooled_span;
    // A span from the pool, else a new one; null (counted as dropped) when none is had.
    otlp_span* reuse_or_allocate();
    // The consumer's span made of a source, null (counted as dropped) when none is had.
    otlp_span* make_deferred(span_source* source);

    const uint32_t max_spans_;
    const uint64_t max_bytes_;
    const size_t pool_limit_;
    const span_maker* const maker_;
    bounded_ring<span_source> queued_sources_;
    std::atomic<size_t> queued_{0};
    std::atomic<uint64_t> queued_bytes_{0};
    // Written by every producer while the queue is full.
    striped_counter dropped_;
    // The consumer's alone.
    uint64_t kept_bytes_ = 0;  // held by the spans in free_
    std::vector<pooled_span*> free_;
    std::vector<std::unique_ptr<pooled_span>> owned_;
};

}  // namespace otel
