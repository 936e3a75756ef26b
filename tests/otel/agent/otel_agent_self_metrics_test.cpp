// The agent's own health as otel.sdk.* metrics: off unless asked for, and when on, the same
// counts as the line the release writes, through a full queue and a collector that refuses.
#include <cstdio>
#include <string>

#include "otel_agent_fixture.h"

namespace otel_test {
namespace {

void end_spans(int count) {
    for (int i = 0; i < count; ++i) {
        const quorin_handle_t span = quorin_ex_spantracer_create(0);
        quorin_ex_spantracer_set_operationname_p(span, "work");
        quorin_tracer_start(span);
        quorin_tracer_end(span);
    }
}

// The points of the last metric request: the totals, as the sums are cumulative.
std::vector<received_point> last_points(const std::vector<received_request>& requests) {
    for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
        if (it->path == "/v1/metrics") return points_in({*it});
    }
    return {};
}

// The value of the point of that metric whose attributes include `having`, "" when none.
std::string value_of(const std::vector<received_point>& points, const std::string& metric,
                     const fields& having = {}) {
    for (const received_point& point : points) {
        if (point.metric != metric) continue;
        bool matches = true;
        for (const auto& [key, value] : having) {
            const auto found = point.attributes.find(key);
            matches = matches && found != point.attributes.end() && found->second == value;
        }
        // Without error.type asked for, the point without one.
        if (matches &&
            (having.count("error.type") != 0 || point.attributes.count("error.type") == 0))
            return point.value;
    }
    return "";
}

TEST_F(otel_agent_test, SelfMetricsAreOffUnlessAskedFor) {
    initialize();
    end_spans(1);
    quorin_integercountermetric_increase_by_p(
        quorin_integercountermetric_create_p("shop", "orders", "1"), 1, nullptr);
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    const auto points = points_in(receiver_->requests());
    ASSERT_FALSE(points.empty());
    for (const received_point& point : points) EXPECT_NE(point.metric.rfind("otel.sdk.", 0), 0u);
}

TEST_F(otel_agent_test, SelfMetricsAgreeWithTheLineAtRelease) {
    set_option("otel_self_metrics=true");
    set_option("otel_bsp_max_queue_size=2");
    set_option("otel_bsp_max_export_batch_size=2");
    receiver_->script("400");  // the first request, a batch of spans, is refused
    initialize();
    capture_warnings();
    // Far more spans than the queue holds while the exporter sends: most are dropped.
    end_spans(2000);
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    ASSERT_EQ(receiver_->errors(), "");

    unsigned long long sent = 0, dropped = 0, refused = 0, failed = 0;
    int lines = 0;
    for (const std::string& text : warnings()) {
        lines += std::sscanf(text.c_str(),
                             "OpenTelemetry export at shutdown: %llu spans sent, %llu dropped, "
                             "%llu refused, %llu not delivered",
                             &sent, &dropped, &refused, &failed) == 4;
    }
    ASSERT_EQ(lines, 1);
    EXPECT_GT(dropped, 0u);
    EXPECT_GT(refused, 0u);

    const auto points = last_points(receiver_->requests());
    const fields processor = {{"otel.component.type", "batching_span_processor"},
                              {"otel.component.name", "batching_span_processor/0"}};
    fields exporter = {{"otel.component.type", "otlp_http_span_exporter"},
                       {"otel.component.name", "otlp_http_span_exporter/0"},
                       {"server.address", "127.0.0.1"}};
    EXPECT_EQ(value_of(points, "otel.sdk.span.started",
                       {{"otel.span.sampling_result", "RECORD_AND_SAMPLE"}}),
              "2000");
    EXPECT_EQ(value_of(points, "otel.sdk.span.live"), "0");
    EXPECT_EQ(value_of(points, "otel.sdk.processor.span.queue.capacity", processor), "2");
    EXPECT_EQ(value_of(points, "otel.sdk.processor.span.queue.size", processor), "0");
    EXPECT_EQ(value_of(points, "otel.sdk.processor.span.processed", processor),
              std::to_string(sent + refused + failed));
    fields full = processor;
    full["error.type"] = "queue_full";
    EXPECT_EQ(value_of(points, "otel.sdk.processor.span.processed", full), std::to_string(dropped));
    EXPECT_EQ(value_of(points, "otel.sdk.exporter.span.inflight", exporter), "0");
    EXPECT_EQ(value_of(points, "otel.sdk.exporter.span.exported", exporter), std::to_string(sent));
    exporter["error.type"] = "rejected";
    EXPECT_EQ(value_of(points, "otel.sdk.exporter.span.exported", exporter),
              std::to_string(refused));
    exporter["error.type"] = "timeout";
    EXPECT_EQ(value_of(points, "otel.sdk.exporter.span.exported", exporter),
              std::to_string(failed));
    // One refused operation, with the collector's answer; the others succeeded.
    exporter["error.type"] = "400";
    exporter["http.response.status_code"] = "400";
    EXPECT_EQ(value_of(points, "otel.sdk.exporter.operation.duration", exporter), "1");
    for (const received_point& point : points) {
        if (point.metric != "otel.sdk.exporter.operation.duration") continue;
        EXPECT_EQ(point.type, "histogram");
        EXPECT_NE(point.attributes.count("server.port"), 0u);
    }
}

}  // namespace
}  // namespace otel_test
