// The library's allocator. Release builds go straight to the system's heap; the test build of
// these sources (QUORIN_HEAP_FAULTS) counts every allocation and can make one fail, so that the
// unit tests reach each out-of-memory path.
#include "platform/platform.h"

#ifndef QUORIN_HEAP_FAULTS

void* platform_heap_allocate(size_t bytes) { return system_heap_allocate(bytes); }

void* platform_heap_reallocate(void* block, size_t bytes) {
    return system_heap_reallocate(block, bytes);
}

void platform_heap_release(void* block) { system_heap_release(block); }

#else

#include <atomic>

namespace {
constinit std::atomic<uint64_t> attempted{0};
constinit std::atomic<uint64_t> fail_at{0};  // the value of `attempted` that fails; 0: none

bool this_allocation_fails() {
    const uint64_t number = attempted.fetch_add(1, std::memory_order_relaxed) + 1;
    uint64_t target = number;
    return fail_at.load(std::memory_order_relaxed) == number &&
           fail_at.compare_exchange_strong(target, 0, std::memory_order_relaxed);
}
}  // namespace

void* platform_heap_allocate(size_t bytes) {
    return this_allocation_fails() ? nullptr : system_heap_allocate(bytes);
}

void* platform_heap_reallocate(void* block, size_t bytes) {
    return this_allocation_fails() ? nullptr : system_heap_reallocate(block, bytes);
}

void platform_heap_release(void* block) { system_heap_release(block); }

void platform_heap_fail_nth(uint64_t n) {
    fail_at.store(n == 0 ? 0 : attempted.load(std::memory_order_relaxed) + n,
                  std::memory_order_relaxed);
}

uint64_t platform_heap_allocations() { return attempted.load(std::memory_order_relaxed); }

#endif
