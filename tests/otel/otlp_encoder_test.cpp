// The encoder's bodies, decoded by the official OpenTelemetry decoder in the receiver: every
// field of the spans and metrics comes back as written.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "http_transport.h"
#include "otlp_encoder.h"
#include "receiver_client.h"

namespace {

using fields = std::map<std::string, std::string>;

otel_test::received_request post(otel_test::receiver& rx, const std::string& path,
                                 const std::string& body) {
    otel::http_transport transport;
    const otel::url target = rx.endpoint(path);
    otel::http_request request;
    request.target = &target;
    request.body = body;
    request.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const otel::http_response response = transport.post(request);
    EXPECT_EQ(response.status, 200) << response.error << response.body;
    EXPECT_EQ(rx.errors(), "");
    auto requests = rx.requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? otel_test::received_request{} : requests.back();
}

void expect_fields(const otel_test::received_request& request, const std::string& prefix,
                   const fields& expected) {
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(request.field(prefix + name), value) << prefix + name;
    }
}

otel::resource test_resource() {
    return {{otel::key_value::of("service.name", std::string("checkout")),
             otel::key_value::of("deployment.replicas", int64_t{3}),
             otel::key_value::of("load", 0.25), otel::key_value::of("canary", true)},
            {}};
}

const fields resource_fields = {
    {"resource.attributes.0.key", "service.name"},
    {"resource.attributes.0.value.stringValue", "checkout"},
    {"resource.attributes.1.value.intValue", "3"},
    {"resource.attributes.2.value.doubleValue", "0.25"},
    {"resource.attributes.3.value.boolValue", "true"},
};

TEST(OtlpEncoder, SpansRoundTripThroughTheOfficialDecoder) {
    REQUIRE_RECEIVER(rx);
    otel::otlp_span server;
    for (uint8_t i = 0; i < 16; ++i) server.trace.bytes[i] = static_cast<uint8_t>(0xA0 + i);
    for (uint8_t i = 0; i < 8; ++i) server.span.bytes[i] = static_cast<uint8_t>(i + 1);
    server.kind = otel::span_kind::server;
    server.set_name("GET /basket");
    server.start_unix_nano = 1700000000123456789ull;
    server.end_unix_nano = 1700000000223456789ull;
    server.add_attribute("http.request.method", "GET");
    server.add_attribute("http.response.status_code", int64_t{503});
    server.add_attribute("retries", int64_t{-7});
    server.add_attribute("ratio", 1.5);
    server.add_attribute("cached", false);
    server.add_attribute("empty", "");
    server.add_event("exception", 1700000000200000000ull);
    server.add_attribute("exception.type", "TimeoutError");
    server.add_attribute("exception.message", "line one\nline two");
    server.end_event();
    server.add_attribute("url.path", "/basket");  // after the event: the span's again
    server.set_status(otel::status_code::error, "backend timed out");

    // A child with texts long enough for multi-byte lengths at every level.
    otel::otlp_span child;
    child.trace = server.trace;
    child.parent = server.span;
    child.span.bytes[7] = 0xFF;
    child.kind = otel::span_kind::client;
    child.set_name("SELECT \xC3\xA4rger");  // UTF-8 passes unchanged
    child.add_attribute("db.query.text", std::string(20000, 'q'));
    child.set_status(otel::status_code::ok);

    std::string body;
    const otel::otlp_span* spans[] = {&server, &child};
    otel::encode_trace_request(test_resource(), {"quorin", "1.7.1"}, spans, body);
    const auto request = post(rx, "/v1/traces", body);

    expect_fields(request, "resourceSpans.0.", resource_fields);
    const std::string scope = "resourceSpans.0.scopeSpans.0.";
    expect_fields(request, scope, {{"scope.name", "quorin"}, {"scope.version", "1.7.1"}});
    EXPECT_EQ(request.count(scope + "spans"), 2u);
    expect_fields(request, scope + "spans.0.",
                  {{"traceId", "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"},
                   {"spanId", "0102030405060708"},
                   {"parentSpanId", ""},
                   {"name", "GET /basket"},
                   {"kind", "2"},
                   {"startTimeUnixNano", "1700000000123456789"},
                   {"endTimeUnixNano", "1700000000223456789"},
                   {"attributes.0.key", "http.request.method"},
                   {"attributes.0.value.stringValue", "GET"},
                   {"attributes.1.value.intValue", "503"},
                   {"attributes.2.value.intValue", "-7"},
                   {"attributes.3.value.doubleValue", "1.5"},
                   {"attributes.4.value.boolValue", "false"},
                   {"attributes.5.key", "empty"},
                   {"attributes.5.value.stringValue", ""},
                   {"attributes.6.key", "url.path"},
                   {"events.0.name", "exception"},
                   {"events.0.timeUnixNano", "1700000000200000000"},
                   {"events.0.attributes.0.key", "exception.type"},
                   {"events.0.attributes.0.value.stringValue", "TimeoutError"},
                   {"events.0.attributes.1.value.stringValue", "line one\nline two"},
                   {"status.code", "2"},
                   {"status.message", "backend timed out"}});
    EXPECT_EQ(request.count(scope + "spans.0.attributes"), 7u);
    EXPECT_EQ(request.count(scope + "spans.0.events.0.attributes"), 2u);
    expect_fields(request, scope + "spans.1.",
                  {{"parentSpanId", "0102030405060708"},
                   {"spanId", "00000000000000ff"},
                   {"name", "SELECT \xC3\xA4rger"},
                   {"kind", "3"},
                   {"status.code", "1"},
                   {"status.message", ""}});
    EXPECT_EQ(request.field(scope + "spans.1.attributes.0.value.stringValue").size(), 20000u);
}

