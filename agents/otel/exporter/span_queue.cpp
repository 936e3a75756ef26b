#include "span_queue.h"

namespace otel {

struct span_queue::pooled_span : otlp_span {
    const span_queue* home = nullptr;
    uint64_t counted_bytes = 0;
    uint64_t kept_bytes = 0;  // while in the free ring
};

namespace {
// Records that producers hold between acquire and submit, beyond the queue and one batch.
constexpr size_t producer_slack = 64;
}  // namespace

span_queue::span_queue(uint32_t max_spans, uint64_t max_bytes, uint32_t max_batch,
                       deferred_span_hooks deferred)
    : max_spans_(max_spans),
      max_bytes_(max_bytes),
      pool_limit_(size_t{max_spans} + max_batch + producer_slack),
      free_(pool_limit_),
      queued_records_(max_spans),
      deferred_(deferred),
      queued_sources_(deferred.fill != nullptr ? max_spans : 1) {}

span_queue::~span_queue() {
    while (void* source = queued_sources_.pop()) deferred_.release(source);
}

bool span_queue::owns(otlp_span* record) const {
    return record != nullptr && static_cast<pooled_span*>(record)->home == this;
}

otlp_span* span_queue::acquire() {
    // A span that finds the queue full is dropped before anyone fills it.
    if (queued_.load(std::memory_order_relaxed) >= max_spans_) {
        dropped_.add(1);
        return nullptr;
    }
    return reuse_or_allocate();
}

otlp_span* span_queue::reuse_or_allocate() {
    if (pooled_span* record = free_.pop()) {
        kept_bytes_.fetch_sub(record->kept_bytes, std::memory_order_relaxed);
        record->kept_bytes = 0;
        return record;
    }
    return allocate();
}

otlp_span* span_queue::allocate() {
    if (allocated_.fetch_add(1, std::memory_order_relaxed) >= pool_limit_) {
        allocated_.fetch_sub(1, std::memory_order_relaxed);
        dropped_.add(1);
        return nullptr;
    }
    try {
        auto record = std::make_unique<pooled_span>();
        record->home = this;
        pooled_span* raw = record.get();
        std::lock_guard<std::mutex> lock(owned_mutex_);
        owned_.push_back(std::move(record));
        return raw;
    } catch (...) {
        allocated_.fetch_sub(1, std::memory_order_relaxed);
        dropped_.add(1);
        return nullptr;
    }
}

size_t span_queue::submit(otlp_span* record) {
    if (!owns(record)) {
        // Not from this pool (a record acquired before a fork, say): counted, never touched.
        if (record != nullptr) dropped_.add(1);
        return 0;
    }
    auto* pooled = static_cast<pooled_span*>(record);
    pooled->counted_bytes = pooled->content_bytes();
    const size_t count = queued_.fetch_add(1, std::memory_order_relaxed) + 1;
    const uint64_t bytes =
        queued_bytes_.fetch_add(pooled->counted_bytes, std::memory_order_relaxed) +
        pooled->counted_bytes;
    // The newest span is the one dropped; counts over the bound are taken back.
    if (count > max_spans_ || bytes > max_bytes_ || !queued_records_.push(pooled)) {
        queued_.fetch_sub(1, std::memory_order_relaxed);
        queued_bytes_.fetch_sub(pooled->counted_bytes, std::memory_order_relaxed);
        dropped_.add(1);
        recycle(pooled);
        return 0;
    }
    return count;
}

void span_queue::discard(otlp_span* record) {
    if (owns(record)) recycle(record);
}

size_t span_queue::submit_deferred(void* source) {
    if (deferred_.fill == nullptr || queued_.load(std::memory_order_relaxed) >= max_spans_) {
        dropped_.add(1);
        return 0;
    }
    const uint64_t counted = deferred_.bytes(source);
    const size_t count = queued_.fetch_add(1, std::memory_order_relaxed) + 1;
    const uint64_t bytes = queued_bytes_.fetch_add(counted, std::memory_order_relaxed) + counted;
    if (count > max_spans_ || bytes > max_bytes_ || !queued_sources_.push(source)) {
        queued_.fetch_sub(1, std::memory_order_relaxed);
        queued_bytes_.fetch_sub(counted, std::memory_order_relaxed);
        dropped_.add(1);
        return 0;
    }
    return count;
}

otlp_span* span_queue::make_deferred(void* source) {
    otlp_span* span = reuse_or_allocate();
    if (span != nullptr) {
        try {
            deferred_.fill(source, *span);
        } catch (...) {
            // Out of memory: the span is lost.
            recycle(span);
            dropped_.add(1);
            span = nullptr;
        }
    }
    deferred_.release(source);
    return span;
}

size_t span_queue::take(std::vector<otlp_span*>& batch, size_t most) {
    size_t taken = 0;
    while (taken < most) {
        pooled_span* record = queued_records_.pop();
        if (record == nullptr) break;
        queued_.fetch_sub(1, std::memory_order_relaxed);
        queued_bytes_.fetch_sub(record->counted_bytes, std::memory_order_relaxed);
        batch.push_back(record);
        ++taken;
    }
    while (taken < most) {
        void* source = queued_sources_.pop();
        if (source == nullptr) break;
        queued_.fetch_sub(1, std::memory_order_relaxed);
        queued_bytes_.fetch_sub(deferred_.bytes(source), std::memory_order_relaxed);
        if (otlp_span* span = make_deferred(source)) {
            batch.push_back(span);
            ++taken;
        }
    }
    return taken;
}

void span_queue::recycle(otlp_span* record) {
    auto* pooled = static_cast<pooled_span*>(record);
    pooled->clear();
    // Past the share of the byte bound that waiting records may keep, this one keeps nothing.
    const uint64_t held = pooled->content_bytes();
    if (kept_bytes_.fetch_add(held, std::memory_order_relaxed) + held > max_bytes_ / 4) {
        kept_bytes_.fetch_sub(held, std::memory_order_relaxed);
        pooled->clear(0);
        pooled->kept_bytes = 0;
    } else {
        pooled->kept_bytes = held;
    }
    // The free ring holds every record the pool may own, so this cannot fail.
    free_.push(pooled);
}

}  // namespace otel
