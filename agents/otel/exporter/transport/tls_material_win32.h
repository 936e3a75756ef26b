// The TLS material of the Windows transport: a CA file's certificates as the only roots the
// collector's certificate may chain to, and a client certificate with its key (RSA, PKCS#1 or
// PKCS#8 PEM) imported, not exportable, into an ephemeral key set that the certificate's
// context holds: nothing of the key is stored outside the process.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>
#include <winhttp.h>

#include <memory>
#include <string>

#include "http_transport.h"

namespace otel {

// What one tls_files gives WinHTTP: the CA file's certificates as the only trust anchors, and
// the client certificate with its key. Loaded once per settings change and kept while they serve.
struct tls_material {
    tls_files files;
    HCERTSTORE roots = nullptr;
    HCERTCHAINENGINE engine = nullptr;  // null: the default engine
    PCCERT_CONTEXT client = nullptr;    // with its key set (CERT_KEY_CONTEXT_PROP_ID)

    tls_material() = default;
    tls_material(const tls_material&) = delete;
    tls_material& operator=(const tls_material&) = delete;
    ~tls_material();

    // Empty, or why the CA file cannot serve.
    std::string load_roots(const std::string& text);
    // Empty, or why the client certificate or its key cannot serve.
    std::string load_client(const std::string& certificate_text, const std::string& key_text);
};

// The material of `files`, or null with why there is none.
std::unique_ptr<tls_material> load_tls(const tls_files& files, std::string& problem);

// Empty when the collector's certificate on the request `handle` chains to one of the CA
// file's certificates (byte for byte, each signature verified up to it), is valid now for a
// server, and names `host`; else why not.
std::string check_server(HINTERNET handle, const tls_material& tls, const std::wstring& host);

}  // namespace otel
