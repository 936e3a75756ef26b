// A tiny order service on libmicrohttpd for scripts/bench-server: GET /orders/<id> answers a
// small JSON order, each request traced as an incoming web request through libquorin. With
// "traced" it binds the OpenTelemetry agent, which exports to QUORIN_OTEL_RECEIVER (the
// receiver's sink); with "untraced" no agent is bound and the calls cost only the forwarders.
// Prints its port on the first line, then serves until its standard input closes; traced, it
// then prints on standard error the share of the spans the exporter sent.
//
//   order_service traced|untraced
#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "otel_agent_session.h"
#include "quorin.h"

namespace {

#define BY_VALUE(n) reinterpret_cast<const void*>(static_cast<uintptr_t>(n))

quorin_handle_t web_application = 0;

// Some work an order lookup might do: a checksum over the order's text.
std::string order_of(const char* id) {
    std::string text = "{\"id\":\"";
    text += id;
    text += "\",\"items\":[{\"sku\":\"A-100\",\"quantity\":2},{\"sku\":\"B-7\",\"quantity\":1}],";
    unsigned sum = 0;
    for (int round = 0; round < 50; ++round) {
        for (const char c : text) sum = sum * 31 + static_cast<unsigned char>(c) + round;
    }
    return text + "\"checksum\":" + std::to_string(sum) + "}";
}

MHD_Result answer(void*, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t*, void**) {
    const quorin_handle_t tracer =
        quorin_incomingwebrequesttracer_create_p(BY_VALUE(web_application), url, method);
    quorin_tracer_start(tracer);
    const char* names[] = {"User-Agent"};
    const char* agent = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "User-Agent");
    const char* values[] = {agent != nullptr ? agent : ""};
    quorin_incomingwebrequesttracer_add_request_headers_p(tracer, names, values, BY_VALUE(1));
    const bool found = std::strncmp(url, "/orders/", 8) == 0;
    const std::string body = found ? order_of(url + 8) : "{}";
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), (void*)body.data(), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, "Content-Type", "application/json");
    const unsigned status = found ? MHD_HTTP_OK : MHD_HTTP_NOT_FOUND;
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    quorin_incomingwebrequesttracer_set_status_code(tracer, static_cast<int>(status));
    quorin_tracer_end(tracer);
    return queued;
}

}  // namespace

int main(int argc, char** argv) {
    const bool traced = argc == 2 && std::strcmp(argv[1], "traced") == 0;
    if (argc != 2 || (!traced && std::strcmp(argv[1], "untraced") != 0)) {
        std::fprintf(stderr, "usage: order_service traced|untraced\n");
        return 2;
    }
    std::unique_ptr<otel_agent_session> session;
    if (traced) {
        session = std::make_unique<otel_agent_session>();
        if (!session->error().empty()) {
            std::fprintf(stderr, "%s\n", session->error().c_str());
            return 1;
        }
        web_application = session->web_application();
    } else {
        web_application = quorin_webapplicationinfo_create_p("shop.example", "shop", "/");
    }
    // On the loopback address only, on a free port.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    MHD_Daemon* daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 0,
                                          nullptr, nullptr, &answer, nullptr, MHD_OPTION_SOCK_ADDR,
                                          &address, MHD_OPTION_THREAD_POOL_SIZE, 2u,
                                          MHD_OPTION_CONNECTION_LIMIT, 256u, MHD_OPTION_END);
    if (daemon == nullptr) {
        std::fprintf(stderr, "the server could not start\n");
        return 1;
    }
    std::printf("%u\n", MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT)->port);
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    MHD_stop_daemon(daemon);
    if (!traced) {
        quorin_webapplicationinfo_delete(web_application);
        return 0;
    }
    session.reset();
    // What the exporter delivered; the rest found the queue full and was dropped.
    std::fprintf(stderr, "spans sent: %.1f%%\n", 100 * otel_agent_session::last_sent_share());
    return 0;
}
