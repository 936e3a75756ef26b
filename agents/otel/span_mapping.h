// A finished tracer as an OTLP span, after the OpenTelemetry semantic conventions: its kind,
// its name and the attribute names of its kind (HTTP server and client, database client, RPC,
// messaging), its status and exception event, and its ids and times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "object_record.h"
#include "otlp_model.h"

namespace otel_agent {

// What the mapping takes from the settings.
struct mapping_options {
    // Names of headers (any case) whose values are sent as "REDACTED", besides those that
    // carry credentials (Authorization, Proxy-Authorization, Cookie, Set-Cookie).
    std::vector<std::string> redacted_headers;

    // From a comma-separated list of header names, any case.
    static mapping_options from(std::string_view redacted_header_list);
};

// Returns the otlp_span::settled_* reasons why attributes were left out.
uint32_t fill_span(const agent_core::object_record& tracer, otel::otlp_span& span,
                   const mapping_options& options = {});

// A time the API takes in microseconds as OTLP's nanoseconds; the times past the largest
// nanosecond time become that time rather than wrapping.
uint64_t unix_nano_of(uint64_t microseconds);

// The web application's name of an incoming web request, "" for other tracers.
std::string_view application_name(const agent_core::object_record& tracer);

}  // namespace otel_agent
