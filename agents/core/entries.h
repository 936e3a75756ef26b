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

// The nesting entry of a tracer of the kind that this thread started and still holds in its
// nesting, or null. The tracer may have ended on another thread since: looking its handle up
// tells, and a tracer that is found needs no check of its kind.
inline const nesting_entry* started_on_this_thread(const call& c, quorin_handle_t handle,
                                                   tracer_kind kind) {
    const nesting_entry* entry = c.thread().nesting.find(handle);
    return entry != nullptr && entry->kind == kind ? entry : nullptr;
}

// Whether here is a live tracer in a trace that is not recorded: what the call would add to it
// can be left unread.
inline bool unrecorded(const nesting_entry* here, quorin_handle_t handle) {
    return here != nullptr && !recorded(here->context) && object_table::live(here->mark, handle);
}

// The tracer of the kind, locked, with the warnings of any handle when there is none.
[[gnu::noinline]] inline object_table::locked tracer_of_kind(call& c, quorin_handle_t handle,
                                                             tracer_kind kind) {
    return c.tracer(handle, {kind});
}

// The live tracer of the kind, locked: looked up once when this thread started it, else (or
// when it ended meanwhile) with the warnings of any handle.
inline object_table::locked live_tracer(call& c, const nesting_entry* here, quorin_handle_t handle,
                                        tracer_kind kind) {
    if (here != nullptr) {
        if (object_table::locked found = c.core().objects.find(here->mark, handle)) return found;
    }
    return tracer_of_kind(c, handle, kind);
}

// Adds count entries to the tracer, decoded straight into its record while it is locked.
// key_word names a key in the warnings ("name", "key").
template <typename Value>
[[gnu::always_inline]] inline void add_entries(call& c, object_record& target, attribute_key key,
                                               const void* keys, const void* values, uint64_t count,
                                               const char* key_word) {
    if (keys == nullptr || values == nullptr) {
        c.warn(format("the %ss or the values are a null pointer", key_word));
        return;
    }
    const auto* key_texts = static_cast<const char* const*>(keys);
    const auto* items = static_cast<const Value*>(values);
    for (uint64_t i = 0; i < count; ++i) {
        const char* name = key_texts[i];
        if (name == nullptr) {
            c.warn(
                format("%s %llu is a null pointer", key_word, static_cast<unsigned long long>(i)));
            continue;
        }
        const entry_value value = decode_value(items[i]);
        const bool added = target.add_written(
            key, value.type, [name](text_buffer& texts) { append_printable_text(texts, name); },
            [&value](text_buffer& texts) { append_printable_text(texts, value.text); },
            value.integer, value.floating);
        c.kept(target, added, count - i - 1);
        if (!added) return;
    }
}

// The word that names a key of the attributes in the warnings.
constexpr const char* key_word(attribute_key key) {
    return key == attribute_key::span_attribute ? "key" : "name";
}

// Adds the entries of one call to a live tracer of the kind; the kind and the key are the
// slot's, fixed for each. Nothing is read for a tracer in a trace that is not recorded.
template <typename Value, tracer_kind kind, attribute_key key>
[[gnu::always_inline]] inline void add_pairs(call& c, quorin_handle_t handle, const void* keys,
                                             const void* values, const void* count) {
    if (!c) return;
    const nesting_entry* here = started_on_this_thread(c, handle, kind);
    uint64_t entries = 0;
    if (unrecorded(here, handle)) {
        c.count(count, &entries);  // only the count is checked
        return;
    }
    object_table::locked tracer = live_tracer(c, here, handle, kind);
    if (!tracer || !c.count(count, &entries) || entries == 0) return;
    add_entries<Value>(c, *tracer, key, keys, values, entries, key_word(key));
    if constexpr (kind == tracer_kind::incoming_web_request && key == attribute_key::request_header)
        tracer->has_request_headers = true;
}

}  // namespace agent_core
