#include "exporter_support.h"

namespace otel_test {

source_counts sources;

namespace {

struct span_source {
    std::string name;
    size_t bytes;
};
thread_local bool submitting = false;

const span_source& source_of(const void* source) {
    return *static_cast<const span_source*>(source);
}

const otel::deferred_span_hooks span_source_hooks{
    [](const void* source) { return source_of(source).bytes; },
    [](const void* source, otel::otlp_span& span) {
        if (submitting) sources.made_while_submitting.fetch_add(1);
        span.trace.bytes[15] = 1;
        span.span.bytes[7] = 1;
        span.set_name(source_of(source).name);
        span.start_unix_nano = 1;
        span.end_unix_nano = 2;
        span.add_attribute("test", true);
    },
    [](void* source) {
        sources.released.fetch_add(1);
        delete static_cast<span_source*>(source);
    },
};

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
    options.deferred = span_source_hooks;
    return options;
}

bool queue_span(otel::exporter& exporter, const std::string& name, size_t bytes) {
    auto* source = new span_source{name, bytes};
    submitting = true;
    const bool queued = exporter.submit_deferred(source);
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
