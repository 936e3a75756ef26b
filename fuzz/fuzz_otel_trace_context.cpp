// The incoming trace context parsers on any input. An input starting with "tag " is a binary
// tag written in hex digits (other characters are skipped); any other input is a traceparent
// text. What parses has non-zero ids and formats back to the canonical form of the input. The
// input's first bytes, taken as ids and flags, format to a text and a tag that parse back to
// that context, or are refused when an id is all zero.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "trace_context.h"

namespace {

constexpr std::string_view tag_prefix = "tag ";
constexpr size_t tag_flags_position = 27;  // the flags field follows both ids
constexpr uint8_t flags_field = 2;

std::vector<uint8_t> from_hex_digits(std::string_view text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) continue;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    return bytes;
}

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

void check_traceparent(std::string_view text) {
    const auto context = otel::parse_traceparent(text);
    if (!context) return;
    FUZZ_CHECK(context->valid());
    // Any accepted version formats as 00 with the same ids and flags; later fields are dropped.
    FUZZ_CHECK(is_lower_hex(text[0]) && is_lower_hex(text[1]) && text.substr(0, 2) != "ff");
    char formatted[otel::traceparent_length];
    otel::format_traceparent(*context, formatted);
    const std::string_view canonical(formatted, sizeof formatted);
    FUZZ_CHECK(canonical.substr(0, 2) == "00");
    FUZZ_CHECK(canonical.substr(2) == text.substr(2, otel::traceparent_length - 2));
    FUZZ_CHECK(text.size() == otel::traceparent_length || text.substr(0, 2) != "00");
}

void check_binary_tag(const std::vector<uint8_t>& tag) {
    const auto context = otel::parse_binary_tag(tag.data(), tag.size());
    if (!context) return;
    FUZZ_CHECK(context->valid());
    // Both ids as given; the flags as given, or 0 when the tag has no flags field.
    uint8_t formatted[otel::binary_tag_length];
    otel::format_binary_tag(*context, formatted);
    FUZZ_CHECK(std::memcmp(formatted, tag.data(), tag_flags_position) == 0);
    const bool has_flags =
        tag.size() >= otel::binary_tag_length && tag[tag_flags_position] == flags_field;
    FUZZ_CHECK(formatted[tag_flags_position] == flags_field);
    FUZZ_CHECK(formatted[tag_flags_position + 1] == (has_flags ? tag[tag_flags_position + 1] : 0));
}

void check_formatted_round_trip(const uint8_t* data, size_t size) {
    uint8_t raw[16 + 8 + 1] = {};
    std::memcpy(raw, data, std::min(size, sizeof raw));
    otel::span_context context;
    std::memcpy(context.trace.bytes, raw, 16);
    std::memcpy(context.span.bytes, raw + 16, 8);
    context.flags = raw[24];
    const auto expected = context.valid() ? std::optional(context) : std::nullopt;

    char text[otel::traceparent_length];
    otel::format_traceparent(context, text);
    FUZZ_CHECK(otel::parse_traceparent(std::string_view(text, sizeof text)) == expected);
    uint8_t tag[otel::binary_tag_length];
    otel::format_binary_tag(context, tag);
    FUZZ_CHECK(otel::parse_binary_tag(tag, sizeof tag) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.starts_with(tag_prefix)) {
        check_binary_tag(from_hex_digits(input.substr(tag_prefix.size())));
    } else {
        check_traceparent(input);
    }
    check_formatted_round_trip(data, size);
    return 0;
}
