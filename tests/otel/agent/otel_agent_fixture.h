// The frame of the OpenTelemetry agent's tests: the real library bound to the agent from its
// agent home, sending to the OTLP receiver; the spans and metric points the receiver decoded.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "quorin.h"
#include "receiver_client.h"

#define BY_VALUE(n) reinterpret_cast<const void*>(static_cast<uintptr_t>(n))

namespace otel_test {

using fields = std::map<std::string, std::string>;

struct received_span {
    std::string service, trace, span, parent, name, trace_state;
    int kind = 0;    // OTLP numbering: 1 internal, 2 server, 3 client, 4 producer, 5 consumer
    int status = 0;  // 0 unset, 2 error
    std::string status_message;
    std::string start, end;  // nanoseconds since 1970, decimal
    fields attributes;       // values as text, a string array as "[a,b]"; each key once
    fields resource;         // the resource's attributes, service.name among them
    std::vector<std::pair<std::string, fields>> events;
};

struct received_point {
    std::string metric, type;  // "sum", "gauge" or "histogram"
    bool monotonic = false;
    fields attributes;
    std::string value;                     // asInt or asDouble; a histogram's count
    std::string start, time, temporality;  // temporality: "" for a gauge, 1 delta, 2 cumulative
};

std::vector<received_span> spans_in(const std::vector<received_request>& requests);
std::vector<received_point> points_in(const std::vector<received_request>& requests);
// The one span of that name, or a failed expectation and an empty span.
received_span span_named(const std::vector<received_span>& spans, const std::string& name);

class otel_agent_test : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    static void set_option(const std::string& text);  // "otel_timeout=500"
    // Initializes with the extensions it uses enabled (span, timed tracers, sending now).
    static void initialize();
    std::vector<received_span> shutdown_and_receive_spans();
    // Sets the agent's warning callback; warnings() are those it received in this test.
    static void capture_warnings();
    static std::vector<std::string> warnings();

    std::optional<receiver> receiver_;
};

}  // namespace otel_test
