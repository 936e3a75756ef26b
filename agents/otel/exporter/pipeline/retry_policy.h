// What to do after one attempt to send a body: the whole retry policy of the exporter.
// Retried: no answer (connection refused or lost, timed out), 429, 502, 503 and 504, with
// exponential back-off and jitter, or after the server's Retry-After. Anything else that is
// not a success is permanent.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace otel {

enum class attempt_outcome { delivered, retry, permanent };

// status: the HTTP status, 0 when no answer came.
attempt_outcome classify_status(int status);

struct retry_options {
    std::chrono::milliseconds initial{1000};
    std::chrono::milliseconds maximum{5000};
    double multiplier = 1.5;
};

// The wait after failed attempt number `attempt` (1 for the first): the back-off grows by the
// multiplier up to the maximum, and `random` (any 64-bit value) scales it to between half and
// all of that. A Retry-After from the server replaces it, though never with less than the first
// back-off step: retries never run back to back.
std::chrono::milliseconds retry_delay(const retry_options& options, int attempt,
                                      std::optional<std::chrono::milliseconds> retry_after,
                                      uint64_t random);

// A Retry-After value: delay seconds, or an HTTP date (IMF-fixdate, RFC 850 or asctime form)
// relative to `now` (seconds since 1970). Nothing for a text that is neither.
std::optional<std::chrono::milliseconds> parse_retry_after(std::string_view text,
                                                           int64_t now_unix_seconds);

}  // namespace otel
