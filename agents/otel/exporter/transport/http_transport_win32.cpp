// WinHTTP in its asynchronous mode. Each operation (send, receive the headers, query and read
// the body) completes in the status callback, often on a WinHTTP thread, which signals the
// posting thread; that thread waits until the request's one deadline or an abort. The request
// handle is closed once, by whichever side comes first under the call's close lock (the
// callback when it refuses the certificate, else the posting thread); a closed handle is never
// used again, and the request's context lives until WinHTTP says the handle is closing: no
// callback comes after.
//
// A CA file replaces WinHTTP's check against the system's CAs for that request: the callback
// checks the collector's certificate against the file's CAs alone as the request is about to
// be sent, records that it passed, and closes the handle at once when it is not trusted. No
// body is written and no answer read for a request without that record. No documented WinHTTP
// behaviour promises that closing the handle in that notification keeps the request line and
// headers off the wire: WINHTTP_CALLBACK_STATUS_SENDING_REQUEST is among the notifications the
// WinHttpSendRequest reference lists as deprecated since Windows 7, and WinHttpCloseHandle's
// reference promises that the request is cancelled, not that nothing of it was written. Under
// Wine the request line and headers are written even so. The client certificate's key is
// imported into an ephemeral key set of the process (tls_material_win32.cpp).
// Before windows.h: the socket address types of WinHTTP's connection info.
#include <winsock2.h>

#include <windows.h>
// After windows.h, which they need.
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "http_transport.h"
#include "tls_material_win32.h"
#include "winhttp_connection_win32.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace otel {

namespace {

using clock = std::chrono::steady_clock;

// How long the closing of a request handle may take before the posting thread leaves its
// context to the callback (Wine takes about a second when a read is under way).
constexpr DWORD closing_grace_ms = 2000;

std::string failure(const char* what, DWORD error) {
    const char* tls = error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ? " (the TLS handshake failed: "
                                                                    "a certificate refused)"
                      : error == ERROR_WINHTTP_SECURE_FAILURE
                          ? " (the collector's certificate is not trusted)"
                      : error == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
                          ? " (the collector asks for a client certificate)"
                          : "";
    return std::string("WinHTTP ") + what + " failed with error " + std::to_string(error) + tls;
}

// Errors of the TLS layer that a retry within the export cannot mend.
bool tls_refusal(DWORD error) {
    return error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR || error == ERROR_WINHTTP_SECURE_FAILURE ||
           error == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED;
}

// What WinHTTP found wrong with the collector's certificate (its secure failure flags).
std::string certificate_failure(DWORD flags) {
    std::string text = "the collector's certificate";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) text += " is not issued by a trusted CA;";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) text += " names another host;";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        text += " is expired or not yet valid;";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) text += " is revoked;";
    if (text.back() != ';') text += " is refused;";
    text.back() = ' ';
    char hex[16];
    snprintf(hex, sizeof hex, "0x%lX", static_cast<unsigned long>(flags));
    return text + "(WinHTTP flags " + hex + ")";
}

// A header's value (ASCII; anything else becomes '?'), when the answer has it.
void query_header(HINTERNET handle, DWORD query, const wchar_t* name, std::string& value) {
    wchar_t text[512];
    DWORD length = sizeof text;
    if (!WinHttpQueryHeaders(handle, query, name, text, &length, WINHTTP_NO_HEADER_INDEX)) return;
    for (DWORD i = 0; i < length / sizeof(wchar_t); ++i) {
        value.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
    }
}

// Automatic proxy configuration where the system has it, else the system's WinHTTP proxy.
HINTERNET open_session() {
    HINTERNET session =
        WinHttpOpen(L"quorin-otel-agent", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (session == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        session = WinHttpOpen(L"quorin-otel-agent", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    }
    if (session == nullptr) return nullptr;
    // WinHTTP follows redirects unless told not to, headers included.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    // TLS 1.2 and 1.3 whatever the system's defaults; systems without 1.3 refuse the pair.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    DWORD tls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    // A session without them sends nothing.
    if (!WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never) ||
        (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                           sizeof protocols) &&
         !WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &tls12, sizeof tls12))) {
        WinHttpCloseHandle(session);
        return nullptr;
    }
    return session;
}

