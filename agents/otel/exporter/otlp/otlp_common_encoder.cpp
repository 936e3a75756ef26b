#include "otlp_common_encoder.h"

namespace otel::wire {

void write_any_value(protobuf_writer& w, value_type type, std::string_view text, int64_t integer,
                     double floating, bool boolean) {
    if (type == value_type::string_array) {
        // Arrays carry their elements: write_string_array_value.
        write_string_array_value(w, [](auto) {});
        return;
    }
    constexpr uint32_t string_value = 1, bool_value = 2, int_value = 3, double_value = 4;
    const size_t value = w.begin(key_value_value);
    // Members of a oneof: present even when they hold the default.
    switch (type) {
        case value_type::string:
            w.always_string(string_value, text);
            break;
        case value_type::integer:
            w.always_varint(int_value, static_cast<uint64_t>(integer));
            break;
        case value_type::floating:
            w.always_double(double_value, floating);
            break;
        case value_type::boolean:
            w.always_varint(bool_value, boolean ? 1 : 0);
            break;
        case value_type::string_array:
            break;  // above
    }
    w.end(value);
}

void write_key_value(protobuf_writer& w, uint32_t field, const key_value& kv) {
    const size_t outer = w.begin(field);
    w.string_field(key_value_key, kv.key);
    if (kv.type == value_type::string_array) {
        write_string_array_value(w, [&](auto emit) {
            for (const std::string& element : kv.texts) emit(element);
        });
    } else {
        write_any_value(w, kv.type, kv.text, kv.integer, kv.floating, kv.boolean);
    }
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
