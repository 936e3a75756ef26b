#include <windows.h>

#include "platform/platform.h"

void* system_heap_allocate(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void* system_heap_reallocate(void* block, size_t bytes) {
    if (block == nullptr) return HeapAlloc(GetProcessHeap(), 0, bytes);
    return HeapReAlloc(GetProcessHeap(), 0, block, bytes);
}

void system_heap_release(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
