// A bounded lock-free ring of pointers for many producers and consumers (D. Vyukov's
// sequence-numbered cells): a push or a pop claims its cell with one compare-and-swap and
// fails at once when the ring is full or empty. Never blocks, never allocates after
// construction.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace otel {

template <typename T>
class bounded_ring {
  public:
    explicit bounded_ring(size_t minimum_capacity) {
        size_t capacity = 2;
        while (capacity < minimum_capacity) capacity *= 2;
        cells_ = std::make_unique<cell[]>(capacity);
        mask_ = capacity - 1;
        for (size_t i = 0; i < capacity; ++i)
            cells_[i].sequence.store(i, std::memory_order_relaxed);
    }

    bool push(T* value) {
        size_t position = tail_.load(std::memory_order_relaxed);
        for (;;) {
            cell& c = cells_[position & mask_];
            const size_t sequence = c.sequence.load(std::memory_order_acquire);
            const auto difference =
                static_cast<std::ptrdiff_t>(sequence) - static_cast<std::ptrdiff_t>(position);
            if (difference == 0) {
                if (tail_.compare_exchange_weak(position, position + 1,
                                                std::memory_order_relaxed)) {
                    c.value = value;
                    c.sequence.store(position + 1, std::memory_order_release);
                    return true;
                }
            } else if (difference < 0) {
                return false;  // full
            } else {
                position = tail_.load(std::memory_order_relaxed);
            }
        }
    }

    T* pop() {
        size_t position = head_.load(std::memory_order_relaxed);
        for (;;) {
            cell& c = cells_[position & mask_];
            const size_t sequence = c.sequence.load(std::memory_order_acquire);
            const auto difference =
                static_cast<std::ptrdiff_t>(sequence) - static_cast<std::ptrdiff_t>(position + 1);
            if (difference == 0) {
                if (head_.compare_exchange_weak(position, position + 1,
                                                std::memory_order_relaxed)) {
                    T* value = c.value;
                    c.sequence.store(position + mask_ + 1, std::memory_order_release);
                    return value;
                }
            } else if (difference < 0) {
                return nullptr;  // empty
            } else {
                position = head_.load(std::memory_order_relaxed);
            }
        }
    }

    size_t capacity() const { return mask_ + 1; }

  private:
    struct cell {
        std::atomic<size_t> sequence{0};
        T* value = nullptr;
    };
    std::unique_ptr<cell[]> cells_;
    size_t mask_ = 0;
    alignas(64) std::atomic<size_t> tail_{0};
    alignas(64) std::atomic<size_t> head_{0};
};

}  // namespace otel
