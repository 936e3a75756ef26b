#include "otlp_common_encoder.h"
#include "otlp_encoder.h"

namespace otel {

namespace {

namespace field {
constexpr uint32_t scope_spans_spans = 2;
constexpr uint32_t span_trace_id = 1, span_span_id = 2, span_trace_state = 3,
                   span_parent_span_id = 4, span_name = 5, span_kind = 6, span_start = 7,
                   span_end = 8, span_attributes = 9, span_dropped_attributes = 10,
                   span_events = 11, span_dropped_events = 12, span_status = 15;
constexpr uint32_t event_time = 1, event_name = 2, event_attributes = 3,
                   event_dropped_attributes = 4;
constexpr uint32_t status_message = 2, status_code = 3;
}  // namespace field

void write_attribute(protobuf_writer& w, uint32_t field, const otlp_span& span,
                     const attribute& a) {
    const size_t outer = w.begin(field);
    w.string_field(wire::key_value_key, span.text(a.key));
    if (a.type == value_type::string_array) {
        wire::write_string_array_value(w, [&](auto emit) { span.for_each_element(a, emit); });
        w.end(outer);
        return;
    }
    const bool text = a.type == value_type::string;
    wire::write_any_value(w, a.type, text ? span.text(a.text) : std::string_view(),
                          a.type == value_type::integer ? a.integer : 0,
                          a.type == value_type::floating ? a.floating : 0,
                          a.type == value_type::boolean && a.boolean);
    w.end(outer);
}

void write_attributes_of(protobuf_writer& w, uint32_t field, const otlp_span& span,
                         uint16_t owner) {
    for (const attribute& a : span.attributes()) {
        if (a.owner == owner) write_attribute(w, field, span, a);
    }
}

void write_span(protobuf_writer& w, const otlp_span& span) {
    using namespace field;
    const size_t mark = w.begin(scope_spans_spans);
    w.bytes_field(span_trace_id, span.trace.bytes, sizeof span.trace.bytes);
    w.bytes_field(span_span_id, span.span.bytes, sizeof span.span.bytes);
    w.string_field(span_trace_state, span.trace_state());
    if (span.parent.valid()) {
        w.bytes_field(span_parent_span_id, span.parent.bytes, sizeof span.parent.bytes);
    }
    w.string_field(span_name, span.name());
    w.varint_field(span_kind, static_cast<uint64_t>(span.kind));
    w.always_fixed64(span_start, span.start_unix_nano);
    w.always_fixed64(span_end, span.end_unix_nano);
    write_attributes_of(w, span_attributes, span, 0);
    w.varint_field(span_dropped_attributes, span.dropped_attributes);
    uint16_t owner = 0;
    for (const event& e : span.events()) {
        ++owner;
        const size_t event_mark = w.begin(span_events);
        w.always_fixed64(event_time, e.time_unix_nano);
        w.string_field(event_name, span.text(e.name));
        write_attributes_of(w, event_attributes, span, owner);
        w.varint_field(event_dropped_attributes, e.dropped_attributes);
        w.end(event_mark);
    }
    w.varint_field(span_dropped_events, span.dropped_events);
    if (span.status != status_code::unset) {
        const size_t status_mark = w.begin(span_status);
        w.string_field(status_message, span.status_message());
        w.varint_field(status_code, static_cast<uint64_t>(span.status));
        w.end(status_mark);
    }
    w.end(mark);
}

}  // namespace

void encode_trace_request(const resource& origin, const instrumentation_scope& scope,
                          std::span<const otlp_span* const> spans, std::string& out,
                          void (*pause)()) {
    wire::write_request(out, origin, scope, [&](protobuf_writer& w) {
        size_t written = 0;
        for (const otlp_span* span : spans) {
            write_span(w, *span);
            if (pause != nullptr && ++written % encode_slice == 0 && written < spans.size()) {
                pause();
            }
        }
    });
}

}  // namespace otel
