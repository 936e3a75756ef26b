#include "ids.h"

#include <cstring>
#include <random>

namespace agent_core {

uint64_t system_entropy() {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
}

void write_hex(const uint8_t* bytes, size_t size, char* out) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
}

void write_tag(const trace_context& context, char* out) {
    write_hex(context.trace.bytes, sizeof context.trace.bytes, out);
    out[32] = '-';
    write_hex(context.span.bytes, sizeof context.span.bytes, out + 33);
}

namespace {

bool parse_hex(std::string_view text, uint8_t* bytes, bool upper_case = false) {
    auto digit = [upper_case](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (upper_case && c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i / 2] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace

bool parse_hex_id(std::string_view text, uint8_t* bytes, size_t size) {
    uint8_t parsed[16] = {};
    if (size > sizeof parsed || text.size() != 2 * size || !parse_hex(text, parsed, true)) {
        return false;
    }
    bool zero = true;
    for (size_t i = 0; i < size; ++i) zero = zero && parsed[i] == 0;
    if (zero) return false;
    std::memcpy(bytes, parsed, size);
    return true;
}

bool parse_tag(std::string_view text, trace_context* context) {
    if (text.size() != tag_length || text[32] != '-') return false;
    trace_context parsed{};
    if (!parse_hex(text.substr(0, 32), parsed.trace.bytes) ||
        !parse_hex(text.substr(33), parsed.span.bytes)) {
        return false;
    }
    parsed.flags = 1;
    *context = parsed;
    return true;
}

}  // namespace agent_core
