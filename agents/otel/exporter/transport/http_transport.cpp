#include "http_transport.h"

#include "otel_platform.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace otel {

int64_t milliseconds_to_start(const http_request& request, bool aborted, http_response& response) {
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
        request.deadline - std::chrono::steady_clock::now());
    if (aborted) {
        response.error = "aborted";
        return 0;
    }
    if (remaining.count() <= 0) {
        response.error = "timed out";
        return 0;
    }
    return remaining.count();
}

std::optional<std::string> read_small_file(const std::string& path) {
    constexpr std::streamoff limit = 1 << 20;
    const std::u8string name(path.begin(), path.end());
    std::ifstream file(std::filesystem::path(name), std::ios::binary | std::ios::ate);
    if (!file) return std::nullopt;
    const std::streamoff size = std::min<std::streamoff>(file.tellg(), limit);
    if (size < 0 || !file.seekg(0)) return std::nullopt;
    std::string contents(static_cast<size_t>(size), '\0');
    if (!file.read(contents.data(), size)) return std::nullopt;
    return contents;
}

std::string common_tls_problem(const tls_files& files) {
    if (files.client_certificate.empty() != files.client_key.empty()) {
        return files.client_key.empty()
                   ? "a client certificate '" + files.client_certificate + "' without its key"
                   : "a client key '" + files.client_key + "' without its certificate";
    }
    struct file {
        const std::string& path;
        const char* what;
        const char* marker;  // what a PEM item of the file's kind holds
    };
    const file checked[] = {
        {files.certificate, "the CA file", "-----BEGIN CERTIFICATE-----"},
        {files.client_certificate, "the client certificate", "-----BEGIN CERTIFICATE-----"},
        {files.client_key, "the client key", "PRIVATE KEY-----"},
    };
    for (const file& f : checked) {
        if (f.path.empty()) continue;
        auto contents = read_small_file(f.path);
        if (!contents) return std::string(f.what) + " '" + f.path + "' cannot be read";
        const bool found = contents->find(f.marker) != std::string::npos;
        // PKCS#8 and the traditional form with its Proc-Type header: a TLS library asked to
        // load either would ask for a pass phrase on the terminal and block the export.
        const bool encrypted = contents->find("ENCRYPTED PRIVATE KEY-----") != std::string::npos ||
                               contents->find("Proc-Type: 4,ENCRYPTED") != std::string::npos;
        wipe_memory(contents->data(), contents->size());
        if (!found) {
            return std::string(f.what) + " '" + f.path + "' holds no PEM " +
                   (f.marker[0] == '-' ? "certificate" : "private key");
        }
        if (encrypted && &f.path == &files.client_key) {
            return std::string(f.what) + " '" + f.path +
                   "' is encrypted, and no pass phrase is ever asked for: give the key unencrypted";
        }
    }
    return {};
}

}  // namespace otel
