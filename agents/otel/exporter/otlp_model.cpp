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

template class reusable_buffer<char>;
template class reusable_buffer<attribute>;

void otlp_span::clear(size_t retain_bytes) {
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
    texts_.clear(retain_bytes);
    attributes_.clear(retain_bytes);
    if (events_.capacity() * sizeof(event) > retain_bytes) {
        std::vector<event>().swap(events_);
    } else {
        events_.clear();
    }
}

void otlp_span::set_name(std::string_view first, std::string_view separator,
                         std::string_view second) {
    char* out = texts_.extend(first.size() + separator.size() + second.size(), &name_);
    for (const std::string_view part : {first, separator, second}) {
        copy_text(out, part);
        out += part.size();
    }
}

void otlp_span::set_status(status_code code, std::string_view message) {
    status = code;
    // The status message is meaningful only for errors.
    status_message_ = code == status_code::error ? texts_.append(message) : text_ref{};
}

void otlp_span::add_text_attribute_out_of_line(std::string_view key, std::string_view value) {
    add_text_attribute(key, value);
}

bool otlp_span::counted_other_attribute() {
    if (current_owner_ == dropped_event) return false;
    uint32_t& count = current_owner_ == 0 ? span_attribute_count_ : event_attribute_count_;
    if (count >= limits.attributes) {
        if (current_owner_ == 0) {
            ++dropped_attributes;
        } else {
            ++events_[current_owner_ - 1].dropped_attributes;
        }
        return false;
    }
    ++count;
    return true;
}

bool otlp_span::add_event(std::string_view name, uint64_t time_unix_nano) {
    // Events are numbered by a 16-bit owner; the limit keeps well below that.
    if (events_.size() >= std::min<uint32_t>(limits.events, dropped_event - 1)) {
        ++dropped_events;
        current_owner_ = dropped_event;
        return false;
    }
    events_.push_back(event{texts_.append(name), time_unix_nano, 0});
    current_owner_ = static_cast<uint16_t>(events_.size());
    event_attribute_count_ = 0;
    return true;
}

size_t otlp_span::content_bytes() const {
    // Capacity, not size: a span reused for a small one may still hold a large one's buffers.
    return sizeof(otlp_span) + texts_.capacity_bytes() + attributes_.capacity_bytes() +
           events_.capacity() * sizeof(event);
}

}  // namespace otel
