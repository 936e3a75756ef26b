#include "otel_request.h"

#include <cstdint>

namespace {

#define BY_VALUE(n) reinterpret_cast<const void*>(static_cast<uintptr_t>(n))

const char* const accept_name[] = {"Accept"};
const char* const accept_value[] = {"text/html,application/json"};
const char* const agent_name[] = {"User-Agent"};
const char* const agent_value[] = {"Mozilla/5.0 (X11; Linux x86_64) bench/1.0"};

}  // namespace

void one_request(quorin_handle_t web_application) {
    const quorin_handle_t tracer = quorin_incomingwebrequesttracer_create_p(
        BY_VALUE(web_application), "/api/orders?id=42", "GET");
    quorin_tracer_start(tracer);
    quorin_incomingwebrequesttracer_add_request_headers_p(tracer, accept_name, accept_value,
                                                          BY_VALUE(1));
    quorin_incomingwebrequesttracer_add_request_headers_p(tracer, agent_name, agent_value,
                                                          BY_VALUE(1));
    quorin_incomingwebrequesttracer_set_status_code(tracer, 200);
    quorin_tracer_end(tracer);
}
