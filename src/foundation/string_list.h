// A growable array of owned wide strings; all zero is a valid empty list.
#pragma once

#include <cstdint>

struct string_list {
    char16_t** items;
    uint64_t count;
    uint64_t capacity;
};

// Appends a copy of text (null makes a null entry). Capacity grows 8, 16, 32, ...
uint32_t string_list_append(string_list* list, const char16_t* text);
// Frees every entry and the array and zeroes the list; a null list is ignored.
void string_list_free(string_list* list);
