// Every setting of the OpenTelemetry agent, resolved in one place: the agent's own options
// ("otel_endpoint=...", from --cv_otel_endpoint=... or a variable) first, then the standard
// OTEL_* environment variables (signal-specific before generic), then the documented
// defaults. A value that cannot be used gives a warning and the default; an endpoint that is
// not a URL is an error.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "http_transport.h"
#include "otlp_model.h"
#include "propagation.h"
#include "sampler.h"
#include "setting_parsers.h"

namespace otel {

using milliseconds = std::chrono::milliseconds;

enum class compression : uint8_t { none, gzip };

// What each signal's requests may have of their own.
struct signal_settings {
    otel::compression compression = compression::none;
    std::optional<std::vector<key_value_text>> headers;  // set: in place of the generic ones
    // Set: in place of the generic timeout for one export with its retries; 0: no limit.
    std::optional<std::chrono::milliseconds> timeout;
    // Where the signal goes (OTEL_TRACES_EXPORTER, OTEL_METRICS_EXPORTER): over OTLP, as OTLP
    // JSON lines to standard error, both or neither. The file is written in any case.
    bool otlp = true;
    bool console = false;
};

// The file of OTLP JSON lines, one line an export batch of either signal; no path: none.
struct file_settings {
    std::string path;
    uint64_t max_bytes = uint64_t{100} << 20;  // the file is rotated before it grows past this
    uint32_t old_files = 3;                    // rotated files kept: path.1 (newest) ... path.N
};

// How sums and histograms are kept. The agent's counters and statistics are synchronous and
// monotonic, so delta and lowmemory both send them as deltas.
enum class temporality_preference : uint8_t { cumulative, delta, lowmemory };

struct settings {
    url traces_endpoint;   // POST target of span batches
    url metrics_endpoint;  // POST target of metric batches
    std::vector<key_value_text> headers;
    tls_files traces_tls;                  // CA file and client certificate of the span requests
    tls_files metrics_tls;                 // and of the metric requests
    otel::resource resource;               // service.name first, then the configured attributes
    bool service_name_configured = false;  // else the agent may name the service itself
    // One export with its retries, and flush and release: the smaller of the OTLP timeout
    // and the batch export timeout.
    milliseconds timeout{10000};
    milliseconds schedule_delay{5000};
    uint32_t max_queue_size = 2048;
    uint32_t max_export_batch_size = 512;
    uint64_t max_queue_bytes = 16u << 20;
    otel::sampler sampler;
    // The header forms an incoming request's context is read from, the first present first;
    // none: headers are not read.
    std::vector<propagator> propagators{propagator::tracecontext};
    milliseconds metric_interval{60000};
    std::string redact_headers;  // header names, comma-separated, whose values are not sent
    bool self_metrics = false;   // the exporter's own health as otel.sdk.* metrics
    signal_settings traces, metrics;
    file_settings file;
    temporality_preference metrics_temporality = temporality_preference::cumulative;
    otel::span_limits span_limits;  // the attribute limits; the event limit as is
    std::string disabled_by;        // set ("OTEL_SDK_DISABLED=true"): the agent does not start
};

struct settings_result {
    settings values;
    std::vector<std::string> warnings;
    std::string error;  // set: the agent cannot start
};

// Reads an environment variable; nothing when unset. An empty value counts as unset, as
// OpenTelemetry SDKs treat it.
using environment_reader = std::function<std::optional<std::string>(const char* name)>;

// Where a setting's value came from: the setting by its option name ("otel_traces_endpoint"),
// and the option or variable that gave it ("option otel_endpoint", "OTEL_EXPORTER_OTLP_HEADERS").
// A setting not listed has its default.
struct setting_origin {
    std::string setting;
    std::string origin;
};

// options: "name=value" texts as the agent receives them; names compare ASCII-case-
// insensitively, and a name that is no setting gives a warning. origins, when given, receives
// where each value that was set came from (for the doctor); the result is the same without.
settings_result resolve_settings(std::span<const std::u16string_view> options,
                                 const environment_reader& environment,
                                 std::vector<setting_origin>* origins = nullptr);

}  // namespace otel
