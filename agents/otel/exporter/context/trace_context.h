// The trace context carried between processes: W3C traceparent text and a binary tag of the
// same content (version 0; field 0: trace id, field 1: span id, field 2: trace flags).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "otlp_model.h"

namespace otel {

struct span_context {
    trace_id trace;
    span_id span;
    uint8_t flags = 0;
    bool sampled() const { return (flags & trace_flag_sampled) != 0; }
    bool valid() const { return trace.valid() && span.valid(); }
    friend bool operator==(const span_context&, const span_context&) = default;
};

inline constexpr size_t traceparent_length = 55;  // "00-" 32 hex "-" 16 hex "-" 2 hex
inline constexpr size_t binary_tag_length = 29;

// Writes traceparent_length characters (no terminator).
void format_traceparent(const span_context& context, char* out);
// Lower-case hex of the id's bytes: 32 or 16 characters (no terminator).
void format_hex(const trace_id& id, char* out);
void format_hex(const span_id& id, char* out);
// Exactly 2 * count lower-case hex digits into count bytes.
bool from_hex(std::string_view text, uint8_t* bytes, size_t count);

// Version 00 exactly as formatted; a later version may append fields after a '-', which are
// ignored. Invalid: version ff, upper-case or other characters, all-zero ids.
std::optional<span_context> parse_traceparent(std::string_view text);

// Writes binary_tag_length bytes.
void format_binary_tag(const span_context& context, uint8_t* out);
std::optional<span_context> parse_binary_tag(const uint8_t* data, size_t size);

}  // namespace otel
