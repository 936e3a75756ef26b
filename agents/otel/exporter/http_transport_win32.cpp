// WinHTTP in its asynchronous mode. Each operation (send, receive the headers, query and read
// the body) completes in the status callback, often on a WinHTTP thread, which signals the
// posting thread; that thread waits until the request's one deadline or an abort, and is the
// only one that closes the request handle. A closed handle is never used again, and the
// request's context lives until WinHTTP says the handle is closing: no callback comes after.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "http_transport.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace otel {

namespace {

using clock = std::chrono::steady_clock;

// How long the closing of a request handle may take before the posting thread leaves its
// context to the callback (Wine takes about a second when a read is under way).
constexpr DWORD closing_grace_ms = 2000;

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

std::string failure(const char* what, DWORD error) {
    return std::string("WinHTTP ") + what + " failed with error " + std::to_string(error);
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
    WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    // TLS 1.2 and 1.3 whatever the system's defaults; systems without 1.3 refuse the pair.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
    return session;
}

// One request's side of the callback. The posting thread frees it once the handle is closing;
// when that takes too long it hands it over, and the callback frees it instead.
struct call {
    HANDLE completed_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE closing_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> handed_over{false};  // set first by whichever side lets go

    std::mutex mutex;  // guards the completion below
    bool completed = false;
    DWORD notification = 0;  // the completion's status
    DWORD error = 0;         // of WINHTTP_CALLBACK_STATUS_REQUEST_ERROR
    DWORD bytes = 0;         // available or read

    // What WinHTTP reads or writes until the handle is closed.
    std::wstring headers;
    std::string body;
    char buffer[8192];

    ~call() {
        if (completed_event != nullptr) CloseHandle(completed_event);
        if (closing_event != nullptr) CloseHandle(closing_event);
    }
};

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, void* information,
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
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            error = static_cast<const WINHTTP_ASYNC_RESULT*>(information)->dwError;
            break;
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

struct http_transport::state {
    HINTERNET session = nullptr;
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
        if (!WinHttpSendRequest(handle_, call_.headers.c_str(), static_cast<DWORD>(-1),
                                call_.body.data(), size, size,
                                reinterpret_cast<DWORD_PTR>(&call_))) {
            response.error = failure("send", GetLastError());
            return;
        }
        if (!await("send", response)) return;
        if (!WinHttpReceiveResponse(handle_, nullptr)) {
            response.error = failure("receive", GetLastError());
            return;
        }
        if (!await("receive", response)) return;

        DWORD status = 0, length = sizeof status;
        WinHttpQueryHeaders(handle_, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &length,
                            WINHTTP_NO_HEADER_INDEX);
        query_header(handle_, WINHTTP_QUERY_CUSTOM, L"Retry-After", response.retry_after);
        query_header(handle_, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                     response.location);
        for (;;) {
            if (!WinHttpQueryDataAvailable(handle_, nullptr)) {
                response.error = failure("read", GetLastError());
                break;
            }
            if (!await("read", response) || bytes_ == 0) break;
            const DWORD wanted = std::min<DWORD>(bytes_, sizeof call_.buffer);
            if (!WinHttpReadData(handle_, call_.buffer, wanted, nullptr)) {
                response.error = failure("read", GetLastError());
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

  private:
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
                    if (call_.notification != WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) return true;
                    response.error = failure(what, call_.error);
                    return false;
                }
            }
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline_ - clock::now());
            if (WaitForSingleObject(abort_event_, 0) == WAIT_OBJECT_0) {
                response.error = "aborted";
                return false;
            }
            if (left.count() <= 0) {
                response.error = "timed out";
                return false;
            }
            const auto wait = static_cast<DWORD>(std::min<int64_t>(left.count(), 0x7FFFFFFF));
            WaitForMultipleObjects(2, events, FALSE, wait);
        }
    }

    HINTERNET handle_;
    call& call_;
    HANDLE abort_event_;
    clock::time_point deadline_;
    DWORD bytes_ = 0;
};

// Closes a request handle whose callback is set, and frees its context once WinHTTP is done
// with it, or leaves that to the callback.
void close_request(HINTERNET handle, call* request) {
    WinHttpCloseHandle(handle);
    WaitForSingleObject(request->closing_event, closing_grace_ms);
    if (!request->handed_over.exchange(true)) {
        pin_module();
        return;
    }
    // The callback signals as its last step: once it has, the context is free to go.
    WaitForSingleObject(request->closing_event, INFINITE);
    delete request;
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
    DWORD_PTR context_value = reinterpret_cast<DWORD_PTR>(context);
    const bool watched = context->completed_event != nullptr && context->closing_event != nullptr &&
                         WinHttpSetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context_value,
                                          sizeof context_value) &&
                         WinHttpSetStatusCallback(
                             handle, on_status,
                             WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                             0) != WINHTTP_INVALID_STATUS_CALLBACK;
    if (!watched) {
        response.error = failure("callback", GetLastError());
        WinHttpCloseHandle(handle);  // no callback is set: nothing comes after it
        WinHttpCloseHandle(connection);
        delete context;
        return response;
    }

    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof no_redirects);
    // The deadline ends the request; WinHTTP's own limits (30 s for a read, 90 s for the
    // answer's headers unless set) must not end it sooner.
    WinHttpSetTimeouts(handle, timeout, timeout, timeout, timeout);
    DWORD response_timeout = static_cast<DWORD>(timeout);
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                     sizeof response_timeout);

    std::string headers = "Content-Type: " + std::string(request.content_type) + "\r\n";
    if (!request.content_encoding.empty()) {
        headers += "Content-Encoding: " + std::string(request.content_encoding) + "\r\n";
    }
    // In place of the session's agent name, which WinHTTP adds only when the request has none.
    headers += "User-Agent: " + std::string(request.user_agent) + "\r\n";
    for (const key_value_text& header : request.headers) {
        headers += header.key + ": " + header.value + "\r\n";
    }
    context->headers = widen(headers);
    // WinHTTP may still read the body after a handle closed late has been handed over.
    context->body.assign(request.body);
    transfer(handle, *context, state_->abort_event, request.deadline)
        .run(response, request.response_limit);
    close_request(handle, context);
    WinHttpCloseHandle(connection);
    return response;
}

}  // namespace otel
