#include "verdict.h"

namespace {

using otel::failure_kind;

constexpr uint16_t grpc_port = 4317;

std::string port_text(uint16_t port) { return std::to_string(port); }

verdict answered(const request_facts& f) {
    const int s = f.status;
    if (s >= 200 && s < 300) {
        if (f.rejected == 0) return {true, "arrived"};
        return {false, "the collector took the request but rejected " + std::to_string(f.rejected) +
                           " item(s): its message above says why (often a limit or a malformed "
                           "attribute on its side)"};
    }
    if (s == 401 || s == 403) {
        return {false, "the collector refuses the request's credentials (" + std::to_string(s) +
                           "): check the header it expects, e.g. an API key, in "
                           "OTEL_EXPORTER_OTLP_HEADERS (or otel_headers)"};
    }
    if (s == 407) {
        return {false,
                "the proxy asks for credentials (407): give them in the proxy variable, "
                "or exclude the collector's host with NO_PROXY"};
    }
    if (s == 404 || s == 405) {
        return {false, "the collector has no OTLP path there (" + std::to_string(s) +
                           "): OTEL_EXPORTER_OTLP_ENDPOINT takes the base URL (v1/traces and "
                           "v1/metrics are added); a signal's own endpoint takes the full URL"};
    }
    if (s == 415 || s == 400) {
        return {false, "the server cannot read an OTLP/HTTP protobuf request (" +
                           std::to_string(s) + "): is this an OTLP/HTTP collector (port 4318)?"};
    }
    if (s >= 300 && s < 400) {
        return {false, "the server redirects (" + std::to_string(s) +
                           "), which the agent never follows: give the endpoint it redirects to"};
    }
    if (s == 429 || s == 502 || s == 503 || s == 504) {
        return {false, "the collector is overloaded or unavailable (" + std::to_string(s) +
                           "): the agent retries; if it lasts, look at the collector"};
    }
    return {false, "the collector answered " + std::to_string(s) + ": its message above says why"};
}

}  // namespace

verdict judge(const request_facts& f) {
    if (f.answered) return answered(f);
    const std::string port = port_text(f.port);
    const bool https = f.scheme == "https";
    switch (f.failure) {
        case failure_kind::name_not_resolved:
            return {false, f.proxy ? "the proxy's host name does not resolve: check the proxy "
                                     "variable, or exclude the collector with NO_PROXY"
                                   : "the endpoint's host name does not resolve: check its "
                                     "spelling and the DNS of this machine"};
        case failure_kind::proxy:
            return {false,
                    "the proxy fails: check the proxy variable (HTTPS_PROXY, HTTP_PROXY, "
                    "ALL_PROXY), or exclude the collector's host with NO_PROXY"};
        case failure_kind::connection_refused:
            if (f.proxy) {
                return {false,
                        "a proxy is set and refuses the connection: check the proxy, or "
                        "exclude the collector's host with NO_PROXY"};
            }
            return {false, "nothing listens on port " + port +
                               ": is the collector running there? OTLP/HTTP is port 4318 "
                               "(4317 is gRPC)"};
        case failure_kind::tls_handshake:
        case failure_kind::connection_broken:
            if (https && !f.certificate_seen) {
                return {false, "the endpoint is https but port " + port +
                                   " answers without TLS (the handshake fails): use http://, or "
                                   "the collector's TLS port"};
            }
            if (f.port == grpc_port) {
                return {false, "port 4317 is OTLP/gRPC; this agent sends OTLP/HTTP: use port 4318"};
            }
            if (!https && f.failure == failure_kind::connection_broken) {
                return {false, "the server closed the connection without an answer: if port " +
                                   port + " serves TLS, use https://"};
            }
            return {false, "the TLS handshake fails: " + f.detail};
        case failure_kind::not_http:
            if (f.port == grpc_port) {
                return {false, "port 4317 is OTLP/gRPC; this agent sends OTLP/HTTP: use port 4318"};
            }
            return {false, "the server on port " + port +
                               " does not answer in HTTP/1.1: is it an OTLP/HTTP collector (port "
                               "4318)?"};
        case failure_kind::certificate_untrusted:
            return {false, f.ca_file ? "the collector's certificate is not trusted by the CA file "
                                       "(or names another host, or is out of date): check "
                                       "OTEL_EXPORTER_OTLP_CERTIFICATE"
                                     : "the collector's certificate is not trusted by the "
                                       "system's CAs: give the CA that issued it with "
                                       "OTEL_EXPORTER_OTLP_CERTIFICATE"};
        case failure_kind::client_certificate:
            return {false,
                    "the collector wants a client certificate it trusts: give one with "
                    "OTEL_EXPORTER_OTLP_CLIENT_CERTIFICATE and OTEL_EXPORTER_OTLP_CLIENT_KEY"};
        case failure_kind::tls_files:
            return {false, "the TLS files cannot be used: " + f.detail};
        case failure_kind::timed_out:
            return {false,
                    "no answer within the timeout: a firewall may drop the connection, or "
                    "the collector is stuck; raise OTEL_EXPORTER_OTLP_TIMEOUT only if it "
                    "is just slow"};
        case failure_kind::none:
        case failure_kind::other:
            break;
    }
    return {false, "the request failed: " + f.detail};
}
