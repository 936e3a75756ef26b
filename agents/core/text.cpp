#include "text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "object_record.h"
#include "platform/utf.h"

namespace agent_core {
namespace {

// Length of the valid UTF-8 sequence at text[0..size), or 0 when it is not valid.
size_t utf8_sequence_length(const unsigned char* text, size_t size) {
    const unsigned char lead = text[0];
    size_t length = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000;
    } else {
        return 0;
    }
    if (length > size) return 0;
    uint32_t code = lead & (0x3F >> (length - 1));
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (text[i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

// Whether one of the eight bytes is not printable ASCII (below 0x20, or 0x7F and above).
// Carries between bytes start only at such a byte, so the answer is exact.
bool has_unprintable(uint64_t bytes) {
    constexpr uint64_t ones = 0x0101010101010101u, high_bits = 0x8080808080808080u;
    const uint64_t below_space = (bytes - 0x20 * ones) & ~bytes;
    const uint64_t delete_or_above = (bytes + ones) | bytes;
    return ((below_space | delete_or_above) & high_bits) != 0;
}

// The end of the run of printable ASCII that starts at text[from].
size_t plain_run_end(const unsigned char* text, size_t from, size_t size) {
    size_t end = from;
    for (uint64_t bytes; end + sizeof bytes <= size; end += sizeof bytes) {
        std::memcpy(&bytes, text + end, sizeof bytes);
        if (has_unprintable(bytes)) break;
    }
    while (end < size && text[end] >= 0x20 && text[end] < 0x7F) ++end;
    return end;
}

#ifdef __SSE2__
// Whether one of the sixteen bytes at text is not printable ASCII. Compared as signed, the
// bytes from 0x80 up lie below the space too.
bool block_has_unprintable(const unsigned char* text) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i below_space = _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20));
    const __m128i is_delete = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F));
    return _mm_movemask_epi8(_mm_or_si128(below_space, is_delete)) != 0;
}
#endif

// Whether text[0..size) is printable ASCII throughout: a block (or a word) at a time, the
// last one overlapping the one before it.
[[gnu::always_inline]] inline bool all_plain(const unsigned char* text, size_t size) {
#ifdef __SSE2__
    constexpr size_t block = 16;
    if (size >= block) {
        size_t at = 0;
        for (; at + block <= size; at += block) {
            if (block_has_unprintable(text + at)) return false;
        }
        return at == size || !block_has_unprintable(text + size - block);
    }
#endif
    uint64_t bytes = 0;
    if (size < sizeof bytes) {
        if (size >= sizeof(uint32_t)) {
            // The first four bytes and the last four, which may overlap, in one word.
            uint32_t first = 0, last = 0;
            std::memcpy(&first, text, sizeof first);
            std::memcpy(&last, text + size - sizeof last, sizeof last);
            return !has_unprintable(first | uint64_t{last} << 32);
        }
        for (size_t i = 0; i < size; ++i) {
            if (text[i] < 0x20 || text[i] >= 0x7F) return false;
        }
        return true;
    }
    size_t at = 0;
    for (; at + sizeof bytes <= size; at += sizeof bytes) {
        std::memcpy(&bytes, text + at, sizeof bytes);
        if (has_unprintable(bytes)) return false;
    }
    if (at == size) return true;
    std::memcpy(&bytes, text + size - sizeof bytes, sizeof bytes);
    return !has_unprintable(bytes);
}

// Out of line, so that the usual case of a printable text stays lean.
template <typename Out>
[[gnu::noinline]] void append_escaped(Out& out, const unsigned char* text, size_t size) {
    for (size_t i = 0; i < size;) {
        // Printable ASCII, the usual case, is taken over a run at a time.
        const size_t plain = plain_run_end(text, i, size);
        out.append(reinterpret_cast<const char*>(text + i), plain - i);
        if (plain == size) return;
        i = plain;
        const unsigned char c = text[i];
        if (c >= 0x80) {
            const size_t length = utf8_sequence_length(text + i, size - i);
            if (length == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
                ++i;
            } else {
                out.append(reinterpret_cast<const char*>(text + i), length);
                i += length;
            }
            continue;
        }
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            static const char digits[] = "0123456789ABCDEF";
            const char escaped[] = {'\\', 'x', digits[c >> 4], digits[c & 15]};
            out.append(escaped, sizeof escaped);
        }
        ++i;
    }
}

template <typename Out>
void append_printable(Out& out, const char* text) {
    if (text == nullptr) return;
    // Never reads past the terminator or the limit.
    const size_t size = strnlen(text, text_limit);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (all_plain(bytes, size)) {
        out.append(text, size);  // the usual case
    } else {
        append_escaped(out, bytes, size);
    }
    if (size == text_limit && text[size] != 0) out += "...";
}

}  // namespace

void append_printable_text(std::string& out, const char* text) { append_printable(out, text); }
void append_printable_text(text_buffer& out, const char* text) { append_printable(out, text); }

void append_printable_bytes(std::string& out, const unsigned char* bytes, size_t size) {
    if (bytes == nullptr) return;
    append_escaped(out, bytes, size < text_limit ? size : text_limit);
    if (size > text_limit) out += "...";
}

std::string printable_text(const char* text) {
    std::string out;
    append_printable_text(out, text);
    return out;
}

std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string out;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), pattern, args);
        out.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return out;
}

std::string utf16_to_utf8(const char16_t* text) {
    if (text == nullptr) return {};
    size_t length = 0;
    while (text[length] != 0) ++length;
    std::string out(::utf16_to_utf8(text, length, nullptr, 0), '\0');
    ::utf16_to_utf8(text, length, out.data(), out.size());
    return out;
}

void write_utf16(const std::string& text, char16_t* buffer, uint64_t capacity) {
    if (buffer == nullptr || capacity == 0) return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    uint64_t used = 0;
    for (size_t i = 0; i < text.size() && used + 1 < capacity;) {
        size_t length = bytes[i] < 0x80 ? 1 : utf8_sequence_length(bytes + i, text.size() - i);
        uint32_t code = 0xFFFD;
        if (length == 1) {
            code = bytes[i];
        } else if (length > 1) {
            code = bytes[i] & (0x3F >> (length - 1));
            for (size_t k = 1; k < length; ++k) code = (code << 6) | (bytes[i + k] & 0x3F);
        } else {
            length = 1;
        }
        i += length;
        if (code >= 0x10000) {
            if (used + 2 >= capacity) break;
            buffer[used++] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            buffer[used++] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            buffer[used++] = static_cast<char16_t>(code);
        }
    }
    buffer[used] = 0;
}

bool equal_ignore_case(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && b[i] == 0;
}

}  // namespace agent_core
