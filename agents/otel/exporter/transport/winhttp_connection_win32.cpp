#include "winhttp_connection_win32.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "redaction.h"

namespace otel {

namespace {

// A null-terminated UTF-16 text as UTF-8.
std::string narrow(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

// The certificate name as text ("CN=..., O=..."), UTF-8.
std::string name_text(CERT_NAME_BLOB* name) {
    wchar_t text[512];
    const DWORD length =
        CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG,
                       text, sizeof text / sizeof text[0]);
    return length <= 1 ? std::string() : narrow(text);
}

// The peer's address of a SOCKADDR_STORAGE as text, and its port.
void take_address(const SOCKADDR_STORAGE& address, connection_info& info) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    info.remote_port = static_cast<uint16_t>(bytes[2] << 8 | bytes[3]);
    char text[64] = {};
    if (address.ss_family == AF_INET) {
        snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[4], bytes[5], bytes[6], bytes[7]);
    } else if (address.ss_family == AF_INET6) {
        // Full form, without the shortening of zero groups.
        for (int i = 0; i < 8; ++i) {
            snprintf(text + strlen(text), sizeof text - strlen(text), i ? ":%x" : "%x",
                     bytes[8 + 2 * i] << 8 | bytes[9 + 2 * i]);
        }
    }
    info.remote_address = text;
}

}  // namespace

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

void read_connection(HINTERNET handle, connection_info& info) {
    WINHTTP_CONNECTION_INFO connection{};
    connection.cbSize = sizeof connection;
    DWORD size = sizeof connection;
    if (WinHttpQueryOption(handle, WINHTTP_OPTION_CONNECTION_INFO, &connection, &size)) {
        take_address(connection.RemoteAddress, info);
    }
    PCCERT_CONTEXT server = nullptr;
    size = sizeof server;
    if (WinHttpQueryOption(handle, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) &&
        server != nullptr) {
        info.certificate_subject = name_text(&server->pCertInfo->Subject);
        info.certificate_issuer = name_text(&server->pCertInfo->Issuer);
        CertFreeCertificateContext(server);
    }
}

bool fetch_refused_certificate(const url& target, std::chrono::steady_clock::time_point deadline,
                               connection_info& info) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int timeout = static_cast<int>(std::min<int64_t>(left.count(), 0x7FFFFFFF));
    HINTERNET session = WinHttpOpen(L"quorin-otel-agent", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session != nullptr
                               ? WinHttpConnect(session, widen(target.host).c_str(), target.port, 0)
                               : nullptr;
    HINTERNET handle =
        connection != nullptr
            ? WinHttpOpenRequest(connection, L"GET", L"/", nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
            : nullptr;
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    const bool sent =
        handle != nullptr && WinHttpSetTimeouts(handle, timeout, timeout, timeout, timeout) &&
        WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags) &&
        WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           0);
    if (sent) read_connection(handle, info);
    for (HINTERNET opened : {handle, connection, session}) {
        if (opened != nullptr) WinHttpCloseHandle(opened);
    }
    return sent && !info.certificate_subject.empty();
}

failure_kind failure_of(DWORD error) {
    switch (error) {
        case 0:
            return failure_kind::none;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return failure_kind::name_not_resolved;
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return failure_kind::connection_refused;
        case ERROR_WINHTTP_AUTODETECTION_FAILED:
        case ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT:
        case ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT:
            return failure_kind::proxy;
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
            return failure_kind::tls_handshake;
        case ERROR_WINHTTP_SECURE_FAILURE:
            return failure_kind::certificate_untrusted;
        case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
            return failure_kind::client_certificate;
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            return failure_kind::not_http;
        case ERROR_WINHTTP_CONNECTION_ERROR:
            return failure_kind::connection_broken;
        case ERROR_WINHTTP_TIMEOUT:
            return failure_kind::timed_out;
        default:
            return failure_kind::other;
    }
}

std::optional<proxy_setting> configured_proxy(const url&) {
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetDefaultProxyConfiguration(&info)) return std::nullopt;
    std::optional<proxy_setting> named;
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy != nullptr) {
        named = proxy_setting{redact_url(narrow(info.lpszProxy)), "the system's WinHTTP proxy"};
    }
    if (info.lpszProxy != nullptr) GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass != nullptr) GlobalFree(info.lpszProxyBypass);
    return named;
}

}  // namespace otel
