// A count that several threads add to at once, each thread mostly on a cache line of its own,
// so that threads adding at full speed (every span dropped at a full queue, say) do not pass
// one line back and forth. Reading sums the stripes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace otel {

class striped_counter {
  public:
    void add(uint64_t n) {
        stripes_[stripe_of_this_thread()].value.fetch_add(n, std::memory_order_relaxed);
    }
    uint64_t get() const {
        uint64_t sum = 0;
        for (const stripe& s : stripes_) sum += s.value.load(std::memory_order_relaxed);
        return sum;
    }

  private:
    static constexpr size_t stripe_count = 16;
    struct alignas(64) stripe {
        std::atomic<uint64_t> value{0};
    };
    // Threads' stacks lie apart: the stack's address tells threads apart without thread-local
    // storage, which would outlive the module on some runtimes. Two threads that share a
    // stripe only share its line.
    static size_t stripe_of_this_thread() {
        const char here = 0;
        const auto address = reinterpret_cast<uintptr_t>(&here);
        return ((address >> 16) ^ (address >> 21)) % stripe_count;
    }
    stripe stripes_[stripe_count];
};

}  // namespace otel
