// HTTP POST of one request body, with a deadline and a way to abandon it from another
// thread. libcurl on POSIX systems, WinHTTP on Windows: one source file each. Redirects are
// never followed: they would carry the request's headers (an API key) to another host.
#pragma once

#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "setting_parsers.h"

namespace otel {

struct http_request {
    const url* target = nullptr;
    std::span<const key_value_text> headers;
    std::string_view content_type = "application/x-protobuf";
    std::string_view content_encoding;  // "gzip" for a compressed body; empty: none
    std::string_view user_agent = "quorin-otel-agent";
    std::string_view body;
    std::chrono::steady_clock::time_point deadline;
    size_t response_limit = 64 * 1024;  // bytes of the answer's body kept
};

struct http_response {
    int status = 0;           // 0: no answer (see error)
    std::string error;        // why there is no answer
    std::string retry_after;  // the Retry-After header, if any
    std::string location;     // the Location header, if any
    std::string body;         // up to the request's response_limit
    bool oversized = false;   // the body went past the limit: the transfer was cut off
};

// Milliseconds left for a request that may start: 0 (with the reason in response.error) when
// it is aborted or its deadline has passed.
int64_t milliseconds_to_start(const http_request& request, bool aborted, http_response& response);

class http_transport {
  public:
    http_transport();
    ~http_transport();
    http_transport(const http_transport&) = delete;
    http_transport& operator=(const http_transport&) = delete;

    // Blocks until the answer, the deadline, or abort.
    http_response post(const http_request& request);

    // From any thread: the post under way ends soon without an answer, and so does every
    // later one.
    void abort();

  private:
    struct state;
    std::unique_ptr<state> state_;
};

}  // namespace otel