// One request's side of the callback. The posting thread frees it once the handle is closing;
// when that takes too long it hands it over, and the callback frees it instead.
struct call {
    HANDLE completed_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE closing_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> handed_over{false};  // set first by whichever side lets go
    std::mutex close_mutex;                // held while the handle is used outside WinHTTP's
    bool closed = false;                   // calls on the posting thread; under close_mutex
    // Set: the callback checks the collector's certificate against the CA file before the
    // request goes out, and closes the handle when it is not trusted.
    std::shared_ptr<const tls_material> check;
    std::wstring host;

    std::mutex mutex;  // guards the completion below
    bool completed = false;
    DWORD notification = 0;    // the completion's status
    DWORD error = 0;           // of WINHTTP_CALLBACK_STATUS_REQUEST_ERROR
    DWORD bytes = 0;           // available or read
    std::string refused;       // why the collector's certificate is not trusted; stays once set
    bool verified = false;     // the collector's certificate passed the CA file's check
    DWORD secure_failure = 0;  // WinHTTP's flags for the collector's certificate, if refused

    // What WinHTTP reads or writes until the handle is closed.
    std::wstring headers;
    std::string body;
    char buffer[8192];

    ~call() {
        SecureZeroMemory(headers.data(), headers.size() * sizeof(wchar_t));  // an API key's
        if (completed_event != nullptr) CloseHandle(completed_event);
        if (closing_event != nullptr) CloseHandle(closing_event);
    }
};

void CALLBACK on_status(HINTERNET handle, DWORD_PTR context, DWORD status, void* information,
                        DWORD length) {
    auto* request = reinterpret_cast<call*>(context);
    if (request == nullptr) return;
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        if (request->handed_over.exchange(true)) {
            delete request;
        } else {
            SetEvent(request->closing_event);  // the last touch: the poster frees it then
        }
        return;
    }
    if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST) {
        if (request->check == nullptr) return;
        // The posting thread cannot close the handle while it is checked here; once it has,
        // the handle is not touched.
        std::lock_guard<std::mutex> close_lock(request->close_mutex);
        if (request->closed) return;
        std::string problem = check_server(handle, *request->check, request->host);
        {
            // Released before the close, whose callbacks may come on this thread.
            std::lock_guard<std::mutex> lock(request->mutex);
            if (problem.empty()) {
                request->verified = true;
                return;
            }
            request->refused = std::move(problem);
            request->completed = true;
            request->notification = WINHTTP_CALLBACK_STATUS_REQUEST_ERROR;
        }
        SetEvent(request->completed_event);
        // The handle closes before the callback returns; the poster, told why, does not close
        // it again. The context stays: the poster frees it only after taking close_mutex.
        request->closed = true;
        WinHttpCloseHandle(handle);
        return;
    }
    DWORD error = 0, bytes = 0;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            bytes = *static_cast<const DWORD*>(information);
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            bytes = length;
            break;
        case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
            bytes = *static_cast<const DWORD*>(information);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            error = static_cast<const WINHTTP_ASYNC_RESULT*>(information)->dwError;
            break;
        case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE: {  // a request error follows
            std::lock_guard<std::mutex> lock(request->mutex);
            request->secure_failure = *static_cast<const DWORD*>(information);
            return;
        }
        default:
            return;
    }
    {
        std::lock_guard<std::mutex> lock(request->mutex);
        request->completed = true;
        request->notification = status;
        request->error = error;
        request->bytes = bytes;
    }
    SetEvent(request->completed_event);
}

// Keeps this module loaded for good: a callback may still come for a context handed over.
void pin_module() {
    static const char anchor = 0;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&anchor), &module);
}

}  // namespace

std::string tls_files_problem(const tls_files& files) {
    std::string problem;
    load_tls(files, problem);
    return problem;
}

struct http_transport::state {
    HINTERNET session = nullptr;
    // Loaded on the first request that needs them; the exporter thread alone posts.
    std::vector<std::shared_ptr<const tls_material>> tls;
    HANDLE abort_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // stays set
    std::atomic<bool> aborted{false};
};

http_transport::http_transport() : state_(std::make_unique<state>()) {
    state_->session = open_session();
}

http_transport::~http_transport() {
    // No callback is set on the session: closing it waits for nothing.
    if (state_->session != nullptr) WinHttpCloseHandle(state_->session);
    if (state_->abort_event != nullptr) CloseHandle(state_->abort_event);
}

void http_transport::abort() {
    state_->aborted.store(true);
    if (state_->abort_event != nullptr) SetEvent(state_->abort_event);
}

