#include "http_transport.h"

namespace otel {

int64_t milliseconds_to_start(const http_request& request, bool aborted, http_response& response) {
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
        request.deadline - std::chrono::steady_clock::now());
    if (aborted) {
        response.error = "aborted";
        return 0;
    }
    if (remaining.count() <= 0) {
        response.error = "timed out";
        return 0;
    }
    return remaining.count();
}

}  // namespace otel
