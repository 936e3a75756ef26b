#include "exporter_support.h"

namespace otel_test {

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
    return options;
}

bool queue_span(otel::exporter& exporter, const std::string& name) {
    otel::otlp_span* record = exporter.acquire();
    if (record == nullptr) return false;
    record->trace.bytes[15] = 1;
    record->span.bytes[7] = 1;
    record->set_name(name);
    record->start_unix_nano = 1;
    record->end_unix_nano = 2;
    record->add_attribute("test", true);
    exporter.submit(record);
    return true;
}

namespace {
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

std::map<std::string, int> delivered_span_names(const std::vector<received_request>& requests) {
    return span_names(requests, true);
}
std::map<std::string, int> received_span_names(const std::vector<received_request>& requests) {
    return span_names(requests, false);
}

}  // namespace otel_test
