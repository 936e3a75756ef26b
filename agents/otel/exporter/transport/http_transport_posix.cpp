// libcurl through its multi interface, so that abort can wake a transfer that waits for a
// server which never answers.
#include <curl/curl.h>
#include <dlfcn.h>
#include <sys/auxv.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "http_transport.h"
#include "otel_platform.h"
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

// A process whose caller may not be trusted (set-user-id, set-group-id, file capabilities):
// libcurl must not follow the caller's environment there, as the agent does not (secure_getenv).
bool in_set_user_id_process() { return getauxval(AT_SECURE) != 0; }

// The options a request's safety depends on: the first one libcurl does not take is a reason
// not to send it, rather than to send it with weaker settings.
class secure_options {
  public:
    explicit secure_options(CURL* easy) : easy_(easy) {}
    template <typename value_type>
    void set(CURLoption option, const char* name, value_type value) {
        if (!problem_.empty()) return;
        const CURLcode result = curl_easy_setopt(easy_, option, value);
        if (result != CURLE_OK) {
            problem_ = std::string("libcurl does not take ") + name + " (" +
                       curl_easy_strerror(result) + ")";
        }
    }
    void refuse(std::string problem) {
        if (problem_.empty()) problem_ = std::move(problem);
    }
    const std::string& problem() const { return problem_; }

  private:
    CURL* easy_;
    std::string problem_;
};

// No proxy from the environment in a set-user-id process: an empty proxy overrides libcurl's
// reading of http_proxy, https_proxy and all_proxy.
void set_network(secure_options& secure) {
    secure.set(CURLOPT_PROTOCOLS_STR, "CURLOPT_PROTOCOLS_STR", "http,https");
    if (in_set_user_id_process()) secure.set(CURLOPT_PROXY, "CURLOPT_PROXY", "");
}

// Why libcurl's TLS library cannot be relied on to trust a CA file alone; empty when it can.
// OpenSSL (and the libraries that present themselves as it) and GnuTLS trust nothing but the
// file once the CA path is none; another (NSS, with its module of built-in roots) is refused.
std::string ca_file_backend_problem() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    std::string_view names =
        info != nullptr && info->ssl_version != nullptr ? info->ssl_version : "";
    // A build with several TLS libraries puts the ones not in use in parentheses.
    std::string_view used;
    while (!names.empty()) {
        const size_t end = std::min(names.find(' '), names.size());
        if (names[0] != '(') {
            used = names.substr(0, end);
            break;
        }
        names.remove_prefix(std::min(end + 1, names.size()));
    }
    for (std::string_view trusted :
         {"OpenSSL/", "LibreSSL/", "BoringSSL", "quictls/", "AWS-LC/", "GnuTLS/"}) {
        if (used.starts_with(trusted)) return {};
    }
    return "libcurl's TLS library (" + std::string(used.empty() ? "none" : used) +
           ") is not known to trust the CA file alone";
}

// A certificate refused during the handshake leaves libcurl nothing to show: a second
// handshake, unchecked and sending nothing (no request, no header), fetches it to be shown.
void fetch_refused_certificate(const std::string& target, long milliseconds,
                               connection_info& info) {
    CURL* probe = curl_easy_init();
    if (probe == nullptr) return;
    secure_options secure(probe);
    set_network(secure);
    if (!secure.problem().empty()) {
        curl_easy_cleanup(probe);
        return;
    }
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

// The client certificate and key of one set of TLS files, read from their files once, when a
// request first needs them: libcurl takes both from memory. The key is wiped when freed.
struct client_material {
    tls_files files;
    std::string certificate;
    std::string key;
    client_material() = default;
    client_material(const client_material&) = delete;
    client_material& operator=(const client_material&) = delete;
    ~client_material() { wipe_memory(key.data(), key.size()); }
};

// Certificate and host name checks on, TLS 1.2 at least; a CA file is the only trust: no CA
// path (libcurl's built-in one is the system's), and no CA from memory either.
void set_tls(secure_options& secure, const tls_files& files, const client_material* client,
             curl_blob blobs[2]) {
    secure.set(CURLOPT_SSL_VERIFYPEER, "CURLOPT_SSL_VERIFYPEER", 1L);
    secure.set(CURLOPT_SSL_VERIFYHOST, "CURLOPT_SSL_VERIFYHOST", 2L);
    secure.set(CURLOPT_SSLVERSION, "CURLOPT_SSLVERSION", long{CURL_SSLVERSION_TLSv1_2});
    if (!files.certificate.empty()) {
        secure.refuse(ca_file_backend_problem());
        secure.set(CURLOPT_CAINFO, "CURLOPT_CAINFO", files.certificate.c_str());
        secure.set(CURLOPT_CAPATH, "CURLOPT_CAPATH", static_cast<const char*>(nullptr));
        secure.set(CURLOPT_CAINFO_BLOB, "CURLOPT_CAINFO_BLOB", static_cast<curl_blob*>(nullptr));
    }
    if (client == nullptr) return;
    // Not copied: libcurl reads them where they are, which are wiped.
    blobs[0] = {const_cast<char*>(client->certificate.data()), client->certificate.size(),
                CURL_BLOB_NOCOPY};
    blobs[1] = {const_cast<char*>(client->key.data()), client->key.size(), CURL_BLOB_NOCOPY};
    secure.set(CURLOPT_SSLCERT_BLOB, "CURLOPT_SSLCERT_BLOB", &blobs[0]);
    secure.set(CURLOPT_SSLCERTTYPE, "CURLOPT_SSLCERTTYPE", "PEM");
    secure.set(CURLOPT_SSLKEY_BLOB, "CURLOPT_SSLKEY_BLOB", &blobs[1]);
    secure.set(CURLOPT_SSLKEYTYPE, "CURLOPT_SSLKEYTYPE", "PEM");
    // An empty pass phrase: a key that is encrypted after all fails to load, never prompts.
    secure.set(CURLOPT_KEYPASSWD, "CURLOPT_KEYPASSWD", "");
}

// libcurl opens SSLKEYLOGFILE (read with getenv, as libcurl does) when it is initialised and
// writes every TLS secret to it; no option of a request turns that off. A set-user-id process
// whose caller set it neither initialises libcurl nor sends anything.
std::string process_refusal() {
    if (!in_set_user_id_process() || std::getenv("SSLKEYLOGFILE") == nullptr) return {};
    return "SSLKEYLOGFILE is set in a set-user-id process: libcurl would write the TLS secrets "
           "to it, so nothing is sent";
}

// Frees a list of request headers, each line wiped first: they hold header values.
void free_wiped(curl_slist* list) {
    for (curl_slist* item = list; item != nullptr; item = item->next) {
        wipe_memory(item->data, std::strlen(item->data));
    }
    curl_slist_free_all(list);
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
    // in lower case. None in a set-user-id process, where the transport turns them off.
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* value = secure_getenv(name);
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
        const char* value = name != nullptr ? secure_getenv(name) : nullptr;
        if (value != nullptr && value[0] != 0) return proxy_setting{redact_url(value), name};
    }
    return std::nullopt;
}

