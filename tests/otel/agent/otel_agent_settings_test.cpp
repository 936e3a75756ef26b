// Operator settings of the OpenTelemetry agent through the real library, against the OTLP
// receiver: delta temporality, attribute limits, the file beside the exporter switches, and the
// switch that turns the agent off.
#include <filesystem>
#include <fstream>

#include "otel_agent_fixture.h"
#include "otel_platform.h"
#include "support/process_environment.h"
#include "support/scoped_state.h"

namespace otel_test {
namespace {

using otel_agent_settings = otel_agent_test;

#ifdef _WIN32
constexpr bool windows = true;
#else
constexpr bool windows = false;
#endif

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
    for (double value : {6.0, 7.0}) quorin_floatstatisticsmetric_add_value_p(latency, value, "");
    quorin_ex_agent_force_send_data_now();
    quorin_ex_agent_force_send_data_now();  // nothing happened: nothing is sent
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);

    const auto requests = receiver_->requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string platform = windows ? "Windows" : "Linux";
    EXPECT_EQ(requests[0].headers.at("user-agent"),
              "quorin-otel-agent/1.0.0 (" + platform + " x86_64)");
    const auto points = points_in(requests);
    std::string seen;  // metric=value/temporality; the gauge keeps its meaning
    for (const received_point& p : points)
        seen += p.metric + "=" + p.value + "/" + p.temporality + " ";
    EXPECT_EQ(seen,
              "shop.orders=3/1 shop.latency=1/1 shop.depth=7/ shop.orders=4/1 shop.latency=2/1 ");
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(points[3].start, points[0].time);  // where the previous export ended
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
    // What was dropped is counted with the span, the only one that dropped any.
    size_t counted = 0;
    const auto requests = receiver_->requests();
    for (const auto& [key, value] : requests.at(0).fields) {
        counted += key.ends_with(".droppedAttributesCount") ? std::stoul(value) : 0;
    }
    EXPECT_EQ(counted, 7u);
}

TEST_F(otel_agent_settings, TheFileIsWrittenWhateverTheExporterSwitchesSay) {
    // A name beyond ASCII, which Windows opens as UTF-16.
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        (u"quorin-fichi\u00e9-" +
         std::filesystem::path(std::to_string(otel::current_process_id())).u16string() + u".jsonl");
    std::filesystem::remove(path);
    const std::u16string option = u"otel_file=" + path.u16string();
    ASSERT_EQ(quorin_stub_set_variable(wide(option.c_str()), 1), QUORIN_STATUS_OK);
    set_option("otel_traces_exporter=none");
    initialize();
    span_with("kept", {"k"}, {"v"});
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    for (const auto& request : receiver_->requests()) EXPECT_NE(request.path, "/v1/traces");
    std::ifstream in(path, std::ios::binary);
    std::string line, spans;
    while (std::getline(in, line)) {
        if (line.starts_with("{\"resourceSpans\"")) spans += line;
    }
    EXPECT_NE(spans.find("\"name\":\"kept\""), std::string::npos) << spans;
    in.close();
    std::filesystem::remove(path);
}

TEST_F(otel_agent_settings, SdkDisabledTrueRunsTheApplicationAsWithoutAnAgent) {
    struct row {
        const char* value;
        bool off;
    };
    for (const row& r : {row{"true", true}, row{"1", false}}) {  // spellings: the settings table
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
