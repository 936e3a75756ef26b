#include "otlp_model.h"

#include <algorithm>

namespace otel {

namespace {
template <size_t n>
bool any_set(const uint8_t (&bytes)[n]) {
    return std::any_of(bytes, bytes + n, [](uint8_t b) { return b != 0; });
}
}  // namespace

bool trace_id::valid() const { return any_set(bytes); }
bool span_id::valid() const { return any_set(bytes); }

void span_record::clear(size_t retain_bytes) {
    trace = {};
    span = {};
    parent = {};
    flags = trace_flag_sampled;
    kind = span_kind::internal;
    status = status_code::unset;
    start_unix_nano = end_unix_nano = 0;
    dropped_attributes = dropped_events = 0;
    name_ = status_message_ = {};
    current_owner_ = 0;
    span_attribute_count_ = event_attribute_count_ = 0;
    if (texts_.capacity() > retain_bytes) {
        std::string().swap(texts_);
    } else {
        texts_.clear();
    }
    if (attributes_.capacity() * sizeof(attribute) > retain_bytes) {
        std::vector<attribute>().swap(attributes_);
    } else {
        attributes_.clear();
    }
    if (events_.capacity() * sizeof(event) > retain_bytes) {
        std::vector<event>().swap(events_);
    } else {
        events_.clear();
    }
}

text_ref span_record::store(std::string_view value) {
    // Texts past 4 GiB do not occur; the arena's offsets are 32-bit.
    const text_ref ref{static_cast<uint32_t>(texts_.size()), static_cast<uint32_t>(value.size())};
    texts_.append(value);
    return ref;
}

void span_record::set_status(status_code code, std::string_view message) {
    status = code;
    // The status message is meaningful only for errors.
    status_message_ = code == status_code::error ? store(message) : text_ref{};
}

attribute* span_record::new_attribute(std::string_view key, value_type type) {
    if (current_owner_ == dropped_event) return nullptr;
    uint32_t& count = current_owner_ == 0 ? span_attribute_count_ : event_attribute_count_;
    if (count >= limits.attributes) {
        if (current_owner_ == 0) {
            ++dropped_attributes;
        } else {
            ++events_[current_owner_ - 1].dropped_attributes;
        }
        return nullptr;
    }
    ++count;
    attribute& added = attributes_.emplace_back();
    added.key = store(key);
    added.type = type;
    added.owner = current_owner_;
    return &added;
}

void span_record::add_attribute(std::string_view key, std::string_view value) {
    if (attribute* a = new_attribute(key, value_type::string)) a->text = store(value);
}
void span_record::add_attribute(std::string_view key, int64_t value) {
    if (attribute* a = new_attribute(key, value_type::integer)) a->integer = value;
}
void span_record::add_attribute(std::string_view key, double value) {
    if (attribute* a = new_attribute(key, value_type::floating)) a->floating = value;
}
void span_record::add_attribute(std::string_view key, bool value) {
    if (attribute* a = new_attribute(key, value_type::boolean)) a->boolean = value;
}

bool span_record::add_event(std::string_view name, uint64_t time_unix_nano) {
    // Events are numbered by a 16-bit owner; the limit keeps well below that.
    if (events_.size() >= std::min<uint32_t>(limits.events, dropped_event - 1)) {
        ++dropped_events;
        current_owner_ = dropped_event;
        return false;
    }
    events_.push_back(event{store(name), time_unix_nano, 0});
    current_owner_ = static_cast<uint16_t>(events_.size());
    event_attribute_count_ = 0;
    return true;
}

size_t span_record::content_bytes() const {
    // Capacity, not size: a record reused for a small span may still hold a large one's buffers.
    return sizeof(span_record) + texts_.capacity() + attributes_.capacity() * sizeof(attribute) +
           events_.capacity() * sizeof(event);
}

}  // namespace otel