struct http_transport::state {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    std::atomic<bool> aborted{false};
    std::string refused;  // why nothing is sent from this process at all
    // The exporter thread alone posts; one set of files per signal, a few more after changes.
    std::vector<std::unique_ptr<client_material>> clients;

    // The client material of `files`, read when first needed; nothing when the files have no
    // client certificate, or cannot be used (the reason in problem, and they are read again at
    // the next request, which may find them mended).
    const client_material* client_for(const tls_files& files, std::string& problem) {
        for (const auto& client : clients) {
            if (client->files == files) return client.get();
        }
        problem = common_tls_problem(files);
        if (!problem.empty() || files.client_certificate.empty()) return nullptr;
        auto client = std::make_unique<client_material>();
        client->files = files;
        client->certificate = read_small_file(files.client_certificate).value_or("");
        client->key = read_small_file(files.client_key).value_or("");
        if (clients.size() == 4) clients.erase(clients.begin());
        clients.push_back(std::move(client));
        return clients.back().get();
    }
};

http_transport::http_transport() : state_(std::make_unique<state>()) {
    state_->refused = process_refusal();
    if (!state_->refused.empty()) return;
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
    if (!state_->refused.empty()) {
        response.error = state_->refused;
        response.untrusted = true;
        return response;
    }
    if (state_->multi == nullptr || easy == nullptr) {
        response.error = "libcurl could not be initialised";
        return response;
    }
    const int64_t remaining = milliseconds_to_start(request, state_->aborted.load(), response);
    if (remaining == 0) return response;
    // As on Windows, the TLS files serve https:// endpoints only.
    const tls_files* tls = request.target->scheme == "https" ? request.tls : nullptr;
    const client_material* client = nullptr;
    if (tls != nullptr && !tls->empty()) {
        client = state_->client_for(*tls, response.error);
        response.untrusted = !response.error.empty();
        if (response.untrusted) {
            if (request.report_connection) {
                response.connection.emplace().failure = failure_kind::tls_files;
            }
            return response;
        }
    }

    curl_easy_reset(easy);
    secure_options secure(easy);
    set_network(secure);
    secure.set(CURLOPT_FOLLOWLOCATION, "CURLOPT_FOLLOWLOCATION", 0L);
    curl_blob blobs[2] = {};
    set_tls(secure, tls != nullptr ? *tls : tls_files{}, client, blobs);
    if (!secure.problem().empty()) {
        curl_easy_reset(easy);  // nothing of the material stays referenced
        response.error = "not sent: " + secure.problem();
        response.untrusted = true;
        if (request.report_connection) {
            response.connection.emplace().failure = failure_kind::tls_files;
        }
        return response;
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
        std::string line;
        line.reserve(header.key.size() + 2 + header.value.size());
        line.append(header.key).append(": ").append(header.value);
        headers = curl_slist_append(headers, line.c_str());
        wipe_memory(line.data(), line.size());
    }
    const std::string target = request.target->text();

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
    const std::string user_agent(request.user_agent);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, user_agent.c_str());
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, detail);

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
    curl_easy_setopt(easy, CURLOPT_SSLCERT_BLOB, static_cast<curl_blob*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_SSLKEY_BLOB, static_cast<curl_blob*>(nullptr));
    free_wiped(headers);

    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && response.oversized)) {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        response.status = static_cast<int>(status);
    } else {
        response.status = 0;
        response.error =
            result == CURLE_ABORTED_BY_CALLBACK ? "aborted" : curl_easy_strerror(result);
        if (tls_failure(result) && detail[0] != '\0') response.error += std::string(": ") + detail;
        // A TLS alert from the collector is a refusal too: in the handshake (a TLS 1.2
        // collector that requires a client certificate, or a protocol it does not speak), or
        // after it (a TLS 1.3 collector refusing the client certificate).
        response.untrusted = result == CURLE_PEER_FAILED_VERIFICATION ||
                             result == CURLE_SSL_CACERT_BADFILE ||
                             result == CURLE_SSL_CERTPROBLEM || result == CURLE_SSL_ISSUER_ERROR ||
                             result == CURLE_SSL_CLIENTCERT ||
                             ((result == CURLE_RECV_ERROR || result == CURLE_SSL_CONNECT_ERROR) &&
                              std::strstr(detail, " alert ") != nullptr);
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