namespace {

// One POST on an open request handle whose callback is set.
class transfer {
  public:
    transfer(HINTERNET handle, call& request, HANDLE abort_event, clock::time_point deadline)
        : handle_(handle), call_(request), abort_event_(abort_event), deadline_(deadline) {}

    void run(http_response& response, size_t limit) {
        const auto size = static_cast<DWORD>(call_.body.size());
        // With a CA file the body waits until the collector's certificate has been checked
        // (where closing the handle in the callback does not stop the request going out, as
        // under Wine, the spans at least never do).
        const bool body_later = call_.check != nullptr;
        if (!WinHttpSendRequest(handle_, call_.headers.c_str(), static_cast<DWORD>(-1),
                                body_later ? WINHTTP_NO_REQUEST_DATA : call_.body.data(),
                                body_later ? 0 : size, size, reinterpret_cast<DWORD_PTR>(&call_))) {
            fail(response, "send");
            return;
        }
        if (!await("send", response)) return;
        if (!verified(response)) return;
        for (DWORD written = 0; body_later && written < size; written += bytes_) {
            if (!WinHttpWriteData(handle_, call_.body.data() + written, size - written, nullptr)) {
                fail(response, "write");
                return;
            }
            if (!await("write", response)) return;
        }
        if (!WinHttpReceiveResponse(handle_, nullptr)) {
            fail(response, "receive");
            return;
        }
        if (!await("receive", response)) return;
        if (response.connection) read_connection(handle_, *response.connection);

        DWORD status = 0, length = sizeof status;
        WinHttpQueryHeaders(handle_, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &length,
                            WINHTTP_NO_HEADER_INDEX);
        query_header(handle_, WINHTTP_QUERY_CUSTOM, L"Retry-After", response.retry_after);
        query_header(handle_, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                     response.location);
        for (;;) {
            if (!WinHttpQueryDataAvailable(handle_, nullptr)) {
                fail(response, "read");
                break;
            }
            if (!await("read", response) || bytes_ == 0) break;
            const DWORD wanted = std::min<DWORD>(bytes_, sizeof call_.buffer);
            if (!WinHttpReadData(handle_, call_.buffer, wanted, nullptr)) {
                fail(response, "read");
                break;
            }
            if (!await("read", response) || bytes_ == 0) break;
            if (bytes_ > limit - response.body.size()) {
                response.oversized = true;
                break;
            }
            response.body.append(call_.buffer, bytes_);
        }
        // An answer cut short by the deadline, an abort or an error is no answer.
        if (!response.error.empty()) response.body.clear();
        response.status = response.error.empty() ? static_cast<int>(status) : 0;
    }

    // The WinHTTP error number of the failure, if any.
    DWORD error() const { return error_; }

  private:
    // With a CA file, whether the callback recorded that the collector's certificate passed its
    // check; a request without that record goes no further, as one refused.
    bool verified(http_response& response) {
        if (call_.check == nullptr) return true;
        std::lock_guard<std::mutex> lock(call_.mutex);
        if (call_.verified) return true;
        response.error = "the collector's certificate was not checked against the CA file";
        response.untrusted = true;
        error_ = ERROR_WINHTTP_SECURE_FAILURE;
        return false;
    }

    void fail(http_response& response, const char* what) {
        error_ = GetLastError();
        response.error = failure(what, error_);
    }

    // True, with the reason in the response, once the request is aborted or its deadline passed.
    bool ended(http_response& response) {
        if (WaitForSingleObject(abort_event_, 0) == WAIT_OBJECT_0) {
            response.error = "aborted";
            error_ = ERROR_WINHTTP_OPERATION_CANCELLED;
            return true;
        }
        if (clock::now() >= deadline_) {
            response.error = "timed out";
            error_ = ERROR_WINHTTP_TIMEOUT;
            return true;
        }
        return false;
    }

