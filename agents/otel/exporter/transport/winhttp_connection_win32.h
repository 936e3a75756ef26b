// What the Windows transport tells of a request's connection when asked (quorin-doctor asks):
// the peer's address, the collector's certificate, the kind of a failure, and the system's
// proxy; and the UTF-8 to UTF-16 conversion of WinHTTP's texts.
#pragma once

// Before windows.h: the socket address types of WinHTTP's connection info.
#include <winsock2.h>

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <string>
#include <string_view>

#include "http_transport.h"

namespace otel {

std::wstring widen(std::string_view text);

// The peer's address and the collector's certificate. Only on the posting thread, while the
// handle is open.
void read_connection(HINTERNET handle, connection_info& info);

// A handshake that failed without a certificate to show (Wine reports a refused one as a failed
// handshake; a CA file's refusal closes the handle): once more, synchronously, with the
// certificate checks off and a bare GET of "/" without the request's headers, path or body, only
// to read the certificate. True when it was read: the checks were then what failed.
bool fetch_refused_certificate(const url& target, std::chrono::steady_clock::time_point deadline,
                               connection_info& info);

// The kind of a WinHTTP error, for the doctor's verdict.
failure_kind failure_of(DWORD error);

}  // namespace otel
