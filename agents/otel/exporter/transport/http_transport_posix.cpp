// libcurl through its multi interface, so that abort can wake a transfer that waits for a
// server which never answers.
#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "http_transport.h"
#include "redaction.h"

namespace otel {

namespace {

struct body_sink {
    http_response* response;
    size_t limit;
};

size_t collect_body(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<body_sink*>(user);
    const size_t bytes = size * count;
    if (bytes > sink->limit - sink->response->body.size()) {
        sink->response->oversized = true;
        return 0;  // ends the transfer
    }
    sink->response->body.append(data, bytes);
    return bytes;
}

// Stores the value of a header line named `name` ("retry-after:") in `value`.
void take_header(std::string_view line, std::string_view name, std::string& value) {
    if (line.size() <= name.size() || !equal_ignore_ascii_case(line.substr(0, name.size()), name)) {
        return;
    }
    line.remove_prefix(name.size());
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    value = trim(line);
}

// The TLS protocol of the connection under way, when libcurl runs on OpenSSL: its
// SSL_get_version, found in the process (libcurl brought OpenSSL in) rather than linked.
std::string tls_protocol(CURL* easy) {
    curl_tlssessioninfo* session = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || session == nullptr ||
        session->backend != CURLSSLBACKEND_OPENSSL || session->internals == nullptr) {
        return {};
    }
    using version_function = const char* (*)(const void*);
    static const auto version =
        reinterpret_cast<version_function>(dlsym(RTLD_DEFAULT, "SSL_get_version"));
    const char* text = version != nullptr ? version(session->internals) : nullptr;
    return text != nullptr ? text : "";
}

struct header_sink {
    http_response* response;
    CURL* easy;
};

size_t collect_header(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<header_sink*>(user);
    http_response* response = sink->response;
    const std::string_view line(data, size * count);
    take_header(line, "retry-after:", response->retry_after);
    take_header(line, "location:", response->location);
    // Read while the connection is surely alive: it may be gone once the transfer is done.
    if (response->connection && response->connection->tls_protocol.empty()) {
        response->connection->tls_protocol = tls_protocol(sink->easy);
    }
    return size * count;
}

failure_kind failure_of(CURLcode result, const char* detail) {
    switch (result) {
        case CURLE_OK:
            return failure_kind::none;
        case CURLE_COULDNT_RESOLVE_HOST:
            return failure_kind::name_not_resolved;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_PROXY:
            return failure_kind::proxy;
        case CURLE_COULDNT_CONNECT:
            return failure_kind::connection_refused;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CIPHER:
            return failure_kind::tls_handshake;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_ISSUER_ERROR:
            return failure_kind::certificate_untrusted;
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
            return failure_kind::tls_files;
        case CURLE_SSL_CLIENTCERT:
            return failure_kind::client_certificate;
        case CURLE_RECV_ERROR:
            return std::strstr(detail, " alert ") != nullptr ? failure_kind::client_certificate
                                                             : failure_kind::connection_broken;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:  // "Received HTTP/0.9 when not allowed"
        case CURLE_HTTP2:
            return failure_kind::not_http;
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return failure_kind::connection_broken;
        case CURLE_OPERATION_TIMEDOUT:
            return failure_kind::timed_out;
        default:
            return failure_kind::other;
    }
}

// The subject and issuer of the first certificate libcurl collected on `easy`.
void take_certificate(CURL* easy, connection_info& info) {
    curl_certinfo* certificates = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CERTINFO, &certificates) != CURLE_OK ||
        certificates == nullptr || certificates->num_of_certs <= 0) {
        return;
    }
    for (curl_slist* item = certificates->certinfo[0]; item != nullptr; item = item->next) {
        const std::string_view field(item->data);
        if (field.starts_with("Subject:")) info.certificate_subject = field.substr(8);
        if (field.starts_with("Issuer:")) info.certificate_issuer = field.substr(7);
    }
}

// A certificate refused during the handshake leaves libcurl nothing to show: a second
// handshake, unchecked and sending nothing (no request, no header), fetches it to be shown.
void fetch_refused_certificate(const std::string& target, long milliseconds,
                               connection_info& info) {
    CURL* probe = curl_easy_init();
    if (probe == nullptr) return;
    curl_easy_setopt(probe, CURLOPT_URL, target.c_str());
    curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(probe, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(probe, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(probe, CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(probe, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(probe, CURLOPT_TIMEOUT_MS, std::max(milliseconds, 1L));
    if (curl_easy_perform(probe) == CURLE_OK) take_certificate(probe, info);
    curl_easy_cleanup(probe);
}

// The rest of the connection's facts, once the transfer is over.
void finish_report(CURL* easy, CURLcode result, const char* detail, const tls_files* tls,
                   connection_info& info) {
    char* address = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &address) == CURLE_OK && address != nullptr) {
        info.remote_address = address;
    }
    long port = 0;
    curl_easy_getinfo(easy, CURLINFO_PRIMARY_PORT, &port);
    info.remote_port = static_cast<uint16_t>(port);
    curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME, &info.seconds);
    take_certificate(easy, info);
    info.failure = failure_of(result, detail);
    info.platform_error = result;
    // Verification is on: a certificate that came with an answer was trusted.
    if (result == CURLE_OK && !info.certificate_subject.empty()) {
        info.trusted_by = tls != nullptr && !tls->certificate.empty()
                              ? "the CA file '" + tls->certificate + "'"
                              : "the system's CAs";
    }
}

void initialize_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// libcurl reads the files itself; certificate and host name checks stay on.
void set_tls(CURL* easy, const tls_files& files) {
    if (!files.certificate.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, files.certificate.c_str());
    if (!files.client_certificate.empty()) {
        curl_easy_setopt(easy, CURLOPT_SSLCERT, files.client_certificate.c_str());
        curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, "PEM");
        curl_easy_setopt(easy, CURLOPT_SSLKEY, files.client_key.c_str());
        curl_easy_setopt(easy, CURLOPT_SSLKEYTYPE, "PEM");
    }
}

