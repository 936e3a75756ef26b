// Texts of the console agent: what the application hands over is read defensively (bounded,
// made valid UTF-8, control characters escaped) so that one trace line stays one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace console {

// Longest application text taken over; a longer one is cut and marked with "...".
inline constexpr size_t text_limit = 2048;

// A NUL-terminated UTF-8 text, at most text_limit bytes of it, made printable. Null gives "".
std::string printable_text(const char* text);
// Bytes of a given size, made printable.
std::string printable_bytes(const unsigned char* bytes, size_t size);

// The value as it appears after "name=": quoted when empty or when it holds a space or a quote.
std::string quoted_if_needed(const std::string& value);

// printf into a std::string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string utf16_to_utf8(const char16_t* text);
// Writes text into a UTF-16 buffer of capacity units, cut and terminated; nothing for capacity 0.
void write_utf16(const std::string& text, char16_t* buffer, uint64_t capacity);
// ASCII case-insensitive equality.
bool equal_ignore_case(const std::string& a, const char* b);

}  // namespace console
