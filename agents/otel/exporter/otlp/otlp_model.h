// The OTLP objects the agent exports: finished spans and metric data points, plus the
// resource and instrumentation scope they are reported under. An otlp_span keeps its texts in
// one arena and its attributes in one array, so a span taken back from the exporter's pool
// is filled again without allocating once it has grown to the sizes the application uses.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "reusable_buffers.h"

namespace otel {

// Values as the OTLP enums number them.
enum class span_kind : uint8_t { unspecified = 0, internal, server, client, producer, consumer };
enum class status_code : uint8_t { unset = 0, ok = 1, error = 2 };
enum class value_type : uint8_t { string, integer, floating, boolean, string_array };

// Who set an attribute, which decides among attributes of one key (see settle_attributes).
enum class attribute_origin : uint8_t {
    agent,        // a name of the conventions the agent fills
    application,  // a key the application chose
    repeatable,   // a header or parameter: repeated, its values become one string array
    removed,      // while settling
};

struct trace_id {
    uint8_t bytes[16] = {};
    bool valid() const;  // not all zero
    friend bool operator==(const trace_id&, const trace_id&) = default;
};
struct span_id {
    uint8_t bytes[8] = {};
    bool valid() const;
    friend bool operator==(const span_id&, const span_id&) = default;
};

inline constexpr uint8_t trace_flag_sampled = 0x01;

struct attribute {
    text_ref key;
    value_type type = value_type::string;
    attribute_origin origin = attribute_origin::agent;
    uint16_t owner = 0;  // 0: the span; n: the span's event n-1
    union {
        text_ref text;  // string_array: its elements, each a 32-bit length and its bytes
        int64_t integer;
        double floating;
        bool boolean;
    };
    attribute() : text{} {}
};

struct event {
    text_ref name;
    uint64_t time_unix_nano = 0;
    uint32_t dropped_attributes = 0;
};

extern template class reusable_buffer<attribute>;

struct span_limits {
    uint32_t attributes = 128;  // per span
    uint32_t event_attributes = 128;
    uint32_t events = 128;
    uint32_t value_length = UINT32_MAX;  // bytes of a text value or array element
};

class otlp_span {
  public:
    trace_id trace;
    span_id span;
    span_id parent;  // all zero for a root span
    uint8_t flags = trace_flag_sampled;
    span_kind kind = span_kind::internal;
    status_code status = status_code::unset;
    uint64_t start_unix_nano = 0;
    uint64_t end_unix_nano = 0;
    uint32_t dropped_attributes = 0;
    uint32_t dropped_events = 0;

    // Forgets the content and keeps the memory; buffers grown past retain_bytes are freed, so
    // one huge span does not pin its memory in the pool for good.
    void clear(size_t retain_bytes = 16 * 1024);

    void set_name(std::string_view name) { name_ = texts_.append(name); }
    // The three texts one after the other.
    void set_name(std::string_view first, std::string_view separator, std::string_view second);
    void set_status(status_code code, std::string_view message = {});
    // The W3C tracestate of the span's trace, as kept.
    void set_trace_state(std::string_view state) { trace_state_ = texts_.append(state); }
    // Later values of the same key are kept as well, until settle_attributes.
    void add_attribute(std::string_view key, std::string_view value) {
        value = limited(value);
        // The usual case, a span's attribute in the memory the span has, calls nothing.
        if (fits_span_attribute(key.size() + value.size())) {
            add_text_attribute(key, value);
        } else {
            add_text_attribute_out_of_line(key, value);
        }
    }
    void add_attribute(std::string_view key, const char* value) {
        add_attribute(key, std::string_view(value));
    }
    void add_attribute(std::string_view key, int64_t value) {
        if (attribute* a = new_attribute(key, value_type::integer)) a->integer = value;
    }
    void add_attribute(std::string_view key, double value) {
        if (attribute* a = new_attribute(key, value_type::floating)) a->floating = value;
    }
    void add_attribute(std::string_view key, bool value) {
        if (attribute* a = new_attribute(key, value_type::boolean)) a->boolean = value;
    }
    void add_attribute(std::string_view key, std::span<const std::string_view> values);
    // The origin of the attributes added from now on (agent until set).
    void set_origin(attribute_origin origin) { current_origin_ = origin; }
    // A text attribute whose key of key_size bytes the caller writes at the pointer returned,
    // before it adds anything else; null when the attribute is dropped.
    char* add_attribute_writing_key(size_t key_size, std::string_view value) {
        attribute* a = new_attribute(value_type::string);
        return a != nullptr ? texts_.extend_before(key_size, limited(value), &a->key, &a->text)
                            : nullptr;
    }
    // Leaves one attribute of each key in the span and in each event, and none with an empty
    // key: an application's attribute gives way to the agent's of that name, repeated
    // headers or parameters become one string array of their values in order, and otherwise
    // the last value wins. Returns the settled_* reasons that removed an attribute.
    // settled_repeated: a key came more than once (no fault of the application's).
    static constexpr uint32_t settled_shadowed = 1, settled_empty_key = 2, settled_repeated = 4;
    uint32_t settle_attributes();
    // The elements of a string_array attribute, in order.
    template <typename each_element>
    void for_each_element(const attribute& array, each_element each) const {
        std::string_view rest = text(array.text);
        while (rest.size() >= sizeof(uint32_t)) {
            uint32_t size;
            std::memcpy(&size, rest.data(), sizeof size);
            each(rest.substr(sizeof size, size));
            rest.remove_prefix(sizeof size + size);
        }
    }

    // Attributes added after an event belong to it until the next add_event or end_event.
    bool add_event(std::string_view name, uint64_t time_unix_nano);
    void end_event() { current_owner_ = 0; }