// libcurl's text for TLS failures, with the detail of its error buffer (which names the
// certificate problem, never a header or the URL's query).
bool tls_failure(CURLcode result) {
    switch (result) {
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_CLIENTCERT:
        case CURLE_RECV_ERROR:  // a TLS alert after the handshake (a client certificate refused)
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string tls_files_problem(const tls_files& files) { return common_tls_problem(files); }

std::optional<proxy_setting> configured_proxy(const url& target) {
    // libcurl's rules: NO_PROXY with "*" or the host's name turns proxies off; http_proxy only
    // in lower case.
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* value = std::getenv(name);
        if (value == nullptr) continue;
        std::string list(",");
        for (const char* c = value; *c != 0; ++c) {
            if (*c != ' ') list.push_back(*c);
        }
        list.push_back(',');
        if (list == ",*," || list.find(',' + target.host + ',') != std::string::npos) {
            return std::nullopt;
        }
    }
    const char* https_names[] = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    const char* http_names[] = {"http_proxy", "all_proxy", "ALL_PROXY", nullptr};
    for (const char* name : target.scheme == "https" ? https_names : http_names) {
        const char* value = name != nullptr ? std::getenv(name) : nullptr;
        if (value != nullptr && value[0] != 0) return proxy_setting{redact_url(value), name};
    }
    return std::nullopt;
}

struct http_transport::state {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    std::atomic<bool> aborted{false};
};

http_transport::http_transport() : state_(std::make_unique<state>()) {
    initialize_once();
    state_->multi = curl_multi_init();
    state_->easy = curl_easy_init();
}

http_transport::~http_transport() {
    if (state_->easy != nullptr) curl_easy_cleanup(state_->easy);
    if (state_->multi != nullptr) curl_multi_cleanup(state_->multi);
}

void http_transport::abort() {
    state_->aborted.store(true);
    if (state_->multi != nullptr) curl_multi_wakeup(state_->multi);
}

http_response http_transport::post(const http_request& request) {
    http_response response;
    CURL* easy = state_->easy;
    if (state_->multi == nullptr || easy == nullptr) {
        response.error = "libcurl could not be initialised";
        return response;
    }
    const int64_t remaining = milliseconds_to_start(request, state_->aborted.load(), response);
    if (remaining == 0) return response;
    // As on Windows, the TLS files serve https:// endpoints only.
    const tls_files* tls = request.target->scheme == "https" ? request.tls : nullptr;
    if (tls != nullptr && !tls->empty()) {
        response.error = tls_files_problem(*tls);
        response.untrusted = !response.error.empty();
        if (response.untrusted) {
            if (request.report_connection) {
                response.connection.emplace().failure = failure_kind::tls_files;
            }
            return response;
        }
    }

    curl_slist* headers = nullptr;
    const std::string content_type = "Content-Type: " + std::string(request.content_type);
    headers = curl_slist_append(headers, content_type.c_str());
    headers = curl_slist_append(headers, "Expect:");  // no 100-continue round trip
    if (!request.content_encoding.empty()) {
        const std::string encoding = "Content-Encoding: " + std::string(request.content_encoding);
        headers = curl_slist_append(headers, encoding.c_str());
    }
    for (const key_value_text& header : request.headers) {
        const std::string line = header.key + ": " + header.value;
        headers = curl_slist_append(headers, line.c_str());
    }
    const std::string target = request.target->text();

    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect_body);
    body_sink sink{&response, request.response_limit};
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, collect_header);
    header_sink header_data{&response, easy};
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &header_data);
    if (request.report_connection) {
        response.connection.emplace();
        curl_easy_setopt(easy, CURLOPT_CERTINFO, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    const std::string user_agent(request.user_agent);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, user_agent.c_str());
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, detail);
    if (tls != nullptr) set_tls(easy, *tls);

    curl_multi_add_handle(state_->multi, easy);
    CURLcode result = CURLE_OK;
    bool done = false;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(state_->multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int pending = 0;
        while (CURLMsg* message = curl_multi_info_read(state_->multi, &pending)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                done = true;
            }
        }
        if (done) break;
        if (state_->aborted.load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(state_->multi, nullptr, 0, 200, nullptr);
    }
    curl_multi_remove_handle(state_->multi, easy);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);  // the buffer ends with this call
    curl_slist_free_all(headers);

    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && response.oversized)) {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        response.status = static_cast<int>(status);
    } else {
        response.status = 0;
        response.error =
            result == CURLE_ABORTED_BY_CALLBACK ? "aborted" : curl_easy_strerror(result);
        if (tls_failure(result) && detail[0] != '\0') response.error += std::string(": ") + detail;
        // A TLS alert from the collector (one that requires a client certificate sends it
        // after the handshake) is a refusal too.
        response.untrusted =
            result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CACERT_BADFILE ||
            result == CURLE_SSL_CERTPROBLEM || result == CURLE_SSL_ISSUER_ERROR ||
            (result == CURLE_RECV_ERROR && std::strstr(detail, " alert ") != nullptr);
        response.body.clear();
    }
    if (response.connection) {
        finish_report(easy, result, detail, tls, *response.connection);
        if (response.connection->failure == failure_kind::certificate_untrusted) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                request.deadline - std::chrono::steady_clock::now());
            fetch_refused_certificate(target, static_cast<long>(left.count()),
                                      *response.connection);
        }
    }
    return response;
}

}  // namespace otel
