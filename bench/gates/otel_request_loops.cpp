// Runs the OpenTelemetry agent's request (otel_request.h) in loops, for callgrind to count (see
// loop_dumps.h): "sampled" with the default sampler, then "unsampled" with a ratio of 0.
//
// The count must not depend on timing, so no request meets the exporter thread: the schedule
// delay is an hour, and the queue's byte bound (its least) is full after a few spans while it
// holds far fewer than a batch, which would wake the exporter. Every counted sampled request
// then takes the path of a span dropped at a full queue (the path most of the benchmark's
// requests take against the receiver): the record goes back to the thread's spares, which the
// next request takes it from. Nothing listens at the endpoint, and the release gives up on the
// queued spans after one refused attempt.
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gates/loop_dumps.h"
#include "otel_agent_session.h"
#include "otel_request.h"

namespace {

constexpr uint64_t requests = 200;

// A port of 127.0.0.1 bound but not listening: a connection to it is refused.
std::string refusing_endpoint() {
    const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (socket_fd < 0 || bind(socket_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return "http://127.0.0.1:9";
    }
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));  // held till exit
}

// Binds the agent with the options, and runs the requests for the case.
#define QUIET_EXPORTER \
    "otel_bsp_schedule_delay=3600000", "otel_max_queue_bytes=4096", "otel_timeout=500"
bool measure(const char* name, std::initializer_list<const char*> options) {
    const otel_agent_session session(options);
    if (!session.error().empty()) {
        std::fprintf(stderr, "%s\n", session.error().c_str());
        return false;
    }
    const quorin_handle_t web_application = session.web_application();
    // The wall clock learns the counter's rate over its first 20 ms, reading the system clock
    // meanwhile; the queue fills and the thread's spares are made in the first requests.
    const auto warm_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < warm_until) one_request(web_application);
    dump_loop_runs(name, requests, [=](uint64_t count) {
        for (uint64_t i = 0; i < count; ++i) one_request(web_application);
    });
    return true;
}

}  // namespace

int main() {
    setenv("QUORIN_OTEL_RECEIVER", refusing_endpoint().c_str(), 1);
    return measure("sampled", {QUIET_EXPORTER}) &&
                   measure("unsampled",
                           {QUIET_EXPORTER, "otel_traces_sampler=parentbased_traceidratio",
                            "otel_traces_sampler_arg=0"})
               ? 0
               : 1;
}