    std::string_view name() const { return text(name_); }
    std::string_view status_message() const { return text(status_message_); }
    std::string_view trace_state() const { return text(trace_state_); }
    std::string_view text(text_ref ref) const { return texts_.view(ref); }
    std::span<const attribute> attributes() const {
        return {attributes_.data(), attributes_.size()};
    }
    const std::vector<event>& events() const { return events_; }
    // Memory the span holds, its buffers' capacity included: what the exporter's pool counts
    // against the share of the byte bound its waiting spans may keep.
    size_t content_bytes() const;

    span_limits limits;

  private:
    // The value cut to the length limit, at a character's boundary.
    std::string_view limited(std::string_view value) const {
        return value.size() <= limits.value_length ? value : cut_utf8(value, limits.value_length);
    }
    static std::string_view cut_utf8(std::string_view value, size_t length);
    bool fits_span_attribute(size_t text_bytes) const {
        return current_owner_ == 0 && span_attribute_count_ < limits.attributes &&
               attributes_.fits(1) && texts_.fits(text_bytes);
    }
    void add_text_attribute(std::string_view key, std::string_view value) {
        if (attribute* a = new_attribute(value_type::string)) {
            texts_.append(key, value, &a->key, &a->text);
        }
    }
    // An event's attribute, one past the limit, or one that grows the span's memory.
    void add_text_attribute_out_of_line(std::string_view key, std::string_view value);
    attribute* new_attribute(std::string_view key, value_type type) {
        attribute* added = new_attribute(type);
        if (added != nullptr) added->key = texts_.append(key);
        return added;
    }
    attribute* new_attribute(value_type type) {
        if (!counted_attribute()) return nullptr;
        // The caller sets the key and the value.
        attribute* added = attributes_.extend(1);
        added->type = type;
        added->origin = current_origin_;
        added->owner = current_owner_;
        return added;
    }
    // Counts an attribute of the current owner; false when it is dropped.
    bool counted_attribute() {
        if (current_owner_ != 0 || span_attribute_count_ >= limits.attributes) {
            return counted_other_attribute();
        }
        ++span_attribute_count_;
        return true;
    }
    // An event's attribute, or one past the span's limit.
    bool counted_other_attribute();

    text_arena texts_;
    reusable_buffer<attribute> attributes_;
    std::vector<event> events_;
    text_ref name_;
    text_ref status_message_;
    text_ref trace_state_;
    // The values of `count` texts as a string_array's text.
    template <typename text_at>
    text_ref append_elements(size_t count, text_at text_of);
    uint32_t settle_key(size_t first);

    attribute_origin current_origin_ = attribute_origin::agent;
    uint16_t current_owner_ = 0;  // dropped_event: attributes of an event that was dropped
    uint32_t span_attribute_count_ = 0;
    uint32_t event_attribute_count_ = 0;
    static constexpr uint16_t dropped_event = 0xFFFF;
};

// An attribute that owns its texts: for the resource, the scope and metric data points, which
// are few and built once per interval.
struct key_value {
    std::string key;
    value_type type = value_type::string;
    std::string text;
    std::vector<std::string> texts;  // string_array
    int64_t integer = 0;
    double floating = 0;
    bool boolean = false;

    // The value's type decides the attribute's: std::string, int64_t, double, bool or
    // std::vector<std::string>.
    template <typename value_of>
    static key_value of(std::string key, value_of value) {
        key_value kv;
        kv.key = std::move(key);
        if constexpr (std::is_same_v<value_of, std::string>) {
            kv.text = std::move(value);
        } else if constexpr (std::is_same_v<value_of, int64_t>) {
            kv.type = value_type::integer;
            kv.integer = value;
        } else if constexpr (std::is_same_v<value_of, std::vector<std::string>>) {
            kv.type = value_type::string_array;
            kv.texts = std::move(value);
        } else if constexpr (std::is_same_v<value_of, double>) {
            kv.type = value_type::floating;
            kv.floating = value;
        } else {
            static_assert(std::is_same_v<value_of, bool>, "string, int64_t, double or bool");
            kv.type = value_type::boolean;
            kv.boolean = value;
        }
        return kv;
    }
    friend bool operator==(const key_value&, const key_value&) = default;
};

struct resource {
    std::vector<key_value> attributes;
    // The service.instance.id the process drew for itself ("" when one was configured): a
    // fork child draws its own.
    std::string detected_instance_id;
};

struct instrumentation_scope {
    std::string name;
    std::string version;
};

enum class metric_type : uint8_t { sum, gauge, histogram };
enum class temporality : uint8_t { unspecified = 0, delta = 1, cumulative = 2 };

struct number_point {
    std::vector<key_value> attributes;
    uint64_t start_unix_nano = 0;
    uint64_t time_unix_nano = 0;
    bool floating = false;
    int64_t integer = 0;
    double value = 0;
};

struct histogram_point {
    std::vector<key_value> attributes;
    uint64_t start_unix_nano = 0;
    uint64_t time_unix_nano = 0;
    uint64_t count = 0;
    double sum = 0;
    double min = 0;  // min and max are sent only when count > 0
    double max = 0;
    std::vector<double> bounds;           // explicit bucket bounds, ascending
    std::vector<uint64_t> bucket_counts;  // bounds.size() + 1 entries, or none
};

struct otlp_metric {
    std::string name;
    std::string description;
    std::string unit;
    metric_type type = metric_type::sum;
    temporality aggregation = temporality::cumulative;  // sums and histograms
    bool monotonic = true;                              // sums
    std::vector<number_point> numbers;                  // sums and gauges
    std::vector<histogram_point> histograms;            // histograms
};

}  // namespace otel
