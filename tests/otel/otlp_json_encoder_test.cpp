// The OTLP JSON lines, as text: ids in hex, 64-bit integers as strings, enums as numbers,
// strings escaped. That a line decodes strictly, and to what the protobuf body decodes to, is
// checked by scripts/test.d/otel_file.sh with protobuf's own JSON parser.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "json_writer.h"
#include "otlp_json_encoder.h"

namespace {

const otel::instrumentation_scope scope{"quorin", "1.2"};

TEST(OtlpJson, ASpanIsOneObjectWithHexIdsQuotedTimesAndNumberedEnums) {
    otel::otlp_span span;
    for (uint8_t i = 0; i < 16; ++i) span.trace.bytes[i] = static_cast<uint8_t>(0xA0 + i);
    span.span.bytes[7] = 0x0F;
    span.parent.bytes[0] = 0xFF;
    span.kind = otel::span_kind::client;
    span.set_name("GET /");
    span.start_unix_nano = 18446744073709551615ull;
    span.end_unix_nano = 2;
    span.add_attribute("n", int64_t{-9007199254740993});
    span.add_attribute("ok", true);
    const std::string_view values[] = {"a", "b"};
    span.add_attribute("list", std::span<const std::string_view>(values));
    span.add_event("retry", 3);
    span.add_attribute("why", "timeout");
    span.end_event();
    span.set_status(otel::status_code::error, "down");
    span.dropped_events = 4;
    otel::resource origin;
    origin.attributes = {otel::key_value::of("service.name", std::string("shop"))};
    const otel::otlp_span* spans[] = {&span};
    std::string out;
    otel::encode_trace_json(origin, scope, spans, out);
    EXPECT_EQ(out,
              R"({"resourceSpans":[{"resource":{"attributes":[{"key":"service.name","value":)"
              R"({"stringValue":"shop"}}]},"scopeSpans":[{"scope":{"name":"quorin","version":)"
              R"("1.2"},"spans":[{"traceId":"a0a1a2a3a4a5a6a7a8a9aaabacadaeaf","spanId":)"
              R"("000000000000000f","parentSpanId":"ff00000000000000","name":"GET /","kind":3,)"
              R"("startTimeUnixNano":"18446744073709551615","endTimeUnixNano":"2","attributes":)"
              R"([{"key":"n","value":{"intValue":"-9007199254740993"}},{"key":"ok","value":)"
              R"({"boolValue":true}},{"key":"list","value":{"arrayValue":{"values":[)"
              R"({"stringValue":"a"},{"stringValue":"b"}]}}}],"events":[{"timeUnixNano":"3",)"
              R"("name":"retry","attributes":[{"key":"why","value":{"stringValue":"timeout"}}]}],)"
              R"("droppedEventsCount":4,"status":{"message":"down","code":2}}]}]}]})");
}

TEST(OtlpJson, MetricsKeepTheirKindTemporalityAndExactNumbers) {
    otel::otlp_metric sum;
    sum.name = "calls";
    sum.unit = "{call}";
    sum.aggregation = otel::temporality::delta;
    sum.numbers.push_back({{otel::key_value::of("ratio", 0.1)}, 5, 6, false, -1, 0});
    otel::otlp_metric gauge;
    gauge.name = "load";
    gauge.type = otel::metric_type::gauge;
    gauge.numbers.push_back({{}, 0, 7, true, 0, std::numeric_limits<double>::quiet_NaN()});
    gauge.numbers.push_back({{}, 0, 8, true, 0, -std::numeric_limits<double>::infinity()});
    otel::otlp_metric histogram;
    histogram.name = "duration";
    histogram.type = otel::metric_type::histogram;
    histogram.histograms.push_back({{}, 1, 2, 3, 0.30000000000000004, 0.1, 0.2, {0.25}, {2, 1}});
    const otel::otlp_metric metrics[] = {sum, gauge, histogram};
    std::string out;
    otel::encode_metrics_json({}, scope, metrics, out);
    EXPECT_EQ(out,
              R"({"resourceMetrics":[{"resource":{},"scopeMetrics":[{"scope":{"name":"quorin",)"
              R"("version":"1.2"},"metrics":[{"name":"calls","unit":"{call}","sum":{"dataPoints":)"
              R"([{"attributes":[{"key":"ratio","value":{"doubleValue":0.1}}],)"
              R"("startTimeUnixNano":"5","timeUnixNano":"6","asInt":"-1"}],)"
              R"("aggregationTemporality":1,"isMonotonic":true}},{"name":"load","gauge":)"
              R"({"dataPoints":[{"timeUnixNano":"7","asDouble":"NaN"},{"timeUnixNano":"8",)"
              R"("asDouble":"-Infinity"}]}},{"name":"duration","histogram":{"dataPoints":[)"
              R"({"startTimeUnixNano":"1","timeUnixNano":"2","count":"3",)"
              R"("sum":0.30000000000000004,"bucketCounts":["2","1"],"explicitBounds":[0.25],)"
              R"("min":0.1,"max":0.2}],"aggregationTemporality":2}}]}]}]})");
}

TEST(OtlpJson, StringsAreEscapedAndBytesThatAreNotUtf8BecomeReplacementCharacters) {
    struct row {
        std::string text;
        const char* json;
    };
    const row rows[] = {
        {"plain", R"("plain")"},
        {"say \"hi\"\\", R"("say \"hi\"\\")"},
        {std::string("a\0b\n\r\t\x1f", 7), R"("a\u0000b\n\r\t\u001f")"},
        {"</script><script>", R"("</script><script>")"},  // the page escapes for HTML
        {"caf\xc3\xa9 \xe2\x80\xa8 \xf0\x9f\x98\x80",
         "\"caf\xc3\xa9 \xe2\x80\xa8 \xf0\x9f\x98\x80\""},
        {"\xff", R"("\ufffd")"},
        {"\xc3", R"("\ufffd")"},                                // cut short
        {"\xc0\xaf", R"("\ufffd\ufffd")"},                      // overlong
        {"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},            // a surrogate
        {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // past U+10FFFF
    };
    for (const row& r : rows) {
        std::string out;
        otel::json_writer w(out);
        w.string(r.text);
        EXPECT_EQ(out, r.json);
    }
}

}  // namespace
