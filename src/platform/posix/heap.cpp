#include <cstdlib>

#include "platform/platform.h"

void* system_heap_allocate(size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void* system_heap_reallocate(void* block, size_t bytes) {
    return std::realloc(block, bytes == 0 ? 1 : bytes);
}

void system_heap_release(void* block) { std::free(block); }
