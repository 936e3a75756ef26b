// Operator settings of the OpenTelemetry agent through the real library, against the OTLP
// receiver: delta temporality, attribute limits, and the switch that turns the agent off.
#include "otel_agent_fixture.h"
#include "support/process_environment.h"
#include "support/scoped_state.h"

namespace otel_test {
namespace {

using otel_agent_settings = otel_agent_test;

TEST_F(otel_agent_settings, DeltaSendsWhatHappenedSinceThePreviousExport) {
    set_option("otel_metrics_temporality_preference=delta");
    initialize();
    const quorin_handle_t orders = quorin_integercountermetric_create_p("shop", "orders", "1");
    const quorin_handle_t latency = quorin_floatstatisticsmetric_create_p("shop", "latency", "ms");
    const quorin_handle_t depth = quorin_integergaugemetric_create_p("shop", "depth", "1");
    quorin_integercountermetric_increase_by_p(orders, 3, "");
    quorin_floatstatisticsmetric_add_value_p(latency, 5, "");
    quorin_integergaugemetric_set_value_p(depth, 7, "");
    quorin_ex_agent_force_send_data_now();
    quorin_integercountermetric_increase_by_p(orders, 4, "");
    quorin_floatstatisticsmetric_add_value_p(latency, 6, "");
    quorin_floatstatisticsmetric_add_value_p(latency, 7, "");
    quorin_ex_agent_force_send_data_now();
    quorin_ex_agent_force_send_data_now();  // nothing happened: no sum, no histogram
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);

    const auto requests = receiver_->requests();
    ASSERT_EQ(requests.size(), 2u);
    // Who sends, on every request.
#ifdef _WIN32
    EXPECT_EQ(requests[0].headers.at("user-agent"), "quorin-otel-agent/1.0.0 (Windows x86_64)");
#else
    EXPECT_EQ(requests[0].headers.at("user-agent"), "quorin-otel-agent/1.0.0 (Linux x86_64)");
#endif
    std::string previous_time;
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i);
        const received_request& r = requests[i];
        std::map<std::string, std::string> by_name;  // name -> "type value temporality"
        const std::string list = "resourceMetrics.0.scopeMetrics.0.metrics";
        for (size_t m = 0; m < r.count(list); ++m) {
            const std::string at = list + "." + std::to_string(m);
            for (const char* type : {"sum", "histogram"}) {
                const std::string point = at + "." + type + ".dataPoints.0";
                if (r.field(point + ".timeUnixNano").empty()) continue;
                by_name[r.field(at + ".name")] =
                    std::string(type) + " " + r.field(point + ".asInt") +
                    r.field(point + ".count") + " " +
                    r.field(at + "." + type + ".aggregationTemporality");
                // Each delta starts where the previous export ended.
                if (!previous_time.empty()) {
                    EXPECT_EQ(r.field(point + ".startTimeUnixNano"), previous_time);
                }
            }
        }
        const std::map<std::string, std::string> expected[] = {
            {{"shop.orders", "sum 3 1"}, {"shop.latency", "histogram 1 1"}},
            {{"shop.orders", "sum 4 1"}, {"shop.latency", "histogram 2 1"}},
        };
        EXPECT_EQ(by_name, expected[i]);
        previous_time = r.field(list + ".0.sum.dataPoints.0.timeUnixNano");
    }
    // The gauge keeps its meaning: the value of the first interval only.
    size_t gauges = 0;
    for (const received_point& p : points_in(requests)) gauges += p.type == "gauge";
    EXPECT_EQ(gauges, 1u);
}

// A span of the span API with the given text attributes.
void span_with(const char* name, std::vector<const char*> keys, std::vector<const char*> values) {
    const quorin_handle_t span = quorin_ex_spantracer_create(0);
    quorin_ex_spantracer_set_operationname_p(span, name);
    quorin_ex_spantracer_set_strings_p(span, keys.data(), values.data(), BY_VALUE(keys.size()));
    quorin_tracer_start(span);
    quorin_tracer_end(span);
}

TEST_F(otel_agent_settings, AttributeLimitsCutValuesAtACharacterAndCountWhatIsDropped) {
    set_option("otel_attribute_value_length_limit=4");
    set_option("otel_span_attribute_count_limit=3");
    set_option("otel_attribute_count_limit=100");  // the span's own limit comes first
    initialize();
    // a, e-acute (2 bytes), euro sign (3 bytes): the fourth byte is inside the euro sign.
    span_with("cut", {"k"}, {"a\xC3\xA9\xE2\x82\xAC"});
    span_with("exact", {"k"}, {"abcd"});
    span_with("many", {"k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9"},
              {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"});
    const auto spans = shutdown_and_receive_spans();
    EXPECT_EQ(span_named(spans, "cut").attributes.at("k"), "a\xC3\xA9");
    EXPECT_EQ(span_named(spans, "exact").attributes.at("k"), "abcd");
    EXPECT_EQ(span_named(spans, "many").attributes.size(), 3u);
    // The count of what was dropped arrives with the span.
    const auto request = receiver_->requests().at(0);
    const std::string list = "resourceSpans.0.scopeSpans.0.spans";
    for (size_t i = 0; i < request.count(list); ++i) {
        const std::string at = list + "." + std::to_string(i);
        if (request.field(at + ".name") != "many") continue;
        EXPECT_EQ(std::stoi(request.field(at + ".droppedAttributesCount")), 7);
    }
}

TEST_F(otel_agent_settings, SdkDisabledTrueRunsTheApplicationAsWithoutAnAgent) {
    struct row {
        const char* value;
        bool off;
    };
    for (const row& r : {row{"true", true}, row{" TRUE ", true}, row{"1", false},
                         row{"false", false}, row{"yes", false}}) {
        SCOPED_TRACE(r.value);
        receiver_->reset();
        scoped_process_environment disabled("OTEL_SDK_DISABLED", r.value);
        log_capture log(QUORIN_LOGLEVEL_FINEST);
        ASSERT_EQ(quorin_initialize(), r.off ? QUORIN_STATUS_AGENT_NOT_ACTIVE : QUORIN_STATUS_OK);
        const quorin_handle_t call = quorin_outgoingwebrequesttracer_create_p("http://h/", "GET");
        EXPECT_EQ(call != 0, !r.off);
        quorin_tracer_start(call);
        quorin_tracer_end(call);
        EXPECT_EQ(quorin_shutdown(), r.off ? QUORIN_STATUS_NOT_INITIALIZED : QUORIN_STATUS_OK);
        EXPECT_EQ(receiver_->requests().size(), r.off ? 0u : 1u);
        // Said once, as information: no failure is logged.
        size_t said = 0;
        for (const log_line& line : log.lines()) {
            const std::string text = to_narrow(line.text);
            said += text.find(
                        "Agent not active: OpenTelemetry agent: disabled by "
                        "OTEL_SDK_DISABLED=") != std::string::npos;
            EXPECT_LT(line.level, QUORIN_LOGLEVEL_WARNING) << text;
        }
        EXPECT_EQ(said, r.off ? 1u : 0u);
    }
}

}  // namespace
}  // namespace otel_test
