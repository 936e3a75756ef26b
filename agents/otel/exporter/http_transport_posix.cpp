// libcurl through its multi interface, so that abort can wake a transfer that waits for a
// server which never answers.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "http_transport.h"

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

size_t collect_header(char* data, size_t size, size_t count, void* user) {
    auto* response = static_cast<http_response*>(user);
    const std::string_view line(data, size * count);
    take_header(line, "retry-after:", response->retry_after);
    take_header(line, "location:", response->location);
    return size * count;
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
        if (response.untrusted) return response;
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
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &response);
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
    return response;
}

}  // namespace otel
