// The OTLP encoder on spans or metrics that the input builds through their own API. The
// body must be an exact nesting of protobuf fields, each of a number and wire type its message
// may hold, and give back every field the input set: for spans, what the span limits keep. The
// spans are then cleared as the exporter's pool does, filled again from the same input and
// encoded into the same string: the body is the same, byte for byte.
//
// Input: 't' (spans) or 'm' (metrics; others by their value), the resource's attributes (a
// count byte, then each), the scope's name and version, then operations, each a letter and its
// values (see span_operations and metric_operations). Texts are byte texts, repeated as often as
// the last 'r' said, so that messages outgrow one- and two-byte lengths.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "otlp_encoder.h"
#include "protobuf_wire_reader.h"

namespace {

using otel::key_value;
using otel::value_type;

// S: new span (trace id as two numbers, span id, parent id, kind, start, end, limits of
// attributes and events); n: name; a: attribute (type: 0 text, 1 integer, 2 double, 3 boolean,
// 4 text array of up to 3 texts; key; value); e: event (name, time); x: end of the event's
// attributes; s: status (code, message); r: repeat.
constexpr std::string_view span_operations = "Snaexsr";
// M: new metric (type, temporality, monotonic, name, description, unit); p: number point
// (floating, value, start, time, attributes); h: histogram point (count, sum, min, max, bounds,
// bucket counts, start, time, attributes); r: repeat.
constexpr std::string_view metric_operations = "Mphr";

class otlp_input {
  public:
    otlp_input(const uint8_t* data, size_t size) : in_(data, size) {}

