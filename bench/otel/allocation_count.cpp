#include "allocation_count.h"

#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);
void __libc_free(void* memory);
}

namespace {
thread_local uint64_t allocations = 0;
}  // namespace

uint64_t allocations_on_this_thread() { return allocations; }

extern "C" {

void* malloc(size_t size) noexcept {
    ++allocations;
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
    ++allocations;
    return __libc_calloc(count, size);
}

void* realloc(void* memory, size_t size) noexcept {
    ++allocations;
    return __libc_realloc(memory, size);
}

void free(void* memory) noexcept { __libc_free(memory); }

}  // extern "C"
