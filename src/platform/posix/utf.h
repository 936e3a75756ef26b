// UTF-8 <-> UTF-16 for the POSIX backend. Ill-formed input never fails: invalid bytes and
// lone surrogates become U+FFFD. Both return the full length of the result in code units and
// store at most capacity units (no terminator is added).
#pragma once

#include <cstddef>

size_t utf8_to_utf16(const char* text, size_t length, char16_t* out, size_t capacity);
size_t utf16_to_utf8(const char16_t* text, size_t length, char* out, size_t capacity);

// New heap strings (platform_heap_release), terminated; null when memory runs out.
char16_t* utf8_to_utf16_owned(const char* text);
char* utf16_to_utf8_owned(const char16_t* text);