    bool empty() const { return in_.empty(); }
    uint8_t byte() { return in_.byte(); }
    uint64_t number() { return in_.number(); }
    double floating() {
        const uint64_t bits = number();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    char operation(std::string_view letters) {
        const uint8_t b = byte();
        const size_t known = letters.find(static_cast<char>(b));
        return letters[known != letters.npos ? known : b % letters.size()];
    }
    void set_repeat() { repeat_ = 1 + byte() % 32; }
    std::string text() {
        const std::string once = in_.bytes();
        std::string all;
        for (unsigned i = 0; i < repeat_; ++i) all += once;
        return all;
    }
    key_value attribute() {
        const uint8_t type = byte() % 5;
        std::string key = text();
        switch (type) {
            case 0:
                return key_value::of(std::move(key), text());
            case 1:
                return key_value::of(std::move(key), static_cast<int64_t>(number()));
            case 2:
                return key_value::of(std::move(key), floating());
            case 3:
                return key_value::of(std::move(key), (byte() & 1) != 0);
            default: {
                std::vector<std::string> texts(byte() % 4);
                for (std::string& element : texts) element = text();
                return key_value::of(std::move(key), std::move(texts));
            }
        }
    }
    std::vector<key_value> attributes() {
        std::vector<key_value> list(byte() % 4);
        for (key_value& kv : list) kv = attribute();
        return list;
    }

  private:
    fuzz_input in_;
    unsigned repeat_ = 1;
};

uint64_t bits_of(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

void check_key_value(std::string_view bytes, const key_value& expected) {
    const wire_message kv(bytes, {{1, length_wire}, {2, length_wire}});
    FUZZ_CHECK(kv.text(1) == expected.key && kv.count(2) == 1);
    const wire_message any(kv.text(2), {{1, length_wire},
                                        {2, varint_wire},
                                        {3, varint_wire},
                                        {4, fixed64_wire},
                                        {5, length_wire}});
    FUZZ_CHECK(any.size() == 1);
    switch (expected.type) {
        case value_type::string_array: {
            FUZZ_CHECK(any.has(5));
            const auto elements = wire_message(any.text(5), {{1, length_wire}}).all(1);
            FUZZ_CHECK(elements.size() == expected.texts.size());
            for (size_t i = 0; i < elements.size(); ++i) {
                const wire_message element(elements[i], {{1, length_wire}});
                FUZZ_CHECK(element.size() == 1 && element.has(1) &&
                           element.text(1) == expected.texts[i]);
            }
            break;
        }
        case value_type::string:
            FUZZ_CHECK(any.has(1) && any.text(1) == expected.text);
            break;
        case value_type::boolean:
            FUZZ_CHECK(any.has(2) && any.value(2) == uint64_t{expected.boolean});
            break;
        case value_type::integer:
            FUZZ_CHECK(any.has(3) && any.value(3) == static_cast<uint64_t>(expected.integer));
            break;
        case value_type::floating:
            FUZZ_CHECK(any.has(4) && any.value(4) == bits_of(expected.floating));
            break;
    }
}

void check_key_values(const std::vector<std::string_view>& found,
                      const std::vector<key_value>& expected) {
    FUZZ_CHECK(found.size() == expected.size());
    for (size_t i = 0; i < found.size(); ++i) check_key_value(found[i], expected[i]);
}

// The request's one resource and one scope; gives the content of the scope's list field (2).
std::vector<std::string_view> check_envelope(std::string_view body, const otel::resource& origin,
                                             const otel::instrumentation_scope& scope) {
    const wire_message request(body, {{1, length_wire}});
    FUZZ_CHECK(request.count(1) == 1);
    const wire_message resource_level(request.text(1), {{1, length_wire}, {2, length_wire}});
    FUZZ_CHECK(resource_level.count(1) == 1 && resource_level.count(2) == 1);
    const wire_message resource(resource_level.text(1), {{1, length_wire}});
    check_key_values(resource.all(1), origin.attributes);
    const wire_message scope_level(resource_level.text(2), {{1, length_wire}, {2, length_wire}});
    FUZZ_CHECK(scope_level.count(1) == 1);
    const wire_message scope_message(scope_level.text(1), {{1, length_wire}, {2, length_wire}});
    FUZZ_CHECK(scope_message.text(1) == scope.name && scope_message.text(2) == scope.version);
    return scope_level.all(2);
}

// ---- spans ----

struct expected_event {
    std::string name;
    uint64_t time = 0;
    std::vector<key_value> attributes;
    uint32_t dropped_attributes = 0;
};

// What a span should hold after the limits: the input's values, kept or counted as dropped.
struct expected_span {
    otel::otlp_span* built;  // the span the input builds
    std::string name;
    otel::status_code status = otel::status_code::unset;
    std::string status_message;
    std::vector<key_value> attributes;
    uint32_t dropped_attributes = 0;
    std::vector<expected_event> events;
    uint32_t dropped_events = 0;
    enum { to_span, to_event, to_dropped_event } attributes_go = to_span;

    void add(const key_value& kv) {
        switch (kv.type) {
            case value_type::string:
                built->add_attribute(kv.key, kv.text);
                break;
            case value_type::integer:
                built->add_attribute(kv.key, kv.integer);
                break;
            case value_type::floating:
                built->add_attribute(kv.key, kv.floating);
                break;
            case value_type::boolean:
                built->add_attribute(kv.key, kv.boolean);
                break;
            case value_type::string_array: {
                const std::vector<std::string_view> views(kv.texts.begin(), kv.texts.end());
                built->add_attribute(kv.key, std::span<const std::string_view>(views));
                break;
            }
        }
        if (attributes_go == to_dropped_event) return;
        const bool to_span_itself = attributes_go == to_span;
        auto& list = to_span_itself ? attributes : events.back().attributes;
        if (list.size() <
            (to_span_itself ? built->limits.attributes : built->limits.event_attributes)) {
            list.push_back(kv);
        } else {
            ++(to_span_itself ? dropped_attributes : events.back().dropped_attributes);
        }
    }
    void add_event(std::string event_name, uint64_t time) {
        built->add_event(event_name, time);
        if (events.size() < built->limits.events) {
            events.push_back({std::move(event_name), time, {}, 0});
            attributes_go = to_event;
        } else {
            ++dropped_events;
            attributes_go = to_dropped_event;
        }
    }
};

// The span's plain fields are the input's values as they are; the rest goes through the API.
void start_span(otlp_input& in, otel::otlp_span& span, expected_span& expected) {
    expected.built = &span;
    const uint64_t ids[] = {in.number(), in.number(), in.number(), in.number()};
    std::memcpy(span.trace.bytes, ids, 16);
    std::memcpy(span.span.bytes, ids + 2, 8);
    std::memcpy(span.parent.bytes, ids + 3, 8);
    span.kind = static_cast<otel::span_kind>(in.byte() % 6);
    span.start_unix_nano = in.number();
    span.end_unix_nano = in.number();
    span.limits.attributes = in.byte();
    span.limits.events = in.byte();
    span.limits.event_attributes = span.limits.attributes / 2;
}

// Builds the spans in the pool, reusing the spans it has, in order.
std::vector<expected_span> build_spans(otlp_input& in,
                                       std::vector<std::unique_ptr<otel::otlp_span>>& pool) {
    std::vector<expected_span> spans;
    while (!in.empty()) {
        const char operation = in.operation(span_operations);
        if (operation == 'r') {
            in.set_repeat();
            continue;
        }
        if (operation == 'S') {
            const size_t index = spans.size();
            if (pool.size() == index) pool.push_back(std::make_unique<otel::otlp_span>());
            start_span(in, *pool[index], spans.emplace_back());
            continue;
        }
        if (spans.empty()) continue;
        expected_span& span = spans.back();
        switch (operation) {
            case 'n':
                span.name = in.text();
                span.built->set_name(span.name);
                break;
            case 'a':
                span.add(in.attribute());
                break;
            case 'e': {
                std::string name = in.text();
                span.add_event(std::move(name), in.number());
                break;
            }
            case 'x':
                span.built->end_event();
                span.attributes_go = expected_span::to_span;
                break;
            case 's': {
                span.status = static_cast<otel::status_code>(in.byte() % 3);
                const std::string message = in.text();
                span.built->set_status(span.status, message);
                span.status_message = span.status == otel::status_code::error ? message : "";
                break;
            }
        }
    }
    return spans;
}

void check_span(std::string_view bytes, const expected_span& expected) {
    const wire_message span(bytes, {{1, length_wire},
                                    {2, length_wire},
                                    {4, length_wire},
                                    {5, length_wire},
                                    {6, varint_wire},
                                    {7, fixed64_wire},
                                    {8, fixed64_wire},
                                    {9, length_wire},
                                    {10, varint_wire},
                                    {11, length_wire},
                                    {12, varint_wire},
                                    {15, length_wire}});
    const auto id = [](const auto& bytes) {
        return std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes);
    };
    const otel::otlp_span& built = *expected.built;
    FUZZ_CHECK(span.text(1) == id(built.trace.bytes) && span.text(2) == id(built.span.bytes));
    FUZZ_CHECK(span.text(4) == (built.parent.valid() ? id(built.parent.bytes) : ""));
    FUZZ_CHECK(span.text(5) == expected.name);
    FUZZ_CHECK(span.value(6) == static_cast<uint64_t>(built.kind));
    FUZZ_CHECK(span.has(7) && span.value(7) == built.start_unix_nano);
    FUZZ_CHECK(span.has(8) && span.value(8) == built.end_unix_nano);
    check_key_values(span.all(9), expected.attributes);
    FUZZ_CHECK(span.value(10) == expected.dropped_attributes);
    const auto events = span.all(11);
    FUZZ_CHECK(events.size() == expected.events.size());
    for (size_t i = 0; i < events.size(); ++i) {
        const wire_message event(
            events[i], {{1, fixed64_wire}, {2, length_wire}, {3, length_wire}, {4, varint_wire}});
        FUZZ_CHECK(event.has(1) && event.value(1) == expected.events[i].time);
        FUZZ_CHECK(event.text(2) == expected.events[i].name);
        check_key_values(event.all(3), expected.events[i].attributes);
        FUZZ_CHECK(event.value(4) == expected.events[i].dropped_attributes);
    }
    FUZZ_CHECK(span.value(12) == expected.dropped_events);
    FUZZ_CHECK(span.has(15) == (expected.status != otel::status_code::unset));
    const wire_message status(span.text(15), {{2, length_wire}, {3, varint_wire}});
    FUZZ_CHECK(status.text(2) == expected.status_message);
    FUZZ_CHECK(status.value(3) == static_cast<uint64_t>(expected.status));
}

// ---- metrics ----

void add_histogram_point(otlp_input& in, otel::otlp_metric& metric) {
    otel::histogram_point& point = metric.histograms.emplace_back();
    point.count = in.number();
    point.sum = in.floating();
    point.min = in.floating();
    point.max = in.floating();
    point.bounds.resize(in.byte() % 8);
    for (double& bound : point.bounds) bound = in.floating();
    point.bucket_counts.resize(in.byte() % 10);
    for (uint64_t& count : point.bucket_counts) count = in.number();
    point.start_unix_nano = in.number();
    point.time_unix_nano = in.number();
    point.attributes = in.attributes();
}

std::vector<otel::otlp_metric> build_metrics(otlp_input& in) {
    std::vector<otel::otlp_metric> metrics;
    while (!in.empty()) {
        const char operation = in.operation(metric_operations);
        if (operation == 'r') {
            in.set_repeat();
        } else if (operation == 'M') {
            otel::otlp_metric& metric = metrics.emplace_back();
            metric.type = static_cast<otel::metric_type>(in.byte() % 3);
            metric.aggregation = static_cast<otel::temporality>(in.byte() % 3);
            metric.monotonic = (in.byte() & 1) != 0;
            metric.name = in.text();
            metric.description = in.text();
            metric.unit = in.text();
        } else if (metrics.empty()) {
            continue;
        } else if (operation == 'p') {
            otel::number_point& point = metrics.back().numbers.emplace_back();
            point.floating = (in.byte() & 1) != 0;
            point.integer = static_cast<int64_t>(in.number());
            point.value = point.floating ? in.floating() : 0;
            point.start_unix_nano = in.number();
            point.time_unix_nano = in.number();
            point.attributes = in.attributes();
        } else {
            add_histogram_point(in, metrics.back());
        }
    }
    return metrics;
}

void check_number_point(std::string_view bytes, const otel::number_point& expected) {
    const wire_message point(bytes, {{2, fixed64_wire},
                                     {3, fixed64_wire},
                                     {4, fixed64_wire},
                                     {6, fixed64_wire},
                                     {7, length_wire}});
    FUZZ_CHECK(point.value(2) == expected.start_unix_nano);
    FUZZ_CHECK(point.has(3) && point.value(3) == expected.time_unix_nano);
    if (expected.floating) {
        FUZZ_CHECK(point.has(4) && !point.has(6) && point.value(4) == bits_of(expected.value));
    } else {
        FUZZ_CHECK(point.has(6) && !point.has(4));
        FUZZ_CHECK(point.value(6) == static_cast<uint64_t>(expected.integer));
    }
    check_key_values(point.all(7), expected.attributes);
}

template <typename value>
void check_packed(const wire_message& message, uint32_t field, const std::vector<value>& expected) {
    FUZZ_CHECK(message.count(field) == (expected.empty() ? 0 : 1));
    const std::vector<uint64_t> found = read_packed_fixed64(message.text(field));
    FUZZ_CHECK(found.size() == expected.size());
    for (size_t i = 0; i < found.size(); ++i) {
        uint64_t bits;
        std::memcpy(&bits, &expected[i], sizeof bits);
        FUZZ_CHECK(found[i] == bits);
    }
}

void check_histogram_point(std::string_view bytes, const otel::histogram_point& expected) {
    const wire_message point(bytes, {{2, fixed64_wire},
                                     {3, fixed64_wire},
                                     {4, fixed64_wire},
                                     {5, fixed64_wire},
                                     {6, length_wire},
                                     {7, length_wire},
                                     {9, length_wire},
                                     {11, fixed64_wire},
                                     {12, fixed64_wire}});
    FUZZ_CHECK(point.value(2) == expected.start_unix_nano);
    FUZZ_CHECK(point.has(3) && point.value(3) == expected.time_unix_nano);
    FUZZ_CHECK(point.has(4) && point.value(4) == expected.count);
    FUZZ_CHECK(point.has(5) && point.value(5) == bits_of(expected.sum));
    check_packed(point, 6, expected.bucket_counts);
    check_packed(point, 7, expected.bounds);
    check_key_values(point.all(9), expected.attributes);
    // min and max only describe points that counted something.
    FUZZ_CHECK(point.has(11) == (expected.count > 0) && point.has(12) == (expected.count > 0));
    if (expected.count > 0) {
        FUZZ_CHECK(point.value(11) == bits_of(expected.min));
        FUZZ_CHECK(point.value(12) == bits_of(expected.max));
    }
}

void check_metric(std::string_view bytes, const otel::otlp_metric& expected) {
    const wire_message metric(bytes, {{1, length_wire},
                                      {2, length_wire},
                                      {3, length_wire},
                                      {5, length_wire},
                                      {7, length_wire},
                                      {9, length_wire}});
    FUZZ_CHECK(metric.text(1) == expected.name && metric.text(2) == expected.description &&
               metric.text(3) == expected.unit);
    const uint32_t data_field = expected.type == otel::metric_type::gauge ? 5
                                : expected.type == otel::metric_type::sum ? 7
                                                                          : 9;
    FUZZ_CHECK(metric.size() == 1 + metric.has(1) + metric.has(2) + metric.has(3));
    FUZZ_CHECK(metric.count(data_field) == 1);
    const wire_message data(metric.text(data_field),
                            {{1, length_wire}, {2, varint_wire}, {3, varint_wire}});
    const auto points = data.all(1);
    if (expected.type == otel::metric_type::histogram) {
        FUZZ_CHECK(points.size() == expected.histograms.size() && !data.has(3));
        for (size_t i = 0; i < points.size(); ++i) {
            check_histogram_point(points[i], expected.histograms[i]);
        }
    } else {
        FUZZ_CHECK(points.size() == expected.numbers.size());
        for (size_t i = 0; i < points.size(); ++i)
            check_number_point(points[i], expected.numbers[i]);
    }
    const bool sum = expected.type == otel::metric_type::sum;
    const bool gauge = expected.type == otel::metric_type::gauge;
    FUZZ_CHECK(data.value(2) == (gauge ? 0 : static_cast<uint64_t>(expected.aggregation)));
    FUZZ_CHECK(data.value(3) == uint64_t{sum && expected.monotonic});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool spans = data[0] % 2 == 't' % 2;
    // Kept from input to input, as the exporter keeps its spans and its body buffer.
    static std::vector<std::unique_ptr<otel::otlp_span>> pool;
    static std::string out;
    std::string first_body;
    for (int pass = 0; pass < 2; ++pass) {
        otlp_input in(data + 1, size - 1);
        const otel::resource origin{in.attributes(), {}};
        otel::instrumentation_scope scope;
        scope.name = in.text();
        scope.version = in.text();
        std::vector<std::string_view> found;
        if (spans) {
            for (size_t i = 0; i < pool.size(); ++i) pool[i]->clear(i % 2 == 0 ? 0 : 16 * 1024);
            const auto expected = build_spans(in, pool);
            std::vector<const otel::otlp_span*> built;
            for (const expected_span& span : expected) built.push_back(span.built);
            otel::encode_trace_request(origin, scope, built, out);
            if (pass == 1) break;
            found = check_envelope(out, origin, scope);
            FUZZ_CHECK(found.size() == expected.size());
            for (size_t i = 0; i < found.size(); ++i) check_span(found[i], expected[i]);
        } else {
            const auto metrics = build_metrics(in);
            otel::encode_metrics_request(origin, scope, metrics, out);
            if (pass == 1) break;
            found = check_envelope(out, origin, scope);
            FUZZ_CHECK(found.size() == metrics.size());
            for (size_t i = 0; i < found.size(); ++i) check_metric(found[i], metrics[i]);
        }
        first_body = out;
    }
    FUZZ_CHECK(out == first_body);
    return 0;
}
