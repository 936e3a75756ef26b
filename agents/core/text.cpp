#include "text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "object_record.h"
#include "utf.h"

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
// Whether one of the bytes is not printable ASCII. One more than a printable byte, compared
// as signed, lies above 0x20; one more than a byte below the space, 0x7F or a byte from 0x80
// up does not.
bool unprintable_block(__m128i bytes) {
    const __m128i next = _mm_add_epi8(bytes, _mm_set1_epi8(1));
    return _mm_movemask_epi8(_mm_cmpgt_epi8(next, _mm_set1_epi8(0x20))) != 0xFFFF;
}

__m128i load_block(const unsigned char* text) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
}
#endif

// Copies text[0..size) to out when it is printable ASCII throughout; false, with out partly
// written, otherwise. Blocks (or words) at a time, the last one overlapping the one before it;
// no byte past the text is read.
[[gnu::always_inline]] inline bool copy_plain(char* out, const unsigned char* text, size_t size) {
#ifdef __SSE2__
    constexpr size_t block = 16;
    if (size >= block) {
        for (size_t at = 0; at + block < size; at += block) {
            const __m128i bytes = load_block(text + at);
            if (unprintable_block(bytes)) return false;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), bytes);
        }
        const __m128i bytes = load_block(text + size - block);
        if (unprintable_block(bytes)) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size - block), bytes);
        return true;
    }
    if (size >= sizeof(uint64_t)) {
        // The first eight bytes and the last eight, which may overlap, in one block.
        const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(text));
        const __m128i last =
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(text + size - sizeof(uint64_t)));
        if (unprintable_block(_mm_unpacklo_epi64(first, last))) return false;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), first);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + size - sizeof(uint64_t)), last);
        return true;
    }
#else
    if (size >= sizeof(uint64_t)) {
        uint64_t bytes = 0;
        for (size_t at = 0;; at += sizeof bytes) {
            if (at + sizeof bytes > size) at = size - sizeof bytes;
            std::memcpy(&bytes, text + at, sizeof bytes);
            if (has_unprintable(bytes)) return false;
            std::memcpy(out + at, &bytes, sizeof bytes);
            if (at + sizeof bytes == size) return true;
        }
    }
#endif
    if (size >= sizeof(uint32_t)) {
        // The first four bytes and the last four, which may overlap, in one word.
        uint32_t first = 0, last = 0;
        std::memcpy(&first, text, sizeof first);
        std::memcpy(&last, text + size - sizeof last, sizeof last);
        if (has_unprintable(first | uint64_t{last} << 32)) return false;
        std::memcpy(out, &first, sizeof first);
        std::memcpy(out + size - sizeof last, &last, sizeof last);
        return true;
    }
    if (size == 0) return true;
    // One to three bytes: the first, the middle and the last cover them; spaces fill the rest
    // of the word.
    const unsigned char first = text[0], middle = text[size / 2], last = text[size - 1];
    constexpr uint64_t spaces = 0x2020202020000000u;
    if (has_unprintable(first | uint64_t{middle} << 8 | uint64_t{last} << 16 | spaces)) {
        return false;
    }
    out[0] = static_cast<char>(first);
    out[size / 2] = static_cast<char>(middle);
    out[size - 1] = static_cast<char>(last);
    return true;
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

// Room at the end of out for size bytes, kept or dropped once they are written.
char* tail(std::string& out, size_t size) {
    out.resize(out.size() + size);
    return out.data() + out.size() - size;
}
void keep_tail(std::string&, size_t) {}
void drop_tail(std::string& out, size_t size) { out.resize(out.size() - size); }
char* tail(text_buffer& out, size_t size) { return out.tail(size); }
void keep_tail(text_buffer& out, size_t size) { out.commit(size); }
void drop_tail(text_buffer&, size_t) {}

template <typename Out>
void append_printable(Out& out, const char* text) {
    if (text == nullptr) return;
    // Never reads past the terminator or the limit.
    const size_t size = strnlen(text, text_limit);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    // The usual case is checked and copied in one pass.
    if (copy_plain(tail(out, size), bytes, size)) {
        keep_tail(out, size);
    } else {
        drop_tail(out, size);
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

std::string escaped_text(const char* text) {
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

}  // namespace agent_core