TEST(OtlpEncoder, LimitsDropAttributesAndEventsAndCountThem) {
    REQUIRE_RECEIVER(rx);
    otel::otlp_span span;
    span.limits.attributes = span.limits.event_attributes = 2;
    span.limits.events = 1;
    span.trace.bytes[0] = span.span.bytes[0] = 1;
    for (int64_t i = 0; i < 5; ++i) span.add_attribute("a", i);
    EXPECT_TRUE(span.add_event("first", 1));
    for (int64_t i = 0; i < 3; ++i) span.add_attribute("e", i);
    EXPECT_FALSE(span.add_event("second", 2));
    span.add_attribute("lost with the event", int64_t{0});
    span.end_event();
    std::string body;
    const otel::otlp_span* spans[] = {&span};
    otel::encode_trace_request({}, {}, spans, body);
    const auto request = post(rx, "/v1/traces", body);
    const std::string prefix = "resourceSpans.0.scopeSpans.0.spans.0.";
    EXPECT_EQ(request.count(prefix + "attributes"), 2u);
    EXPECT_EQ(request.field(prefix + "droppedAttributesCount"), "3");
    EXPECT_EQ(request.count(prefix + "events"), 1u);
    EXPECT_EQ(request.count(prefix + "events.0.attributes"), 2u);
    EXPECT_EQ(request.field(prefix + "events.0.droppedAttributesCount"), "1");
    EXPECT_EQ(request.field(prefix + "droppedEventsCount"), "1");
}

TEST(OtlpEncoder, MetricsRoundTripThroughTheOfficialDecoder) {
    REQUIRE_RECEIVER(rx);
    otel::otlp_metric counter;
    counter.name = "orders";
    counter.description = "orders placed";
    counter.unit = "{order}";
    counter.type = otel::metric_type::sum;
    otel::number_point point;
    point.attributes = {otel::key_value::of("region", std::string("eu"))};
    point.start_unix_nano = 1000;
    point.time_unix_nano = 2000;
    point.integer = 42;
    counter.numbers = {point};

    otel::otlp_metric gauge;
    gauge.name = "queue.depth";
    gauge.type = otel::metric_type::gauge;
    point.floating = true;
    point.value = -2.5;
    point.start_unix_nano = 0;
    gauge.numbers = {point};

    otel::otlp_metric histogram;
    histogram.name = "latency";
    histogram.unit = "ms";
    histogram.type = otel::metric_type::histogram;
    histogram.aggregation = otel::temporality::delta;
    otel::histogram_point h;
    h.attributes = {otel::key_value::of("route", std::string("/a"))};
    h.start_unix_nano = 1000;
    h.time_unix_nano = 2000;
    h.count = 3;
    h.sum = 16.5;
    h.min = 0.5;
    h.max = 12;
    h.bounds = {1, 10};
    h.bucket_counts = {1, 1, 1};
    histogram.histograms = {h};

    std::string body;
    const otel::otlp_metric metrics[] = {counter, gauge, histogram};
    otel::encode_metrics_request(test_resource(), {"quorin", ""}, metrics, body);
    const auto request = post(rx, "/v1/metrics", body);
    expect_fields(request, "resourceMetrics.0.", resource_fields);
    const std::string m = "resourceMetrics.0.scopeMetrics.0.metrics.";
    EXPECT_EQ(request.count("resourceMetrics.0.scopeMetrics.0.metrics"), 3u);
    expect_fields(request, m,
                  {{"0.name", "orders"},
                   {"0.description", "orders placed"},
                   {"0.unit", "{order}"},
                   {"0.sum.aggregationTemporality", "2"},
                   {"0.sum.isMonotonic", "true"},
                   {"0.sum.dataPoints.0.asInt", "42"},
                   {"0.sum.dataPoints.0.startTimeUnixNano", "1000"},
                   {"0.sum.dataPoints.0.timeUnixNano", "2000"},
                   {"0.sum.dataPoints.0.attributes.0.key", "region"},
                   {"0.sum.dataPoints.0.attributes.0.value.stringValue", "eu"},
                   {"1.gauge.dataPoints.0.asDouble", "-2.5"},
                   {"1.gauge.dataPoints.0.startTimeUnixNano", ""},
                   {"2.histogram.aggregationTemporality", "1"},
                   {"2.histogram.dataPoints.0.count", "3"},
                   {"2.histogram.dataPoints.0.sum", "16.5"},
                   {"2.histogram.dataPoints.0.min", "0.5"},
                   {"2.histogram.dataPoints.0.max", "12"},
                   {"2.histogram.dataPoints.0.explicitBounds.1", "10"},
                   {"2.histogram.dataPoints.0.bucketCounts.2", "1"},
                   {"2.histogram.dataPoints.0.attributes.0.value.stringValue", "/a"}});
    EXPECT_EQ(request.count(m + "2.histogram.dataPoints.0.bucketCounts"), 3u);
}

}  // namespace
