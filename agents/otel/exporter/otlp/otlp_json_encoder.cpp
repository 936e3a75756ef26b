#include "otlp_json_encoder.h"

#include "json_writer.h"

namespace otel {

namespace {

// An AnyValue of one of the scalar types.
void write_scalar_value(json_writer& w, value_type type, std::string_view text, int64_t integer,
                        double floating, bool boolean) {
    w.begin_object();
    switch (type) {
        case value_type::string:
            w.key("stringValue");
            w.string(text);
            break;
        case value_type::integer:
            w.key("intValue");
            w.quoted_integer(integer);
            break;
        case value_type::floating:
            w.key("doubleValue");
            w.number(floating);
            break;
        case value_type::boolean:
            w.key("boolValue");
            w.boolean(boolean);
            break;
        case value_type::string_array:
            break;  // write_string_array
    }
    w.end_object();
}

// An AnyValue holding an ArrayValue of texts: for_each(emit) calls emit(text) for each element.
template <typename ForEach>
void write_string_array(json_writer& w, ForEach for_each) {
    w.begin_object();
    w.key("arrayValue");
    w.begin_object();
    w.key("values");
    w.begin_array();
    for_each([&](std::string_view element) {
        w.begin_object();
        w.key("stringValue");
        w.string(element);
        w.end_object();
    });
    w.end_array();
    w.end_object();
    w.end_object();
}

void write_key_value(json_writer& w, const key_value& kv) {
    w.begin_object();
    w.key("key");
    w.string(kv.key);
    w.key("value");
    if (kv.type == value_type::string_array) {
        write_string_array(w, [&](auto emit) {
            for (const std::string& element : kv.texts) emit(element);
        });
    } else {
        write_scalar_value(w, kv.type, kv.text, kv.integer, kv.floating, kv.boolean);
    }
    w.end_object();
}

void write_key_values(json_writer& w, const std::vector<key_value>& list) {
    if (list.empty()) return;
    w.key("attributes");
    w.begin_array();
    for (const key_value& kv : list) write_key_value(w, kv);
    w.end_array();
}

// Skipped when empty, as the protobuf encoders leave out empty texts.
void write_text_field(json_writer& w, std::string_view name, std::string_view text) {
    if (text.empty()) return;
    w.key(name);
    w.string(text);
}

void write_count_field(json_writer& w, std::string_view name, uint64_t count) {
    if (count == 0) return;
    w.key(name);
    w.number(count);
}

// {"resourceX":[{"resource":{...},"scopeX":[{"scope":{...},"X":[items]}]}]}
template <typename WriteItems>
void write_request(std::string& out, std::string_view signal, std::string_view items,
                   const resource& origin, const instrumentation_scope& scope,
                   WriteItems write_items) {
    out.clear();
    json_writer w(out);
    w.begin_object();
    w.key("resource" + std::string(signal));
    w.begin_array();
    w.begin_object();
    w.key("resource");
    w.begin_object();
    write_key_values(w, origin.attributes);
    w.end_object();
    w.key("scope" + std::string(signal));
    w.begin_array();
    w.begin_object();
    w.key("scope");
    w.begin_object();
    write_text_field(w, "name", scope.name);
    write_text_field(w, "version", scope.version);
    w.end_object();
    w.key(items);
    w.begin_array();
    write_items(w);
    w.end_array();
    w.end_object();
    w.end_array();
    w.end_object();
    w.end_array();
    w.end_object();
}

void write_span_attributes(json_writer& w, const otlp_span& span, uint16_t owner) {
    bool any = false;
    for (const attribute& a : span.attributes()) {
        if (a.owner != owner) continue;
        if (!any) {
            w.key("attributes");
            w.begin_array();
            any = true;
        }
        w.begin_object();
        w.key("key");
        w.string(span.text(a.key));
        w.key("value");
        if (a.type == value_type::string_array) {
            write_string_array(w, [&](auto emit) { span.for_each_element(a, emit); });
        } else {
            const bool text = a.type == value_type::string;
            write_scalar_value(w, a.type, text ? span.text(a.text) : std::string_view(),
                               a.type == value_type::integer ? a.integer : 0,
                               a.type == value_type::floating ? a.floating : 0,
                               a.type == value_type::boolean && a.boolean);
        }
        w.end_object();
    }
    if (any) w.end_array();
}

void write_span(json_writer& w, const otlp_span& span) {
    w.begin_object();
    w.key("traceId");
    w.hex(span.trace.bytes, sizeof span.trace.bytes);
    w.key("spanId");
    w.hex(span.span.bytes, sizeof span.span.bytes);
    if (span.parent.valid()) {
        w.key("parentSpanId");
        w.hex(span.parent.bytes, sizeof span.parent.bytes);
    }
    write_text_field(w, "name", span.name());
    write_count_field(w, "kind", static_cast<uint64_t>(span.kind));
    w.key("startTimeUnixNano");
    w.quoted_integer(span.start_unix_nano);
    w.key("endTimeUnixNano");
    w.quoted_integer(span.end_unix_nano);
    write_span_attributes(w, span, 0);
    write_count_field(w, "droppedAttributesCount", span.dropped_attributes);
    if (!span.events().empty()) {
        w.key("events");
        w.begin_array();
        uint16_t owner = 0;
        for (const event& e : span.events()) {
            w.begin_object();
            w.key("timeUnixNano");
            w.quoted_integer(e.time_unix_nano);
            write_text_field(w, "name", span.text(e.name));
            write_span_attributes(w, span, ++owner);
            write_count_field(w, "droppedAttributesCount", e.dropped_attributes);
            w.end_object();
        }
        w.end_array();
    }
    write_count_field(w, "droppedEventsCount", span.dropped_events);
    if (span.status != status_code::unset) {
        w.key("status");
        w.begin_object();
        write_text_field(w, "message", span.status_message());
        w.key("code");
        w.number(static_cast<uint64_t>(span.status));
        w.end_object();
    }
    w.end_object();
}

void write_point_times(json_writer& w, uint64_t start, uint64_t time) {
    if (start != 0) {
        w.key("startTimeUnixNano");
        w.quoted_integer(start);
    }
    w.key("timeUnixNano");
    w.quoted_integer(time);
}

void write_number_point(json_writer& w, const number_point& point) {
    w.begin_object();
    write_key_values(w, point.attributes);
    write_point_times(w, point.start_unix_nano, point.time_unix_nano);
    if (point.floating) {
        w.key("asDouble");
        w.number(point.value);
    } else {
        w.key("asInt");
        w.quoted_integer(point.integer);
    }
    w.end_object();
}

void write_histogram_point(json_writer& w, const histogram_point& point) {
    w.begin_object();
    write_key_values(w, point.attributes);
    write_point_times(w, point.start_unix_nano, point.time_unix_nano);
    w.key("count");
    w.quoted_integer(point.count);
    w.key("sum");
    w.number(point.sum);
    if (!point.bucket_counts.empty()) {
        w.key("bucketCounts");
        w.begin_array();
        for (uint64_t count : point.bucket_counts) w.quoted_integer(count);
        w.end_array();
    }
    if (!point.bounds.empty()) {
        w.key("explicitBounds");
        w.begin_array();
        for (double bound : point.bounds) w.number(bound);
        w.end_array();
    }
    if (point.count > 0) {
        w.key("min");
        w.number(point.min);
        w.key("max");
        w.number(point.max);
    }
    w.end_object();
}

void write_metric(json_writer& w, const otlp_metric& metric) {
    w.begin_object();
    write_text_field(w, "name", metric.name);
    write_text_field(w, "description", metric.description);
    write_text_field(w, "unit", metric.unit);
    constexpr std::string_view data_names[] = {"sum", "gauge", "histogram"};
    w.key(data_names[static_cast<size_t>(metric.type)]);
    w.begin_object();
    w.key("dataPoints");
    w.begin_array();
    if (metric.type == metric_type::histogram) {
        for (const histogram_point& point : metric.histograms) write_histogram_point(w, point);
    } else {
        for (const number_point& point : metric.numbers) write_number_point(w, point);
    }
    w.end_array();
    if (metric.type != metric_type::gauge) {
        write_count_field(w, "aggregationTemporality", static_cast<uint64_t>(metric.aggregation));
    }
    if (metric.type == metric_type::sum && metric.monotonic) {
        w.key("isMonotonic");
        w.boolean(true);
    }
    w.end_object();
    w.end_object();
}

}  // namespace

void encode_trace_json(const resource& origin, const instrumentation_scope& scope,
                       std::span<const otlp_span* const> spans, std::string& out, void (*pause)()) {
    write_request(out, "Spans", "spans", origin, scope, [&](json_writer& w) {
        size_t written = 0;
        for (const otlp_span* span : spans) {
            write_span(w, *span);
            if (pause != nullptr && ++written % encode_slice == 0 && written < spans.size()) {
                pause();
            }
        }
    });
}

void encode_metrics_json(const resource& origin, const instrumentation_scope& scope,
                         std::span<const otlp_metric> metrics, std::string& out) {
    write_request(out, "Metrics", "metrics", origin, scope, [&](json_writer& w) {
        for (const otlp_metric& metric : metrics) write_metric(w, metric);
    });
}

}  // namespace otel
