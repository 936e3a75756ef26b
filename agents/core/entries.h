// Parallel arrays of keys (UTF-8 texts) and values of one type, added to a tracer: request
// and response headers, parameters, custom request attributes, span attributes.
#pragma once

#include <cstdint>
#include <string_view>

#include "call.h"
#include "text.h"

namespace agent_core {

// Appends one value to the record's texts (a text value) or gives it as a typed attribute.
struct entry_value {
    value_type type;
    const char* text;  // text values: the application's, null for none
    int64_t integer;
    double floating;
};

inline entry_value decode_value(const char* value) { return {value_type::text, value, 0, 0}; }
inline entry_value decode_value(int64_t value) { return {value_type::integer, nullptr, value, 0}; }
inline entry_value decode_value(double value) { return {value_type::floating, nullptr, 0, value}; }
inline entry_value decode_value(float value) { return {value_type::floating, nullptr, 0, value}; }
// One byte per value, as C's bool; any non-zero byte is true.
inline entry_value decode_value(unsigned char value) {
    return {value_type::boolean, nullptr, value != 0 ? 1 : 0, 0};
}

// Adds count entries to the live tracer, decoded straight into its record while it is locked.
// key_word names a key in the warnings ("name", "key").
template <typename Value>
[[gnu::always_inline]] inline void add_entries(call& c, quorin_handle_t tracer, attribute_key key,
                                               const void* keys, const void* values, uint64_t count,
                                               const char* key_word) {
    if (keys == nullptr || values == nullptr) {
        c.warn(format("the %ss or the values are a null pointer", key_word));
        return;
    }
    const auto* key_texts = static_cast<const char* const*>(keys);
    const auto* items = static_cast<const Value*>(values);
    object_table::locked target = c.core().objects.find(tracer);
    if (!target) return;  // ended meanwhile on another thread
    for (uint64_t i = 0; i < count; ++i) {
        const char* name = key_texts[i];
        if (name == nullptr) {
            c.warn(
                format("%s %llu is a null pointer", key_word, static_cast<unsigned long long>(i)));
            continue;
        }
        const entry_value value = decode_value(items[i]);
        const bool added = target->add_written(
            key, value.type, [name](text_buffer& texts) { append_printable_text(texts, name); },
            [&value](text_buffer& texts) { append_printable_text(texts, value.text); },
            value.integer, value.floating);
        c.kept(*target, added, count - i - 1);
        if (!added) return;
    }
}

// add_pairs past the usual case, out of line so that the slot stays small; here, when not null,
// is in a recorded trace.
template <typename Value>
[[gnu::noinline]] void add_checked_pairs(call& c, const nesting_entry* here, quorin_handle_t handle,
                                         tracer_kind kind, attribute_key key, const void* keys,
                                         const void* values, const void* count,
                                         const char* key_word) {
    if (here == nullptr && !c.tracer(handle, {kind})) return;
    uint64_t entries = 0;
    if (!c.count(count, &entries) || entries == 0) return;
    add_entries<Value>(c, handle, key, keys, values, entries, key_word);
}

// Adds the entries of one call to a live tracer of the kind. Nothing is read for a tracer in
// a trace that is not recorded.
template <typename Value>
[[gnu::always_inline]] inline void add_pairs(call& c, quorin_handle_t handle, tracer_kind kind,
                                             attribute_key key, const void* keys,
                                             const void* values, const void* count,
                                             const char* key_word = "name") {
    if (!c) return;
    const nesting_entry* here = c.started_here(handle, {kind});
    if (here != nullptr && !recorded(here->context)) {
        // Only the count is checked.
        uint64_t entries = 0;
        c.count(count, &entries);
        return;
    }
    add_checked_pairs<Value>(c, here, handle, kind, key, keys, values, count, key_word);
}

}  // namespace agent_core
