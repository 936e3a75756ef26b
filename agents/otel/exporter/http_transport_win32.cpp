// WinHTTP in its synchronous mode; abort closes the request handle, which ends a call that
// waits for the server.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "http_transport.h"

namespace otel {

namespace {

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

std::string failure(const char* what) {
    return std::string("WinHTTP ") + what + " failed with error " + std::to_string(GetLastError());
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

}  // namespace

struct http_transport::state {
    HINTERNET session = nullptr;
    std::mutex mutex;  // guards request against a concurrent abort
    HINTERNET request = nullptr;
    std::atomic<bool> aborted{false};

    // Closes the request handle once, whoever comes first.
    void close_request() {
        std::lock_guard<std::mutex> lock(mutex);
        if (request != nullptr) WinHttpCloseHandle(request);
        request = nullptr;
    }
};

http_transport::http_transport() : state_(std::make_unique<state>()) {
    state_->session = WinHttpOpen(L"quorin-otel-agent", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    // WinHTTP follows redirects unless told not to, headers included.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (state_->session != nullptr) {
        WinHttpSetOption(state_->session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    }
}

http_transport::~http_transport() {
    state_->close_request();
    if (state_->session != nullptr) WinHttpCloseHandle(state_->session);
}

void http_transport::abort() {
    state_->aborted.store(true);
    state_->close_request();
}

http_response http_transport::post(const http_request& request) {
    http_response response;
    if (state_->session == nullptr) {
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
        response.error = failure("connect");
        return response;
    }
    HINTERNET handle = WinHttpOpenRequest(connection, L"POST", widen(target.path).c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          target.scheme == "https" ? WINHTTP_FLAG_SECURE : 0);
    if (handle == nullptr) {
        response.error = failure("open request");
        WinHttpCloseHandle(connection);
        return response;
    }
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->request = handle;
    }
    if (state_->aborted.load()) state_->close_request();
    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof no_redirects);
    WinHttpSetTimeouts(handle, timeout, timeout, timeout, timeout);
    // Waiting for the answer's headers has a limit of its own (90 s unless set).
    DWORD response_timeout = static_cast<DWORD>(timeout);
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                     sizeof response_timeout);

    std::string headers = "Content-Type: " + std::string(request.content_type) + "\r\n";
    for (const key_value_text& header : request.headers) {
        headers += header.key + ": " + header.value + "\r\n";
    }
    const std::wstring wide_headers = widen(headers);
    const auto size = static_cast<DWORD>(request.body.size());
    bool ok = WinHttpSendRequest(handle, wide_headers.c_str(), static_cast<DWORD>(-1),
                                 const_cast<char*>(request.body.data()), size, size, 0) &&
              WinHttpReceiveResponse(handle, nullptr);
    if (!ok) {
        response.error = state_->aborted.load() ? "aborted" : failure("request");
    } else {
        DWORD status = 0, length = sizeof status;
        WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &length,
                            WINHTTP_NO_HEADER_INDEX);
        response.status = static_cast<int>(status);
        query_header(handle, WINHTTP_QUERY_CUSTOM, L"Retry-After", response.retry_after);
        query_header(handle, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                     response.location);
        char buffer[4096];
        DWORD read = 0;
        const size_t limit = request.response_limit;
        while (WinHttpReadData(handle, buffer, sizeof buffer, &read) && read > 0) {
            if (read > limit - response.body.size()) {
                response.oversized = true;
                break;
            }
            response.body.append(buffer, read);
        }
    }
    state_->close_request();
    WinHttpCloseHandle(connection);
    return response;
}

}  // namespace otel
