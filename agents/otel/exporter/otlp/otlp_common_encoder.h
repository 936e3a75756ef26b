// Messages of opentelemetry.proto.common and .resource shared by the trace and metrics bodies.
#pragma once

#include <vector>

#include "otlp_model.h"
#include "protobuf_writer.h"

namespace otel::wire {

// Field numbers of the messages used in more than one place.
inline constexpr uint32_t key_value_key = 1;
inline constexpr uint32_t key_value_value = 2;

// An AnyValue of one of the scalar types (field 2 of KeyValue).
void write_any_value(protobuf_writer& w, value_type type, std::string_view text, int64_t integer,
                     double floating, bool boolean);
// An AnyValue holding an ArrayValue of texts (field 2 of KeyValue): for_each(emit) calls
// emit(text) for each element in order.
template <typename ForEach>
void write_string_array_value(protobuf_writer& w, ForEach for_each) {
    constexpr uint32_t array_value = 5, array_values = 1, string_value = 1;
    const size_t value = w.begin(key_value_value);
    const size_t array = w.begin(array_value);
    for_each([&](std::string_view element) {
        const size_t item = w.begin(array_values);
        w.always_string(string_value, element);
        w.end(item);
    });
    w.end(array);
    w.end(value);
}
void write_key_value(protobuf_writer& w, uint32_t field, const key_value& kv);
void write_key_values(protobuf_writer& w, uint32_t field, const std::vector<key_value>& list);
// Resource (field 1 of ResourceSpans and ResourceMetrics).
void write_resource(protobuf_writer& w, uint32_t field, const resource& origin);
// InstrumentationScope (field 1 of ScopeSpans and ScopeMetrics).
void write_scope(protobuf_writer& w, uint32_t field, const instrumentation_scope& scope);

// An export request of one resource and one scope, the same frame for spans and metrics:
// request.resource_X(1) { resource(1), scope_X(2) { scope(1), items } }. write_items writes the
// items into the scope's message.
template <typename WriteItems>
void write_request(std::string& out, const resource& origin, const instrumentation_scope& scope,
                   WriteItems write_items) {
    out.clear();
    protobuf_writer w(out);
    const size_t resource_items = w.begin(1);
    write_resource(w, 1, origin);
    const size_t scope_items = w.begin(2);
    write_scope(w, 1, scope);
    write_items(w);
    w.end(scope_items);
    w.end(resource_items);
}

}  // namespace otel::wire