    // Waits for the operation under way to complete; false, with the reason in the response,
    // when it failed, the request was aborted or its deadline passed.
    bool await(const char* what, http_response& response) {
        const HANDLE events[] = {call_.completed_event, abort_event_};
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(call_.mutex);
                if (call_.completed) {
                    call_.completed = false;
                    bytes_ = call_.bytes;
                    // Once the callback has refused the certificate (and closed the handle),
                    // whatever WinHTTP reports after is no success; nor is a success past the
                    // deadline or the abort: WinHTTP may complete each step at once (Wine reads
                    // a chunked answer that way), and a collector that sends a byte at a time
                    // must not hold the request forever.
                    if (call_.notification != WINHTTP_CALLBACK_STATUS_REQUEST_ERROR &&
                        call_.refused.empty()) {
                        return !ended(response);
                    }
                    response.error = !call_.refused.empty() ? call_.refused
                                     : call_.secure_failure != 0
                                         ? certificate_failure(call_.secure_failure)
                                         : failure(what, call_.error);
                    response.untrusted = !call_.refused.empty() || call_.secure_failure != 0 ||
                                         tls_refusal(call_.error);
                    error_ = response.untrusted && !tls_refusal(call_.error)
                                 ? static_cast<DWORD>(ERROR_WINHTTP_SECURE_FAILURE)
                                 : call_.error;
                    return false;
                }
            }
            if (ended(response)) return false;
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline_ - clock::now());
            const auto wait = static_cast<DWORD>(std::min<int64_t>(left.count(), 0x7FFFFFFF));
            WaitForMultipleObjects(2, events, FALSE, wait);
        }
    }

    HINTERNET handle_;
    call& call_;
    HANDLE abort_event_;
    clock::time_point deadline_;
    DWORD bytes_ = 0;
    DWORD error_ = 0;
};

// Closes a request handle whose callback is set, and frees its context once WinHTTP is done
// with it, or leaves that to the callback.
void close_request(HINTERNET handle, call* request) {
    {
        std::lock_guard<std::mutex> lock(request->close_mutex);
        if (!request->closed) {
            request->closed = true;
            WinHttpCloseHandle(handle);
        }
    }
    WaitForSingleObject(request->closing_event, closing_grace_ms);
    if (!request->handed_over.exchange(true)) {
        pin_module();
        return;
    }
    // The callback signals as its last step: once it has, the context is free to go.
    WaitForSingleObject(request->closing_event, INFINITE);
    delete request;
}

// For a request with a CA file, WinHTTP's check against the system's CAs gives way to the
// callback's against the file's (the host name and the dates WinHTTP still checks); a client
// certificate is offered before the server asks for it.
bool set_tls(HINTERNET handle, const tls_material& tls, std::string& error) {
    if (tls.roots != nullptr) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        if (!WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags)) {
            error = failure("CA file", GetLastError());
            return false;
        }
    }
    if (tls.client != nullptr &&
        !WinHttpSetOption(handle, WINHTTP_OPTION_CLIENT_CERT_CONTEXT,
                          const_cast<CERT_CONTEXT*>(tls.client), sizeof(CERT_CONTEXT))) {
        error = failure("client certificate", GetLastError());
        return false;
    }
    return true;
}

}  // namespace

