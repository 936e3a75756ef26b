#include "json_writer.h"

#include <charconv>
#include <cmath>

namespace otel {

namespace {

// The length of the well-formed UTF-8 sequence at the start of text, 0 when there is none.
size_t utf8_sequence(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length;
    uint8_t low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

void json_writer::string(std::string_view text) {
    separate();
    static constexpr char digits[] = "0123456789abcdef";
    out_ += '"';
    size_t plain = 0;  // the start of the bytes not yet copied
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\' && c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (const size_t length = utf8_sequence(text.substr(i))) {
                i += length;
                continue;
            }
        }
        out_.append(text.substr(plain, i - plain));
        switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\r':
                out_ += "\\r";
                break;
            case '\t':
                out_ += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out_ += "\\u00";
                    out_ += digits[c >> 4];
                    out_ += digits[c & 15];
                } else {
                    out_ += "\\ufffd";  // a byte that starts no UTF-8 character
                }
        }
        plain = ++i;
    }
    out_.append(text.substr(plain));
    out_ += '"';
}

template <typename integer>
void json_writer::integer_text(integer value, bool quoted) {
    separate();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    if (quoted) out_ += '"';
    out_.append(digits, end);
    if (quoted) out_ += '"';
}

template void json_writer::integer_text(uint64_t, bool);
template void json_writer::integer_text(int64_t, bool);

void json_writer::number(double value) {
    separate();
    if (std::isnan(value)) {
        out_ += "\"NaN\"";
    } else if (std::isinf(value)) {
        out_ += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    } else {
        char digits[32];
        out_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    }
}

void json_writer::hex(const uint8_t* bytes, size_t size) {
    separate();
    static constexpr char digits[] = "0123456789abcdef";
    out_ += '"';
    for (size_t i = 0; i < size; ++i) {
        out_ += digits[bytes[i] >> 4];
        out_ += digits[bytes[i] & 15];
    }
    out_ += '"';
}

}  // namespace otel
