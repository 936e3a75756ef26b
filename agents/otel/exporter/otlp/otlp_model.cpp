#include "otlp_model.h"

#include <algorithm>
#include <vector>

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
    name_ = status_message_ = trace_state_ = {};
    current_origin_ = attribute_origin::agent;
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

std::string_view otlp_span::cut_utf8(std::string_view value, size_t length) {
    // Back over continuation bytes (10xxxxxx) to the start of the character that would be cut.
    while (length > 0 && (static_cast<unsigned char>(value[length]) & 0xC0) == 0x80) --length;
    return value.substr(0, length);
}

void otlp_span::add_text_attribute_out_of_line(std::string_view key, std::string_view value) {
    add_text_attribute(key, value);
}

template <typename text_at>
text_ref otlp_span::append_elements(size_t count, text_at text_of) {
    size_t size = 0;
    for (size_t i = 0; i < count; ++i) size += sizeof(uint32_t) + text_of(i).size();
    text_ref ref;
    char* out = texts_.extend(size, &ref);
    // Read after the extension: it may have moved the texts.
    for (size_t i = 0; i < count; ++i) {
        const std::string_view element = text_of(i);
        const uint32_t length = static_cast<uint32_t>(element.size());
        std::memcpy(out, &length, sizeof length);
        std::memcpy(out + sizeof length, element.data(), element.size());
        out += sizeof length + element.size();
    }
    return ref;
}

void otlp_span::add_attribute(std::string_view key, std::span<const std::string_view> values) {
    if (attribute* a = new_attribute(key, value_type::string_array)) {
        a->text = append_elements(values.size(), [&](size_t i) { return limited(values[i]); });
    }
}

uint32_t otlp_span::settle_attributes() {
    attribute* const all = attributes_.data();
    const size_t count = attributes_.size();
    uint32_t reasons = 0;
    for (size_t i = 0; i < count; ++i) {
        if (all[i].origin == attribute_origin::removed) continue;
        if (all[i].key.length == 0) {
            all[i].origin = attribute_origin::removed;
            reasons |= settled_empty_key;
            continue;
        }
        reasons |= settle_key(i);
    }
    if (reasons == 0) return 0;
    attribute* kept = all;
    for (size_t i = 0; i < count; ++i) {
        if (all[i].origin != attribute_origin::removed) *kept++ = all[i];
    }
    attributes_.truncate(static_cast<size_t>(kept - all));
    return reasons;
}

uint32_t otlp_span::settle_key(size_t first) {
    attribute* const all = attributes_.data();
    const size_t count = attributes_.size();
    const uint16_t owner = all[first].owner;
    const std::string_view key = text(all[first].key);
    const auto same = [&](size_t at) {
        const attribute& b = all[at];
        return b.owner == owner && b.key.length == key.size() &&
               b.origin != attribute_origin::removed && text(b.key) == key;
    };
    size_t next = first + 1;
    while (next < count && !same(next)) ++next;
    if (next == count) return 0;  // the usual case: the key once

    std::vector<size_t> members{first};
    for (; next < count; ++next) {
        if (same(next)) members.push_back(next);
    }
    const auto from_application = [&](size_t at) {
        return all[at].origin == attribute_origin::application;
    };
    uint32_t reasons = settled_repeated;
    if (!std::all_of(members.begin(), members.end(), from_application)) {
        const auto agents = std::stable_partition(members.begin(), members.end(), from_application);
        if (agents != members.begin()) reasons |= settled_shadowed;
        for (auto it = members.begin(); it != agents; ++it) {
            all[*it].origin = attribute_origin::removed;
        }
        members.erase(members.begin(), agents);
    }
    const bool joined =
        members.size() > 1 && std::all_of(members.begin(), members.end(), [&](size_t at) {
            return all[at].origin == attribute_origin::repeatable &&
                   all[at].type == value_type::string;
        });
    if (joined) {
        all[members[0]].text =
            append_elements(members.size(), [&](size_t i) { return text(all[members[i]].text); });
        all[members[0]].type = value_type::string_array;
        members.erase(members.begin());
    } else {
        members.pop_back();  // the last wins
    }
    for (size_t at : members) all[at].origin = attribute_origin::removed;
    return reasons;
}

bool otlp_span::counted_other_attribute() {
    if (current_owner_ == dropped_event) return false;
    uint32_t& count = current_owner_ == 0 ? span_attribute_count_ : event_attribute_count_;
    if (count >= (current_owner_ == 0 ? limits.attributes : limits.event_attributes)) {
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
