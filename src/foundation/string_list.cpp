#include "foundation/string_list.h"

#include "foundation/wstr.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

uint32_t string_list_grow(string_list* list, uint64_t needed) {
    if (list == nullptr) return QUORIN_STATUS_INVALID_ARGUMENT;
    if (needed <= list->capacity) return QUORIN_STATUS_OK;
    if (list->capacity > 0x7FFFFFFFFFFFFFFFull) return QUORIN_STATUS_OUT_OF_MEMORY;
    uint64_t capacity = list->capacity * 2 > needed ? list->capacity * 2 : needed;
    if (capacity < 8) {
        capacity = 8;
    } else if (capacity > 0x1FFFFFFFFFFFFFFFull) {
        return QUORIN_STATUS_OUT_OF_MEMORY;
    }
    auto* items = static_cast<char16_t**>(
        platform_heap_reallocate(list->items, capacity * sizeof(char16_t*)));
    if (items == nullptr) return QUORIN_STATUS_OUT_OF_MEMORY;
    for (uint64_t i = list->capacity; i < capacity; ++i) items[i] = nullptr;
    list->items = items;
    list->capacity = capacity;
    return QUORIN_STATUS_OK;
}

}  // namespace

uint32_t string_list_append(string_list* list, const char16_t* text) {
    const uint32_t grown = string_list_grow(list, list != nullptr ? list->count + 1 : 0);
    if (grown != QUORIN_STATUS_OK) return grown;
    list->items[list->count] = nullptr;
    char16_t* copy = nullptr;
    if (text != nullptr) {
        copy = wstr_duplicate(text);
        if (copy == nullptr) return QUORIN_STATUS_OUT_OF_MEMORY;
    }
    list->items[list->count++] = copy;
    return QUORIN_STATUS_OK;
}

void string_list_free(string_list* list) {
    if (list == nullptr) return;
    for (uint64_t i = 0; i < list->count; ++i) wstr_release(&list->items[i]);
    platform_heap_release(list->items);
    list->items = nullptr;
    list->count = 0;
    list->capacity = 0;
}
