#include "exporter_support.h"

namespace otel_test {

source_counts sources;

namespace {

struct test_source {
    std::string name;
    size_t bytes;
};
thread_local bool submitting = false;

const test_source& source_of(const otel::span_source& source) {
    return reinterpret_cast<const test_source&>(source);
}

class test_span_maker final : public otel::span_maker {
  public:
    size_t bytes(const otel::span_source& source) const override { return source_of(source).bytes; }
    void fill(const otel::span_source& source, otel::otlp_span& span) const override {
        if (submitting) sources.made_while_submitting.fetch_add(1);
        span.trace.bytes[15] = 1;
        span.span.bytes[7] = 1;
        span.set_name(source_of(source).name);
        span.start_unix_nano = 1;
        span.end_unix_nano = 2;
        span.add_attribute("test", true);
    }
    void release(otel::span_source* source) const override {
        sources.released.fetch_add(1);
        delete reinterpret_cast<test_source*>(source);
    }
};
const test_span_maker test_spans;

std::map<std::string, int> span_names(const std::vector<received_request>& requests,
                                      bool delivered_only) {
    std::map<std::string, int> names;
    for (const received_request& r : requests) {
        if (delivered_only && r.status != 200) continue;
        const std::string spans = "resourceSpans.0.scopeSpans.0.spans";
        const size_t count = r.count(spans);
        for (size_t i = 0; i < count; ++i) {
            ++names[r.field(spans + "." + std::to_string(i) + ".name")];
        }
    }
    return names;
}

}  // namespace

otel::exporter_options options_for(const receiver& rx, std::chrono::milliseconds timeout) {
    otel::exporter_options options;
    options.traces_endpoint = rx.endpoint("/v1/traces");
    options.metrics_endpoint = rx.endpoint("/v1/metrics");
    options.resource.attributes = {otel::key_value::of("service.name", std::string("tests"))};
    options.scope = {"quorin", "test"};
    options.timeout = timeout;
    options.schedule_delay = std::chrono::hours(1);
    options.metric_interval = std::chrono::hours(1);
    options.retry = {std::chrono::milliseconds(5), std::chrono::milliseconds(20), 2.0};
    options.spans = &test_spans;
    return options;
}

bool queue_span(otel::exporter& exporter, const std::string& name, size_t bytes) {
    auto* source = new test_source{name, bytes};
    submitting = true;
    const bool queued = exporter.submit_deferred(reinterpret_cast<otel::span_source*>(source));
    submitting = false;
    // A dropped span's source stays with the caller.
    if (!queued) delete source;
    return queued;
}

std::map<std::string, int> delivered_span_names(const std::vector<received_request>& requests) {
    return span_names(requests, true);
}
std::map<std::string, int> received_span_names(const std::vector<received_request>& requests) {
    return span_names(requests, false);
}

}  // namespace otel_test
