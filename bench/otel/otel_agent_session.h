// Binds libquorin to the OpenTelemetry agent from its agent home in the build tree, sending to
// the OTLP receiver whose address scripts/bench passes in QUORIN_OTEL_RECEIVER. The release at
// the end waits for what is queued; the receiver then forgets what it received, so that its
// memory stays bounded over a whole run.
#pragma once

#include <initializer_list>
#include <string>

#include "quorin.h"

// The answer to the receiver's /control/WHAT at `base` (its OTLP or control address); empty
// when there is none.
std::string receiver_control(const std::string& base, const char* what);

class otel_agent_session {
  public:
    // Further agent options, "otel_traces_sampler_arg=0" say.
    explicit otel_agent_session(std::initializer_list<const char*> options = {});
    ~otel_agent_session();
    otel_agent_session(const otel_agent_session&) = delete;
    otel_agent_session& operator=(const otel_agent_session&) = delete;

    // Empty when the agent is bound, else why not.
    const std::string& error() const { return error_; }
    // A web application info object of the session, for the requests' tracers.
    quorin_handle_t web_application() const { return web_application_; }
    // The share of the spans that the exporter sent in the last session that ended, from the
    // agent's report at its release (which it makes only when spans were lost).
    static double last_sent_share();

  private:
    std::string error_;
    std::string receiver_;
    bool initialized_ = false;
    quorin_handle_t web_application_ = 0;
};
