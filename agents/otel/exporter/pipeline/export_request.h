// The HTTP request of one export, built in one place for every export of the exporter and for
// quorin-doctor's test, so that the doctor's verdict speaks for exactly what the agent sends:
// the signal's headers (else the common ones), its TLS files, the body as it goes on the wire
// (gzip when the signal asks for it and zlib can), the agent's User-Agent, and one deadline
// over the export with its retries.
#pragma once

#include <chrono>
#include <string_view>

#include "exporter.h"
#include "gzip.h"
#include "http_transport.h"

namespace otel {

// One export of a signal with its retries: the signal's timeout, else the common one; 0 means
// no limit, for which `unlimited` stands.
milliseconds export_timeout(const exporter_options& options, const signal_settings& signal,
                            milliseconds unlimited = std::chrono::hours(24 * 365));

// The body as it goes on the wire and its Content-Encoding (empty: none).
struct packed_body {
    std::string_view wire;
    std::string_view encoding;
};
// gzip when the signal asks for it and zlib can, else the body as it is; the gzipped body lives
// in `gzip` until its next use. `pause` runs between the compressor's slices.
packed_body pack_body(gzip_compressor& gzip, const signal_settings& signal, std::string_view body,
                      void (*pause)() = nullptr);

// One attempt's request to `target` (the signal's endpoint), with the export's deadline.
http_request export_request(const exporter_options& options, const signal_settings& signal,
                            const url& target, const tls_files& tls, packed_body body,
                            std::chrono::steady_clock::time_point deadline);

}  // namespace otel
