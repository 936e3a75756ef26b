// HTTP POST of one request body, with a deadline and a way to abandon it from another
// thread. libcurl on POSIX systems, WinHTTP on Windows: one source file each. Redirects are
// never followed: they would carry the request's headers (an API key) to another host.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "setting_parsers.h"

namespace otel {

// The PEM files of one signal's TLS: the CAs that alone are trusted for the collector's
// certificate (empty: the system's), and a client certificate with its key for mutual TLS.
// Paths as the settings gave them; a file is read when a request first needs it.
struct tls_files {
    std::string certificate;
    std::string client_certificate;
    std::string client_key;
    bool empty() const {
        return certificate.empty() && client_certificate.empty() && client_key.empty();
    }
    bool operator==(const tls_files&) const = default;
};

// Why the files cannot be used for a request (a file that cannot be read or holds no PEM
// item of its kind, a key without its certificate or the reverse, an encrypted key, whose pass
// phrase is never asked for, a key this system cannot load); empty when they can. Paths are named,
// contents never. A request whose files cannot be used fails with this reason and is not sent
// without them.
std::string tls_files_problem(const tls_files& files);

// Why a request got no answer, in the terms a diagnosis needs; the platform's error is kept too.
enum class failure_kind : uint8_t {
    none,
    name_not_resolved,   // the host name does not resolve
    connection_refused,  // nothing listens there (or the proxy refuses)
    proxy,               // the proxy failed
    tls_handshake,       // the handshake failed (a plain port, a protocol or cipher mismatch)
    certificate_untrusted,
    client_certificate,  // the collector refused the client certificate or asked for one
    tls_files,           // the CA file or client certificate cannot be used
    not_http,            // the server answered with something that is no HTTP/1.x
    connection_broken,   // the connection closed or failed during the exchange
    timed_out,
    other,
};

// What happened on the way to the collector, filled only when the request asks: a diagnosis
// of one request (the doctor's), never the exporter's path. A certificate the checks refused is
// read in a second handshake with the checks off, which sends nothing of the request: no HTTP
// at all with libcurl, a bare "GET /" with WinHTTP, which has no handshake without a request.
struct connection_info {
    std::string remote_address;  // the IP address reached, after name and proxy resolution
    uint16_t remote_port = 0;
    double seconds = 0;               // the whole request
    std::string tls_protocol;         // "TLSv1.3"; empty: plain HTTP, or not known
    std::string certificate_subject;  // the collector's certificate, when one was received
    std::string certificate_issuer;
    std::string trusted_by;  // what made it trusted: "the system's CAs", "the CA file '...'"
    failure_kind failure = failure_kind::none;
    long platform_error = 0;  // CURLcode or WinHTTP error number; 0: none
};

struct http_request {
    const url* target = nullptr;
    std::span<const key_value_text> headers;
    std::string_view content_type = "application/x-protobuf";
    std::string_view content_encoding;  // "gzip" for a compressed body; empty: none
    std::string_view user_agent = "quorin-otel-agent";
    std::string_view body;
    std::chrono::steady_clock::time_point deadline;
    size_t response_limit = 64 * 1024;  // bytes of the answer's body kept
    const tls_files* tls = nullptr;     // none: the system's CAs, no client certificate
    bool report_connection = false;     // fill the response's connection
};

struct http_response {
    int status = 0;           // 0: no answer (see error)
    std::string error;        // why there is no answer
    std::string retry_after;  // the Retry-After header, if any
    std::string location;     // the Location header, if any
    std::string body;         // up to the request's response_limit
    bool oversized = false;   // the body went past the limit: the transfer was cut off
    // No answer, for a reason a retry within the export cannot mend: the TLS files cannot be
    // used, or the collector's certificate is not trusted.
    bool untrusted = false;
    std::optional<connection_info> connection;  // set when the request asked for it
};

// Milliseconds left for a request that may start: 0 (with the reason in response.error) when
// it is aborted or its deadline has passed.
int64_t milliseconds_to_start(const http_request& request, bool aborted, http_response& response);

// A file's contents, at most 1 MiB; nothing when it cannot be read. The path is UTF-8.
std::optional<std::string> read_small_file(const std::string& path);
// The checks of tls_files_problem that need no system library; the platform's adds its own.
std::string common_tls_problem(const tls_files& files);

// The proxy a request to `target` goes through, as a message may show it (user info hidden),
// and where it is configured: a proxy variable on Linux (libcurl's), the system's WinHTTP proxy
// on Windows. Nothing when it goes direct, or as far as this can tell (WinHTTP's automatic
// configuration decides per request).
struct proxy_setting {
    std::string proxy;
    std::string from;
};
std::optional<proxy_setting> configured_proxy(const url& target);

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
