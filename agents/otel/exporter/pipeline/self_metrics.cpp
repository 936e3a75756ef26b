#include "self_metrics.h"

#include <algorithm>

namespace otel {

namespace {

constexpr const char* span_processor = "batching_span_processor";
constexpr const char* span_exporter = "otlp_http_span_exporter";
constexpr const char* metric_exporter = "otlp_http_metric_exporter";

// The buckets the conventions advise for durations in seconds.
const std::vector<double> duration_bounds = {0.005, 0.01, 0.025, 0.05, 0.075, 0.1, 0.25,
                                             0.5,   0.75, 1,     2.5,  5,     7.5, 10};

std::vector<key_value> component(const char* type) {
    return {key_value::of("otel.component.type", std::string(type)),
            key_value::of("otel.component.name", std::string(type).append("/0"))};
}

std::vector<key_value> exporter_of(const char* type, const url& target) {
    std::vector<key_value> attributes = component(type);
    attributes.push_back(key_value::of("server.address", target.host));
    attributes.push_back(key_value::of("server.port", int64_t{target.port}));
    return attributes;
}

std::vector<key_value> with(std::vector<key_value> attributes, const char* key, std::string value) {
    attributes.push_back(key_value::of(key, std::move(value)));
    return attributes;
}

class metrics_writer {
  public:
    metrics_writer(uint64_t start, uint64_t now, std::vector<otlp_metric>& out)
        : start_(start), now_(now), out_(out) {}

    // A sum: a Counter (monotonic) or an UpDownCounter, cumulative.
    void sum(const char* name, const char* unit, const char* description, bool monotonic,
             std::initializer_list<std::pair<std::vector<key_value>, uint64_t>> points) {
        otlp_metric metric;
        metric.name = name;
        metric.unit = unit;
        metric.description = description;
        metric.type = metric_type::sum;
        metric.monotonic = monotonic;
        for (const auto& [attributes, value] : points) {
            number_point point;
            point.attributes = attributes;
            point.start_unix_nano = start_;
            point.time_unix_nano = now_;
            point.integer = static_cast<int64_t>(value);
            metric.numbers.push_back(std::move(point));
        }
        out_.push_back(std::move(metric));
    }

  private:
    uint64_t start_, now_;
    std::vector<otlp_metric>& out_;
};

// An exporter's inflight and exported items ("span", "metric_data_point"): delivered,
// refused by the collector, not delivered in time.
void exported_items(metrics_writer& w, const std::string& item, const char* unit,
                    const std::string& items, const std::vector<key_value>& exporter,
                    uint64_t inflight, uint64_t exported, uint64_t rejected, uint64_t failed) {
    const std::string prefix = std::string("otel.sdk.exporter.").append(item);
    w.sum((prefix + ".inflight").c_str(), unit,
          ("The number of " + items +
           " which were passed to the exporter, but that have not been exported yet (neither "
           "successful, nor failed).")
              .c_str(),
          false, {{exporter, inflight}});
    w.sum((prefix + ".exported").c_str(), unit,
          ("The number of " + items +
           " for which the export has finished, either successful or failed.")
              .c_str(),
          true,
          {{exporter, exported},
           {with(exporter, "error.type", "rejected"), rejected},
           {with(exporter, "error.type", "timeout"), failed}});
}

}  // namespace

void operation_durations::record(bool spans, int status, std::string_view error_type,
                                 double seconds) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = std::find_if(series_.begin(), series_.end(), [&](const series& s) {
        return s.spans == spans && s.status == status && s.error_type == error_type;
    });
    if (found == series_.end()) {
        series_.push_back({spans, status, std::string(error_type), {}});
        found = series_.end() - 1;
        found->point.bounds = duration_bounds;
        found->point.bucket_counts.assign(duration_bounds.size() + 1, 0);
    }
    histogram_point& point = found->point;
    point.min = point.count == 0 ? seconds : std::min(point.min, seconds);
    point.max = point.count == 0 ? seconds : std::max(point.max, seconds);
    ++point.count;
    point.sum += seconds;
    const auto bucket = std::lower_bound(duration_bounds.begin(), duration_bounds.end(), seconds);
    ++point.bucket_counts[static_cast<size_t>(bucket - duration_bounds.begin())];
}

void operation_durations::append(const url& traces, const url& metrics, uint64_t start_unix_nano,
                                 uint64_t now_unix_nano, std::vector<otlp_metric>& out) const {
    otlp_metric metric;
    metric.name = "otel.sdk.exporter.operation.duration";
    metric.unit.push_back('s');  // (assigning "s" trips a false overlap warning of GCC 12)
    metric.description = "The duration of exporting a batch of telemetry records.";
    metric.type = metric_type::histogram;
    std::lock_guard<std::mutex> hold(mutex_);
    for (const series& s : series_) {
        histogram_point point = s.point;
        point.attributes =
            s.spans ? exporter_of(span_exporter, traces) : exporter_of(metric_exporter, metrics);
        if (s.status != 0) {
            point.attributes.push_back(
                key_value::of("http.response.status_code", int64_t{s.status}));
        }
        if (!s.error_type.empty())
            point.attributes.push_back(key_value::of("error.type", s.error_type));
        point.start_unix_nano = start_unix_nano;
        point.time_unix_nano = now_unix_nano;
        metric.histograms.push_back(std::move(point));
    }
    if (!metric.histograms.empty()) out.push_back(std::move(metric));
}

void append_self_metrics(const self_counts& c, const url& traces, const url& metrics,
                         uint64_t start_unix_nano, uint64_t now_unix_nano,
                         std::vector<otlp_metric>& out) {
    metrics_writer w(start_unix_nano, now_unix_nano, out);
    // The agent records sampled spans only: an unsampled tracer is no span of this kind.
    const std::vector<key_value> sampled = {
        key_value::of("otel.span.sampling_result", std::string("RECORD_AND_SAMPLE"))};
    w.sum("otel.sdk.span.started", "{span}", "The number of created spans.", true,
          {{sampled, c.spans_ended + c.spans_live}});
    w.sum("otel.sdk.span.live", "{span}",
          "The number of created spans with recording=true for which the end operation has not "
          "been called yet.",
          false, {{sampled, c.spans_live}});
    const std::vector<key_value> processor = component(span_processor);
    w.sum("otel.sdk.processor.span.queue.size", "{span}",
          "The number of spans in the queue of a given instance of an SDK span processor.", false,
          {{processor, c.queue_size}});
    w.sum("otel.sdk.processor.span.queue.capacity", "{span}",
          "The maximum number of spans the queue of a given instance of an SDK span processor "
          "can hold.",
          false, {{processor, c.queue_capacity}});
    w.sum("otel.sdk.processor.span.processed", "{span}",
          "The number of spans for which the processing has finished, either successful or "
          "failed.",
          true,
          {{processor, c.spans_processed},
           {with(processor, "error.type", "queue_full"), c.spans_queue_full}});
    exported_items(w, "span", "{span}", "spans", exporter_of(span_exporter, traces),
                   c.spans_inflight, c.spans_exported, c.spans_rejected, c.spans_failed);
    exported_items(w, "metric_data_point", "{data_point}", "metric data points",
                   exporter_of(metric_exporter, metrics), c.points_inflight, c.points_exported,
                   c.points_rejected, c.points_failed);
}

}  // namespace otel
