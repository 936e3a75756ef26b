#include "otlp_common_encoding.h"

namespace otel::wire {

void write_key_value(protobuf_writer& w, uint32_t field, const key_value& kv) {
    const size_t outer = w.begin(field);
    w.string_field(key_value_key, kv.key);
    const size_t value = w.begin(key_value_value);
    switch (kv.type) {
        case value_type::string:
            w.always_string(any_value_string, kv.text);
            break;
        case value_type::integer:
            w.always_varint(any_value_int, static_cast<uint64_t>(kv.integer));
            break;
        case value_type::floating:
            w.always_double(any_value_double, kv.floating);
            break;
        case value_type::boolean:
            w.always_varint(any_value_bool, kv.boolean ? 1 : 0);
            break;
    }
    w.end(value);
    w.end(outer);
}

void write_key_values(protobuf_writer& w, uint32_t field, const std::vector<key_value>& list) {
    for (const key_value& kv : list) write_key_value(w, field, kv);
}

void write_resource(protobuf_writer& w, uint32_t field, const resource& origin) {
    constexpr uint32_t attributes = 1;
    const size_t mark = w.begin(field);
    write_key_values(w, attributes, origin.attributes);
    w.end(mark);
}

void write_scope(protobuf_writer& w, uint32_t field, const instrumentation_scope& scope) {
    constexpr uint32_t name = 1, version = 2;
    const size_t mark = w.begin(field);
    w.string_field(name, scope.name);
    w.string_field(version, scope.version);
    w.end(mark);
}

}  // namespace otel::wire
