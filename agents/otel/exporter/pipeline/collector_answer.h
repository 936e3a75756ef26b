// What a collector's answer body says: the partial success of a 200 (the rejected spans or
// data points and the collector's message) and the message of a google.rpc.Status sent with an
// error status. Bodies come from the network: malformed ones read as nothing, and texts are
// cleaned before they reach a warning.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace otel {

struct partial_success {
    uint64_t rejected = 0;  // rejected_spans or rejected_data_points
    std::string message;    // cleaned
};

// ExportTraceServiceResponse or ExportMetricsServiceResponse (the same shape): nothing when the
// body is empty, malformed, or carries no partial_success.
std::optional<partial_success> read_partial_success(std::string_view body);

// The message of a google.rpc.Status body, cleaned; "" when there is none.
std::string read_status_message(std::string_view body);

// Printable UTF-8 of at most `limit` bytes: control characters become spaces, invalid bytes
// '?', and a cut text ends with "...".
std::string cleaned_message(std::string_view text, size_t limit = 200);

// "host" or "host:port" of an absolute URL (a Location header), without its user info, path,
// query or fragment; "" for a relative one.
std::string host_of_location(std::string_view location);

}  // namespace otel
