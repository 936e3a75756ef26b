// The OpenTelemetry agent's output on the recording core: every finished tracer of a sampled
// trace becomes an OTLP span handed to the exporter, every metric update goes to the metrics
// of the export interval, and the tags are W3C traceparent values (the byte tags their
// binary form). The exporter's thread runs from the agent's initialize to its release.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "exporter.h"
#include "metric_bridge.h"
#include "output.h"
#include "settings.h"
#include "span_mapping.h"

namespace otel_agent {

class otel_output final : public agent_core::agent_output {
  public:
    otel_output() : agent_output(true) {}
    ~otel_output() override;

    const char16_t* version() const override {
        return u"OpenTelemetry agent " QUORIN_OTEL_AGENT_VERSION;
    }
    const char* name() const override { return "OpenTelemetry agent"; }
    bool configure(const std::vector<agent_core::agent_option>& options,
                   std::string* error) override;
    bool switched_off() const override { return switched_off_; }
    void close() override;
    void session_started(const agent_core::session_info& info) override;
    void session_ended() override;
    void after_session_ended() override;
    void tracer_ended(agent_core::record_ptr tracer) override;
    void metric_updated(const agent_core::metric_event& event) override;
    void process_technology_added(int32_t, std::string_view, std::string_view) override {}
    void send_requested() override;
    // The core's reports on calls reach the application's callbacks already.
    void warning(std::string_view) override {}

    uint8_t trace_flags(const agent_core::trace_id& trace,
                        const agent_core::trace_context* parent) const override;
    size_t write_tag(const agent_core::trace_context& context, bool binary,
                     char* out) const override;
    bool parse_tag(std::string_view tag, bool binary,
                   agent_core::trace_context* context) const override;
    const char* tag_form() const override {
        return "a W3C traceparent, 00-<32 hex digits>-<16 hex digits>-<2 hex digits>";
    }

    void before_fork() override { metrics_->lock(); }
    void after_fork_in_parent() override { metrics_->unlock(); }
    void after_fork_in_child() override;

    // Read by the exporter thread as it makes spans; set before it starts.
    const mapping_options& mapping() const { return mapping_; }
    const otel::span_limits& span_limits() const { return settings_.span_limits; }
    // The exporter thread: a warning for each reason (otlp_span::settled_*) an attribute of a
    // span was left out, the first time it occurs in a session.
    void report_left_out(uint32_t reasons);

  private:
    void stop_exporter();
    // The service is named after the first tracer that carries an application's name.
    void name_service(otel::exporter& exporter, const agent_core::object_record& tracer);
    void stop(otel::exporter* stopping);

    otel::settings settings_;
    bool switched_off_ = false;  // by OTEL_SDK_DISABLED
    mapping_options mapping_;
    std::atomic<otel::exporter*> exporter_{nullptr};
    // Taken out of use at the release, stopped after the core's lifecycle lock is let go.
    std::atomic<otel::exporter*> retiring_{nullptr};
    std::atomic<int> stopping_{0};
    std::atomic<bool> service_named_{false};
    std::atomic<uint32_t> reported_{0};  // report_left_out's reasons said in this session
    std::unique_ptr<metric_bridge> metrics_ = std::make_unique<metric_bridge>();
};

}  // namespace otel_agent
