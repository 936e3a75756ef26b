// The exporter: application threads hand what finished spans are made of to a bounded queue
// and never wait; one exporter thread makes them into batches, which a sender thread posts as
// OTLP/HTTP while the next is made; it collects metrics at their interval, retries what may
// succeed later, and reports what it had to give up through a rate-limited warning. flush and
// shutdown wait at most the longer of the signals' export timeouts, where no limit counts as ten
// seconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "otel_platform.h"
#include "otlp_model.h"
#include "retry_policy.h"
#include "settings.h"
#include "span_queue.h"

// The OpenTelemetry agent's version, which its User-Agent and version text name.
#define QUORIN_OTEL_AGENT_VERSION "1.0.0"

namespace otel {

struct exporter_options {
    url traces_endpoint;
    url metrics_endpoint;
    std::vector<key_value_text> headers;
    tls_files traces_tls;
    tls_files metrics_tls;
    otel::resource resource;
    instrumentation_scope scope;
    milliseconds timeout{10000};  // one export with its retries, unless the signal has its own
    milliseconds schedule_delay{5000};
    milliseconds metric_interval{60000};
    uint32_t max_queue_size = 2048;
    uint32_t max_export_batch_size = 512;
    uint64_t max_queue_bytes = 16u << 20;
    signal_settings traces, metrics;
    file_settings file;  // a path: each batch also as a line of OTLP JSON in that file
    std::string user_agent = "quorin-otel-agent";  // from(): with the version and the system
    retry_options retry;
    milliseconds warning_interval{10000};
    // Called on the exporter thread (and in shutdown) with a warning for the application.
    std::function<void(const std::string&)> warn;
    // Called on the exporter thread at each metric interval and flush: appends the metrics
    // of the interval that ended.
    std::function<void(std::vector<otlp_metric>&)> collect_metrics;
    // How the exporter thread makes the spans handed over with submit_deferred (the agent's span
    // mapping); it outlives the exporter. Without one every span is dropped.
    const span_maker* spans = nullptr;
    // The exporter's own health (otel.sdk.*) with the metrics; live_spans, when given, counts
    // the sampled spans started and not ended yet.
    bool self_metrics = false;
    std::function<uint64_t()> live_spans;

    static exporter_options from(const settings& resolved);
};

struct exporter_stats {
    uint64_t spans_exported = 0;
    uint64_t spans_dropped = 0;   // queue full, or left in the queue at shutdown
    uint64_t spans_rejected = 0;  // a permanent error (400, ...) or a partial success: not retried
    uint64_t spans_failed = 0;    // still failing when the export timeout ran out
    uint64_t metric_requests_exported = 0;
    uint64_t metric_requests_failed = 0;
    uint64_t metric_points_rejected = 0;  // by a partial success of an accepted request
    uint64_t attempts = 0;                // HTTP requests made
    uint64_t file_lines_written = 0;      // batches written to the file
    uint64_t file_lines_lost = 0;         // not written: the file could not be opened, or full
};

class exporter {
  public:
    explicit exporter(exporter_options options);
    ~exporter();  // shuts down
    exporter(const exporter&) = delete;
    exporter& operator=(const exporter&) = delete;

    // Starts the exporter thread; until then spans only queue.
    void start();

    // Application threads: a span the exporter thread makes of the source with the options'
    // span maker; false (the span is dropped and counted, the source stays with the caller) when
    // the queue is full or after shutdown.
    bool submit_deferred(span_source* source);

    // Sends everything queued now, and the metrics; true when that is done (delivered or
    // given up) within the export timeout. On the exporter thread (from a warning) it returns
    // false at once.
    bool flush();
    // Flushes, stops the thread and drops what could not be sent within the export timeout.
    // Later spans are dropped.
    void shutdown();

    // Names the service once (the first call wins): the service.name of every request sent
    // afterwards, for an agent whose settings left it to the application.
    void name_service(std::string_view name);

    exporter_stats stats() const;
    // The priority the exporter thread runs at now: below the application's threads while the
    // queue has room, theirs while it is above its high-water mark.
    thread_priority priority() const;
    const exporter_options& options() const { return options_; }

  private:
    struct engine;
    engine* current() {
        engine* e = engine_.load(std::memory_order_acquire);
        if (e != nullptr || shut_down_.load()) return e;
        return restart();
    }
    // A new engine (after a fork child forgot the old one), out of the way of every call.
    [[gnu::noinline]] engine* restart();
    static void forget_after_fork(void* self);

    exporter_options options_;
    std::atomic<const otel::resource*> named_resource_{nullptr};
    std::atomic<engine*> engine_{nullptr};
    std::atomic<bool> started_{false};
    std::atomic<bool> shut_down_{false};
    std::atomic_flag restarting_ = ATOMIC_FLAG_INIT;
    int fork_hook_ = -1;
};

}  // namespace otel
