#include "export_request.h"

namespace otel {

milliseconds export_timeout(const exporter_options& options, const signal_settings& signal,
                            milliseconds unlimited) {
    const milliseconds timeout = signal.timeout.value_or(options.timeout);
    return timeout.count() != 0 ? timeout : unlimited;
}

packed_body pack_body(gzip_compressor& gzip, const signal_settings& signal, std::string_view body,
                      void (*pause)()) {
    if (signal.compression == compression::gzip) {
        if (const auto gzipped = gzip.compress(body, pause)) return {*gzipped, "gzip"};
    }
    return {body, {}};
}

http_request export_request(const exporter_options& options, const signal_settings& signal,
                            const url& target, const tls_files& tls, packed_body body,
                            std::chrono::steady_clock::time_point deadline) {
    http_request request;
    request.target = &target;
    request.headers = signal.headers ? *signal.headers : options.headers;
    request.tls = &tls;
    request.body = body.wire;
    request.content_encoding = body.encoding;
    request.user_agent = options.user_agent;
    request.deadline = deadline;
    return request;
}

}  // namespace otel