http_response http_transport::post(const http_request& request) {
    http_response response;
    if (state_->session == nullptr || state_->abort_event == nullptr) {
        response.error = "WinHTTP could not be opened";
        return response;
    }
    const int64_t remaining = milliseconds_to_start(request, state_->aborted.load(), response);
    if (remaining == 0) return response;
    const int timeout = static_cast<int>(std::min<int64_t>(remaining, 0x7FFFFFFF));

    const url& target = *request.target;
    std::shared_ptr<const tls_material> tls;
    if (request.tls != nullptr && !request.tls->empty() && target.scheme == "https") {
        // Loaded once and kept while they serve; a failure is tried again with the next request.
        for (const auto& loaded : state_->tls) {
            const tls_files& f = loaded->files;
            if (f.certificate == request.tls->certificate &&
                f.client_certificate == request.tls->client_certificate &&
                f.client_key == request.tls->client_key) {
                tls = loaded;
            }
        }
        if (tls == nullptr) {
            tls = load_tls(*request.tls, response.error);
            response.untrusted = tls == nullptr;
            if (tls == nullptr) {
                if (request.report_connection) {
                    response.connection.emplace().failure = failure_kind::tls_files;
                }
                return response;
            }
            state_->tls.push_back(tls);
        }
    }
    HINTERNET connection =
        WinHttpConnect(state_->session, widen(target.host).c_str(), target.port, 0);
    if (connection == nullptr) {
        response.error = failure("connect", GetLastError());
        return response;
    }
    HINTERNET handle = WinHttpOpenRequest(connection, L"POST", widen(target.path).c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          target.scheme == "https" ? WINHTTP_FLAG_SECURE : 0);
    if (handle == nullptr) {
        response.error = failure("open request", GetLastError());
        WinHttpCloseHandle(connection);
        return response;
    }
    auto* context = new call;
    if (tls != nullptr && tls->roots != nullptr) {
        context->check = tls;
        context->host = widen(target.host);
    }
    DWORD_PTR context_value = reinterpret_cast<DWORD_PTR>(context);
    const bool watched = context->completed_event != nullptr && context->closing_event != nullptr &&
                         WinHttpSetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context_value,
                                          sizeof context_value) &&
                         WinHttpSetStatusCallback(handle, on_status,
                                                  WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS |
                                                      WINHTTP_CALLBACK_FLAG_HANDLES |
                                                      WINHTTP_CALLBACK_FLAG_SEND_REQUEST |
                                                      WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                                                  0) != WINHTTP_INVALID_STATUS_CALLBACK;
    if (!watched) {
        response.error = failure("callback", GetLastError());
        WinHttpCloseHandle(handle);  // no callback is set: nothing comes after it
        WinHttpCloseHandle(connection);
        delete context;
        return response;
    }

    if (tls != nullptr && !set_tls(handle, *tls, response.error)) {
        close_request(handle, context);
        WinHttpCloseHandle(connection);
        return response;
    }
    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects,
                          sizeof no_redirects)) {
        response.error = failure("redirect setting", GetLastError());
        close_request(handle, context);
        WinHttpCloseHandle(connection);
        return response;
    }
    // The deadline ends the request; WinHTTP's own limits (30 s for a read, 90 s for the
    // answer's headers unless set) must not end it sooner.
    WinHttpSetTimeouts(handle, timeout, timeout, timeout, timeout);
    DWORD response_timeout = static_cast<DWORD>(timeout);
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                     sizeof response_timeout);

    // In one buffer, wiped once used: a header's value may be a key.
    size_t length = 80 + request.content_type.size() + request.content_encoding.size() +
                    request.user_agent.size();
    for (const key_value_text& header : request.headers) {
        length += header.key.size() + header.value.size() + 4;
    }
    std::string headers;
    headers.reserve(length);
    headers.append("Content-Type: ").append(request.content_type).append("\r\n");
    if (!request.content_encoding.empty()) {
        headers.append("Content-Encoding: ").append(request.content_encoding).append("\r\n");
    }
    // In place of the session's agent name, which WinHTTP adds only when the request has none.
    headers.append("User-Agent: ").append(request.user_agent).append("\r\n");
    for (const key_value_text& header : request.headers) {
        headers.append(header.key).append(": ").append(header.value).append("\r\n");
    }
    context->headers = widen(headers);
    SecureZeroMemory(headers.data(), headers.size());
    // WinHTTP may still read the body after a handle closed late has been handed over.
    context->body.assign(request.body);
    const auto started = clock::now();
    if (request.report_connection) response.connection.emplace();
    transfer sending(handle, *context, state_->abort_event, request.deadline);
    sending.run(response, request.response_limit);
    if (connection_info* info = response.connection ? &*response.connection : nullptr) {
        // A failed request's handle may still tell where it went, unless the callback closed it
        // (it says so before it signals; after a timeout or abort it may be about to).
        const DWORD error = sending.error();
        if (info->remote_address.empty() && error != ERROR_WINHTTP_TIMEOUT &&
            error != ERROR_WINHTTP_OPERATION_CANCELLED) {
            std::lock_guard<std::mutex> lock(context->close_mutex);
            if (!context->closed) read_connection(handle, *info);
        }
        info->seconds = std::chrono::duration<double>(clock::now() - started).count();
        info->failure = failure_of(error);
        info->platform_error = static_cast<long>(error);
        if ((info->failure == failure_kind::tls_handshake ||
             info->failure == failure_kind::certificate_untrusted) &&
            info->certificate_subject.empty() &&
            fetch_refused_certificate(target, request.deadline, *info)) {
            info->failure = failure_kind::certificate_untrusted;
        }
        // WinHTTP checks the certificate of every answer: with one, it was trusted.
        if (response.status != 0 && !info->certificate_subject.empty()) {
            info->trusted_by = tls != nullptr && tls->roots != nullptr
                                   ? "the CA file '" + tls->files.certificate + "'"
                                   : "the system's CAs";
        }
    }
    close_request(handle, context);
    WinHttpCloseHandle(connection);
    return response;
}

}  // namespace otel
