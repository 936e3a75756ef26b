// The exporter's own health as the semantic conventions for SDK metrics name it (otel.sdk.*):
// made at each metric export from the counters the exporter keeps, never on the application's
// calls. The span queue is the batching span processor; the span and metric requests are the
// two OTLP/HTTP exporters.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "otlp_model.h"
#include "setting_parsers.h"

namespace otel {

// What the exporter counted since it started.
struct self_counts {
    uint64_t spans_ended = 0;  // sampled spans handed to the exporter, queued or dropped
    uint64_t spans_live = 0;   // sampled spans started and not ended yet
    uint64_t queue_size = 0, queue_capacity = 0;
    uint64_t spans_processed = 0;  // taken from the queue into a request
    uint64_t spans_queue_full = 0;
    uint64_t spans_inflight = 0, spans_exported = 0, spans_rejected = 0, spans_failed = 0;
    uint64_t points_inflight = 0, points_exported = 0, points_rejected = 0, points_failed = 0;
};

// The duration of each export operation (one request with its retries), by its outcome.
class operation_durations {
  public:
    // status: the last HTTP status (0: none); error_type: "" for a full success.
    void record(bool spans, int status, std::string_view error_type, double seconds);
    void append(const url& traces, const url& metrics, uint64_t start_unix_nano,
                uint64_t now_unix_nano, std::vector<otlp_metric>& out) const;

  private:
    struct series {
        bool spans;
        int status;
        std::string error_type;
        histogram_point point;
    };
    mutable std::mutex mutex_;
    std::vector<series> series_;
};

void append_self_metrics(const self_counts& counts, const url& traces, const url& metrics,
                         uint64_t start_unix_nano, uint64_t now_unix_nano,
                         std::vector<otlp_metric>& out);

}  // namespace otel
