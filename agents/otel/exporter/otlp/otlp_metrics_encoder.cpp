#include <cstring>

#include "otlp_common_encoder.h"
#include "otlp_encoder.h"

namespace otel {

namespace {

namespace field {
constexpr uint32_t scope_metrics_metrics = 2;
constexpr uint32_t metric_name = 1, metric_description = 2, metric_unit = 3, metric_gauge = 5,
                   metric_sum = 7, metric_histogram = 9;
constexpr uint32_t data_points = 1, aggregation_temporality = 2, sum_is_monotonic = 3;
constexpr uint32_t number_start = 2, number_time = 3, number_as_double = 4, number_as_int = 6,
                   number_attributes = 7;
constexpr uint32_t histogram_start = 2, histogram_time = 3, histogram_count = 4, histogram_sum = 5,
                   histogram_bucket_counts = 6, histogram_bounds = 7, histogram_attributes = 9,
                   histogram_min = 11, histogram_max = 12;
}  // namespace field

void write_number_point(protobuf_writer& w, const number_point& point) {
    using namespace field;
    const size_t mark = w.begin(data_points);
    w.fixed64_field(number_start, point.start_unix_nano);
    w.always_fixed64(number_time, point.time_unix_nano);
    if (point.floating) {
        w.always_double(number_as_double, point.value);
    } else {
        w.always_fixed64(number_as_int, static_cast<uint64_t>(point.integer));
    }
    wire::write_key_values(w, number_attributes, point.attributes);
    w.end(mark);
}

template <typename value>
void write_packed_fixed64(protobuf_writer& w, uint32_t field, const std::vector<value>& list) {
    if (list.empty()) return;
    const size_t mark = w.begin(field);
    for (const value& entry : list) {
        uint64_t bits;
        std::memcpy(&bits, &entry, sizeof bits);
        w.fixed64(bits);
    }
    w.end(mark);
}

void write_histogram_point(protobuf_writer& w, const histogram_point& point) {
    using namespace field;
    const size_t mark = w.begin(data_points);
    w.fixed64_field(histogram_start, point.start_unix_nano);
    w.always_fixed64(histogram_time, point.time_unix_nano);
    w.always_fixed64(histogram_count, point.count);
    w.always_double(histogram_sum, point.sum);
    write_packed_fixed64(w, histogram_bucket_counts, point.bucket_counts);
    write_packed_fixed64(w, histogram_bounds, point.bounds);
    wire::write_key_values(w, histogram_attributes, point.attributes);
    if (point.count > 0) {
        w.always_double(histogram_min, point.min);
        w.always_double(histogram_max, point.max);
    }
    w.end(mark);
}

void write_metric(protobuf_writer& w, const otlp_metric& metric) {
    using namespace field;
    const size_t mark = w.begin(scope_metrics_metrics);
    w.string_field(metric_name, metric.name);
    w.string_field(metric_description, metric.description);
    w.string_field(metric_unit, metric.unit);
    switch (metric.type) {
        case metric_type::gauge: {
            const size_t data = w.begin(metric_gauge);
            for (const number_point& point : metric.numbers) write_number_point(w, point);
            w.end(data);
            break;
        }
        case metric_type::sum: {
            const size_t data = w.begin(metric_sum);
            for (const number_point& point : metric.numbers) write_number_point(w, point);
            w.varint_field(aggregation_temporality, static_cast<uint64_t>(metric.aggregation));
            w.varint_field(sum_is_monotonic, metric.monotonic ? 1 : 0);
            w.end(data);
            break;
        }
        case metric_type::histogram: {
            const size_t data = w.begin(metric_histogram);
            for (const histogram_point& point : metric.histograms) {
                write_histogram_point(w, point);
            }
            w.varint_field(aggregation_temporality, static_cast<uint64_t>(metric.aggregation));
            w.end(data);
            break;
        }
    }
    w.end(mark);
}

}  // namespace

void encode_metrics_request(const resource& origin, const instrumentation_scope& scope,
                            std::span<const otlp_metric> metrics, std::string& out) {
    wire::write_request(out, origin, scope, [&](protobuf_writer& w) {
        for (const otlp_metric& metric : metrics) write_metric(w, metric);
    });
}

}  // namespace otel
