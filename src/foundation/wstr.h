// Owned wide strings: heap-allocated, NUL-terminated, held in exactly one slot.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for n characters and the NUL, holding the empty string; null when n is too large or
// the heap is exhausted.
char16_t* wstr_alloc(uint64_t n);
// Frees the string in *slot and sets the slot to null; a null slot is ignored.
void wstr_release(char16_t** slot);
// The slot then holds a copy of source (or null). The old string is freed only on success.
uint32_t wstr_assign(char16_t** slot, const char16_t* source);
// Copies source (empty when null) into destination, cut to capacity - 1 characters, and
// zero-fills the rest of the capacity. Returns destination.
char16_t* wstr_copy_bounded(char16_t* destination, const char16_t* source, uint64_t capacity);
// Builds template with "%0".."%9" replaced by arguments; returns the full length including the
// NUL, whether or not it fitted. Stores at most capacity characters, always terminated.
uint64_t wstr_format_placeholders(char16_t* destination, uint64_t capacity,
                                  const char16_t* text_template, const char16_t* const* arguments,
                                  uint64_t argument_count);

// A new owned copy of text, or null when memory runs out.
char16_t* wstr_duplicate(const char16_t* text);
size_t wstr_length(const char16_t* text);
// First n characters equal with ASCII letters folded to one case.
bool wstr_equal_ignore_case(const char16_t* a, const char16_t* b, size_t n);
