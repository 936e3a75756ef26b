#include "otel_agent_fixture.h"

#include <algorithm>
#include <mutex>

#include "support/scoped_state.h"

namespace otel_test {

namespace {

std::mutex warnings_mutex;
std::vector<std::string> captured;

void on_warning(const char* text) {
    std::lock_guard<std::mutex> hold(warnings_mutex);
    captured.emplace_back(text);
}

std::string any_value(const received_request& r, const std::string& prefix) {
    const std::string array = prefix + ".arrayValue.values";
    if (const size_t n = r.count(array); n > 0) {
        std::string out = "[";
        for (size_t i = 0; i < n; ++i) {
            if (i > 0) out += ',';
            out += any_value(r, array + "." + std::to_string(i));
        }
        return out + "]";
    }
    for (const char* type : {"stringValue", "intValue", "doubleValue", "boolValue"}) {
        const auto found = r.fields.find(prefix + "." + type);
        if (found != r.fields.end()) return found->second;
    }
    return {};
}

fields attributes_at(const received_request& r, const std::string& prefix) {
    fields out;
    for (size_t i = 0, n = r.count(prefix); i < n; ++i) {
        const std::string at = prefix + "." + std::to_string(i);
        const std::string key = r.field(at + ".key");
        // A collector keeps any one of the values of a repeated key: each key arrives once.
        EXPECT_TRUE(!key.empty() && out.count(key) == 0) << "key '" << key << "' at " << at;
        out[key] = any_value(r, at + ".value");
    }
    return out;
}

}  // namespace

std::vector<received_span> spans_in(const std::vector<received_request>& requests) {
    std::vector<received_span> spans;
    for (const received_request& r : requests) {
        if (r.path != "/v1/traces") continue;
        const std::string service =
            r.field("resourceSpans.0.resource.attributes.0.value.stringValue");
        const fields resource = attributes_at(r, "resourceSpans.0.resource.attributes");
        const std::string list = "resourceSpans.0.scopeSpans.0.spans";
        for (size_t i = 0, n = r.count(list); i < n; ++i) {
            const std::string at = list + "." + std::to_string(i);
            received_span s;
            s.service = service;
            s.resource = resource;
            s.trace = r.field(at + ".traceId");
            s.span = r.field(at + ".spanId");
            s.parent = r.field(at + ".parentSpanId");
            s.trace_state = r.field(at + ".traceState");
            s.name = r.field(at + ".name");
            s.kind = std::atoi(r.field(at + ".kind").c_str());
            s.status = std::atoi(r.field(at + ".status.code").c_str());
            s.status_message = r.field(at + ".status.message");
            s.start = r.field(at + ".startTimeUnixNano");
            s.end = r.field(at + ".endTimeUnixNano");
            s.attributes = attributes_at(r, at + ".attributes");
            for (size_t e = 0, events = r.count(at + ".events"); e < events; ++e) {
                const std::string event = at + ".events." + std::to_string(e);
                s.events.emplace_back(r.field(event + ".name"),
                                      attributes_at(r, event + ".attributes"));
            }
            spans.push_back(std::move(s));
        }
    }
    return spans;
}

std::vector<received_point> points_in(const std::vector<received_request>& requests) {
    std::vector<received_point> points;
    for (const received_request& r : requests) {
        if (r.path != "/v1/metrics") continue;
        const std::string list = "resourceMetrics.0.scopeMetrics.0.metrics";
        for (size_t i = 0, n = r.count(list); i < n; ++i) {
            const std::string at = list + "." + std::to_string(i);
            for (const char* type : {"sum", "gauge", "histogram"}) {
                const std::string data = at + "." + type + ".dataPoints";
                for (size_t p = 0, count = r.count(data); p < count; ++p) {
                    const std::string point = data + "." + std::to_string(p);
                    received_point out{r.field(at + ".name"),
                                       type,
                                       r.field(at + ".sum.isMonotonic") == "true",
                                       attributes_at(r, point + ".attributes"),
                                       {},
                                       r.field(point + ".startTimeUnixNano"),
                                       r.field(point + ".timeUnixNano"),
                                       r.field(at + "." + type + ".aggregationTemporality")};
                    for (const char* value : {".asInt", ".asDouble", ".count"}) {
                        if (out.value.empty()) out.value = r.field(point + value);
                    }
                    points.push_back(std::move(out));
                }
            }
        }
    }
    return points;
}

received_span span_named(const std::vector<received_span>& spans, const std::string& name) {
    const auto n = std::count_if(spans.begin(), spans.end(),
                                 [&](const received_span& s) { return s.name == name; });
    EXPECT_EQ(n, 1) << "spans named '" << name << "'";
    for (const received_span& s : spans) {
        if (s.name == name) return s;
    }
    return {};
}

void otel_agent_test::SetUp() {
    reset_library_state();
    receiver_ = receiver::from_environment();
    if (!receiver_) GTEST_SKIP() << "QUORIN_OTEL_RECEIVER is not set (scripts/test starts it)";
    receiver_->reset();
    set_option("home=" + std::string(QUORIN_OTEL_AGENT_HOME));
    set_option("otel_endpoint=" + receiver_->base());
    // Nothing is sent before a flush or the release, so every test sees all of its spans.
    set_option("otel_bsp_schedule_delay=3600000");
    set_option("otel_metric_export_interval=3600000");
    std::lock_guard<std::mutex> hold(warnings_mutex);
    captured.clear();
}

void otel_agent_test::TearDown() { reset_library_state(); }

void otel_agent_test::set_option(const std::string& text) {
    const std::u16string wide_text(text.begin(), text.end());
    ASSERT_EQ(quorin_stub_set_variable(wide(wide_text.c_str()), 1), QUORIN_STATUS_OK);
}

void otel_agent_test::initialize() {
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_ex_api_enable_span(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_ex_api_enable_tracer_ext(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_ex_api_enable_serverless(), QUORIN_STATUS_OK);
}

std::vector<received_span> otel_agent_test::shutdown_and_receive_spans() {
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_EQ(receiver_->errors(), "");
    return spans_in(receiver_->requests());
}

void otel_agent_test::capture_warnings() {
    ASSERT_EQ(quorin_agent_set_warning_callback(&on_warning), QUORIN_STATUS_OK);
}

std::vector<std::string> otel_agent_test::warnings() {
    std::lock_guard<std::mutex> hold(warnings_mutex);
    return captured;
}

}  // namespace otel_test
