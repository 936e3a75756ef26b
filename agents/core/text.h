// Texts the application hands over are read defensively (bounded, made valid UTF-8, control
// characters escaped) so that a text never breaks an output's line or encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ascii_case.h"

namespace agent_core {

// Longest application text taken over; a longer one is cut and marked with "...".
inline constexpr size_t text_limit = 2048;

class text_buffer;

// Appends a NUL-terminated UTF-8 text, at most text_limit bytes of it, made printable. Null
// appends nothing.
void append_printable_text(std::string& out, const char* text);
void append_printable_text(text_buffer& out, const char* text);
// Appends bytes of a given size, made printable.
void append_printable_bytes(std::string& out, const unsigned char* bytes, size_t size);
// The same as a new string: control characters escaped, invalid UTF-8 replaced.
std::string escaped_text(const char* text);

// printf into a std::string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string utf16_to_utf8(const char16_t* text);
// Writes text into a UTF-16 buffer of capacity units, cut and terminated; nothing for capacity 0.
void write_utf16(const std::string& text, char16_t* buffer, uint64_t capacity);

}  // namespace agent_core
