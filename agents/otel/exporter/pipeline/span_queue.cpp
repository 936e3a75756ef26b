#include "span_queue.h"

namespace otel {

struct span_queue::pooled_span : otlp_span {
    uint64_t kept_bytes = 0;  // while in the free list
};

span_queue::span_queue(uint32_t max_spans, uint64_t max_bytes, uint32_t max_batch,
                       const span_maker* maker)
    : max_spans_(max_spans),
      max_bytes_(max_bytes),
      // A batch under way, or everything queued when it is given up at shutdown.
      pool_limit_(size_t{max_spans} + max_batch),
      maker_(maker),
      queued_sources_(maker != nullptr ? max_spans : 1) {
    free_.reserve(pool_limit_);
}

span_queue::~span_queue() {
    while (span_source* source = queued_sources_.pop()) maker_->release(source);
}

otlp_span* span_queue::reuse_or_allocate() {
    if (!free_.empty()) {
        pooled_span* span = free_.back();
        free_.pop_back();
        kept_bytes_ -= span->kept_bytes;
        span->kept_bytes = 0;
        return span;
    }
    if (owned_.size() >= pool_limit_) {
        dropped_.add(1);
        return nullptr;
    }
    try {
        owned_.push_back(std::make_unique<pooled_span>());
        return owned_.back().get();
    } catch (...) {
        dropped_.add(1);
        return nullptr;
    }
}

size_t span_queue::submit_deferred(span_source* source) {
    if (maker_ == nullptr || queued_.load(std::memory_order_relaxed) >= max_spans_) {
        dropped_.add(1);
        return 0;
    }
    const uint64_t counted = maker_->bytes(*source);
    const size_t count = queued_.fetch_add(1, std::memory_order_relaxed) + 1;
    const uint64_t bytes = queued_bytes_.fetch_add(counted, std::memory_order_relaxed) + counted;
    // The newest span is the one dropped; counts over the bound are taken back.
    if (count > max_spans_ || bytes > max_bytes_ || !queued_sources_.push(source)) {
        queued_.fetch_sub(1, std::memory_order_relaxed);
        queued_bytes_.fetch_sub(counted, std::memory_order_relaxed);
        dropped_.add(1);
        return 0;
    }
    return count;
}

otlp_span* span_queue::make_deferred(span_source* source) {
    otlp_span* span = reuse_or_allocate();
    if (span != nullptr) {
        try {
            maker_->fill(*source, *span);
        } catch (...) {
            // Out of memory: the span is lost.
            recycle(span);
            dropped_.add(1);
            span = nullptr;
        }
    }
    maker_->release(source);
    return span;
}

size_t span_queue::take(std::vector<otlp_span*>& batch, size_t most) {
    size_t taken = 0;
    while (taken < most) {
        span_source* source = queued_sources_.pop();
        if (source == nullptr) break;
        queued_.fetch_sub(1, std::memory_order_relaxed);
        queued_bytes_.fetch_sub(maker_->bytes(*source), std::memory_order_relaxed);
        if (otlp_span* span = make_deferred(source)) {
            batch.push_back(span);
            ++taken;
        }
    }
    return taken;
}

void span_queue::recycle(otlp_span* span) {
    auto* pooled = static_cast<pooled_span*>(span);
    pooled->clear();
    // Past the share of the byte bound that waiting spans may keep, this one keeps nothing.
    const uint64_t held = pooled->content_bytes();
    if (kept_bytes_ + held > max_bytes_ / 4) {
        pooled->clear(0);
        pooled->kept_bytes = 0;
    } else {
        kept_bytes_ += held;
        pooled->kept_bytes = held;
    }
    // Reserved for every span the pool may own, so this cannot fail.
    free_.push_back(pooled);
}

}  // namespace otel
