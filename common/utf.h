// UTF-8 <-> UTF-16. Ill-formed input never fails: invalid bytes and lone surrogates become
// U+FFFD. Pure functions: the console agent and quorin-doctor compile them too. Both return the
// full length of the result in code units and store at most capacity units (no terminator is
// added).
#pragma once

#include <cstddef>

size_t utf8_to_utf16(const char* text, size_t length, char16_t* out, size_t capacity);
size_t utf16_to_utf8(const char16_t* text, size_t length, char* out, size_t capacity);

// As utf8_to_utf16, but each byte of an ill-formed sequence becomes the lone surrogate
// U+DC00 + byte instead of U+FFFD, so the loss stays visible: such a text has no exact UTF-8
// form, and a path made from it is refused rather than turned into another file's name.
size_t utf8_to_utf16_marking_invalid(const char* text, size_t length, char16_t* out,
                                     size_t capacity);
// Whether the text has no lone surrogate, that is, converts to UTF-8 without loss.
bool utf16_well_formed(const char16_t* text, size_t length);
