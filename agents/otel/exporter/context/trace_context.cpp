#include "trace_context.h"

namespace otel {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

void to_hex(const uint8_t* bytes, size_t count, char* out) {
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = hex_digits[bytes[i] >> 4];
        out[2 * i + 1] = hex_digits[bytes[i] & 0x0F];
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // upper case is not allowed either
}

enum binary_field : uint8_t { trace_field = 0, span_field = 1, flags_field = 2 };

}  // namespace

bool from_hex(std::string_view text, uint8_t* bytes, size_t count) {
    if (text.size() != 2 * count) return false;
    for (size_t i = 0; i < count; ++i) {
        const int high = hex_value(text[2 * i]), low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

void format_hex(const trace_id& id, char* out) { to_hex(id.bytes, sizeof id.bytes, out); }
void format_hex(const span_id& id, char* out) { to_hex(id.bytes, sizeof id.bytes, out); }

void format_traceparent(const span_context& context, char* out) {
    out[0] = '0';
    out[1] = '0';
    out[2] = '-';
    format_hex(context.trace, out + 3);
    out[35] = '-';
    format_hex(context.span, out + 36);
    out[52] = '-';
    to_hex(&context.flags, 1, out + 53);
}

std::optional<span_context> parse_traceparent(std::string_view text) {
    if (text.size() < traceparent_length) return std::nullopt;
    uint8_t version;
    if (!from_hex(text.substr(0, 2), &version, 1) || version == 0xFF) return std::nullopt;
    if (text.size() > traceparent_length && (version == 0 || text[traceparent_length] != '-')) {
        return std::nullopt;
    }
    if (text[2] != '-' || text[35] != '-' || text[52] != '-') return std::nullopt;
    span_context context;
    if (!from_hex(text.substr(3, 32), context.trace.bytes, 16) ||
        !from_hex(text.substr(36, 16), context.span.bytes, 8) ||
        !from_hex(text.substr(53, 2), &context.flags, 1) || !context.valid()) {
        return std::nullopt;
    }
    return context;
}

void format_binary_tag(const span_context& context, uint8_t* out) {
    out[0] = 0;  // version
    out[1] = trace_field;
    for (size_t i = 0; i < 16; ++i) out[2 + i] = context.trace.bytes[i];
    out[18] = span_field;
    for (size_t i = 0; i < 8; ++i) out[19 + i] = context.span.bytes[i];
    out[27] = flags_field;
    out[28] = context.flags;
}

std::optional<span_context> parse_binary_tag(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 1 + 17 + 9 || data[0] != 0) return std::nullopt;
    if (data[1] != trace_field || data[18] != span_field) return std::nullopt;
    span_context context;
    for (size_t i = 0; i < 16; ++i) context.trace.bytes[i] = data[2 + i];
    for (size_t i = 0; i < 8; ++i) context.span.bytes[i] = data[19 + i];
    // The flags field may be left out (flags 0); anything after the known fields is ignored.
    if (size >= binary_tag_length && data[27] == flags_field) context.flags = data[28];
    if (!context.valid()) return std::nullopt;
    return context;
}

}  // namespace otel
