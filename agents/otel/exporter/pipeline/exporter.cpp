#include "exporter.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "background_sender.h"
#include "collector_answer.h"
#include "export_request.h"
#include "gzip.h"
#include "http_transport.h"
#include "id_generator.h"
#include "json_lines.h"
#include "otel_platform.h"
#include "otlp_encoder.h"
#include "otlp_json_encoder.h"
#include "redaction.h"
#include "resource_detection.h"
#include "self_metrics.h"
#include "span_queue.h"

namespace otel {

using clock = std::chrono::steady_clock;

exporter_options exporter_options::from(const settings& resolved) {
    exporter_options options;
    options.traces_endpoint = resolved.traces_endpoint;
    options.metrics_endpoint = resolved.metrics_endpoint;
    options.headers = resolved.headers;
    options.traces_tls = resolved.traces_tls;
    options.metrics_tls = resolved.metrics_tls;
    options.resource = resolved.resource;
    options.timeout = resolved.timeout;
    options.schedule_delay = resolved.schedule_delay;
    options.metric_interval = resolved.metric_interval;
    options.max_queue_size = resolved.max_queue_size;
    options.max_export_batch_size = resolved.max_export_batch_size;
    options.max_queue_bytes = resolved.max_queue_bytes;
    options.traces = resolved.traces;
    options.metrics = resolved.metrics;
    options.file = resolved.file;
    options.user_agent =
        "quorin-otel-agent/" QUORIN_OTEL_AGENT_VERSION " (" + platform_name() + ")";
    options.self_metrics = resolved.self_metrics;
    return options;
}

namespace {

uint64_t unix_nano_now() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

int64_t unix_seconds_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Why a request that got an answer was not delivered, for a warning.
std::string refusal(const http_response& response, const std::string& from) {
    std::string text = "HTTP " + std::to_string(response.status) + " from " + from;
    if (response.oversized) return text + ": the answer is larger than the limit";
    if (response.status >= 300 && response.status < 400) {
        const std::string host = host_of_location(response.location);
        return text + ": redirect" + (host.empty() ? "" : " to " + host) + " not followed";
    }
    const std::string message = read_status_message(response.body);
    return message.empty() ? text : text + ": " + message;
}

// A child after fork sends under its own process id and service instance, not its parent's.
void renew_process_id(resource& described) {
    const std::string instance_id =
        described.detected_instance_id.empty() ? std::string() : new_instance_id();
    for (key_value& kv : described.attributes) {
        if (kv.key == "process.pid" && kv.type == value_type::integer) {
            kv.integer = static_cast<int64_t>(current_process_id());
        } else if (kv.key == "service.instance.id" && !instance_id.empty() &&
                   kv.text == described.detected_instance_id) {
            kv.text = instance_id;
        }
    }
    if (!instance_id.empty()) described.detected_instance_id = instance_id;
}

// How long flush and the release wait: the longer of the two signals' export timeouts, where
// no limit counts as ten seconds, so that the release always ends.
milliseconds release_timeout(const exporter_options& options) {
    constexpr milliseconds unlimited(10000);
    return std::max(export_timeout(options, options.traces, unlimited),
                    export_timeout(options, options.metrics, unlimited));
}

// While the exporter thread waits for the sender, it looks at the queue this often, so that its
// priority follows the queue while a request takes long.
constexpr milliseconds priority_poll(20);

struct counter {
    std::atomic<uint64_t> value{0};
    void add(uint64_t n) { value.fetch_add(n, std::memory_order_relaxed); }
    uint64_t get() const { return value.load(std::memory_order_relaxed); }
};

}  // namespace

struct exporter::engine {
    engine(const exporter_options& o, const std::atomic<const resource*>& named)
        : options(o),
          named_resource(named),
          queue(o.max_queue_size, o.max_queue_bytes, o.max_export_batch_size, o.spans) {
        if (!o.file.path.empty()) file.emplace(o.file);
    }

    const exporter_options& options;
    const std::atomic<const resource*>& named_resource;
    span_queue queue;
    http_transport transport;
    gzip_compressor gzip;
    id_generator jitter;
    std::thread thread;
    std::optional<json_line_file> file;
    std::string json_line;

    std::mutex mutex;
    std::condition_variable wake;        // the exporter thread waits on it
    std::condition_variable done;        // flush waits on it
    std::condition_variable retry_wake;  // a delivery waits on it between attempts
    uint64_t flush_wanted = 0;           // guarded by mutex, as are the next two
    uint64_t flush_served = 0;
    bool stopping = false;
    std::atomic<bool> closed{false};        // no more spans accepted
    std::atomic<bool> aborting{false};      // give up what is under way
    std::atomic<int64_t> stop_deadline{0};  // clock ticks; 0: none

    counter exported, rejected, failed, left_behind, metrics_exported, metrics_failed,
        points_rejected, attempts;
    // For the self metrics: spans taken into requests, what is being sent, data points by fate.
    counter processed, spans_inflight, points_inflight, points_exported, points_refused,
        points_failed;
    operation_durations durations;
    const uint64_t started_unix_nano = unix_nano_now();
    // What the last warning covered, in the order of counts().
    std::array<uint64_t, 6> reported{};
    clock::time_point last_warning{};
    std::string last_error;
    std::atomic<bool> error_unreported{false};  // a partial success's message not reported yet

    // The body as it goes on the wire, once for all the attempts.
    packed_body packed(const signal_settings& signal, std::string_view body) {
        return pack_body(gzip, signal, body, &let_application_run);
    }

    // The batch on its way: the sender's while it sends. The transport, the jitter and the
    // last error are the sender's too until the exporter thread has waited for it.
    std::string sending_body;
    std::string_view sending_encoding;
    uint64_t sending_items = 0;
    background_sender sender{[this] { send_spans(); },
                             [this] {
                                 follow_priority(sender_priority);
                                 name_current_thread("quorin-sender");
                             }};

    // The exporter's threads run below the application while the queue has room, and at the
    // application's priority from the moment it passes its high-water mark until it is back
    // under it: the exporter thread decides (wanted_priority) at each slice of its work and while
    // it waits for the sender; the sender follows at each attempt.
    std::atomic<thread_priority> wanted_priority{thread_priority::below_application};
    std::atomic<thread_priority> exporter_priority{thread_priority::application};  // as it is
    thread_priority sender_priority = thread_priority::application;  // the sender's alone
    // The exporter thread's engine, for the pauses of the encoder and gzip.
    static thread_local engine* pausing;

    void follow_queue() {
        const bool above = queue.above_high_water();
        wanted_priority.store(
            above ? thread_priority::application : thread_priority::below_application,
            std::memory_order_relaxed);
        thread_priority current = exporter_priority.load(std::memory_order_relaxed);
        follow_priority(current);
        exporter_priority.store(current, std::memory_order_relaxed);
    }
    void follow_priority(thread_priority& current) const {
        const thread_priority wanted = wanted_priority.load(std::memory_order_relaxed);
        if (wanted != current) current = set_current_thread_priority(wanted);
    }
    // Between the slices of a batch's work: the exporter's processor goes to a waiting
    // application thread, if any; not while the exporter is behind (the queue above its mark),
    // when each yield would only add a switch to the time it needs to catch up.
    static void let_application_run() {
        if (pausing != nullptr) {
            pausing->follow_queue();
            if (pausing->exporter_priority.load(std::memory_order_relaxed) ==
                thread_priority::application) {
                return;
            }
        }
        std::this_thread::yield();
    }
    // On the exporter thread, its priority follows the queue meanwhile.
    void wait_for_sender() {
        if (pausing != this) return sender.wait();
        while (!sender.wait_for(priority_poll)) follow_queue();
    }

    void run();
    void export_spans(size_t budget, std::vector<otlp_span*>& batch, std::string& body);
    void send_spans();
    void export_metrics(std::vector<otlp_metric>& metrics, std::string& body);
    // Sends one body with the retry policy: nothing when it was not delivered, else the items
    // the collector rejected in a partial success.
    std::optional<uint64_t> deliver(const url& target, const signal_settings& signal,
                                    const tls_files& tls, std::string_view body,
                                    std::string_view encoding, counter& rejected_count,
                                    counter& failed_count, uint64_t items);
    // Losses so far: spans dropped, refused, not delivered; metric requests failed, data
    // points refused; lines not written to the file.
    std::array<uint64_t, 6> counts() const {
        return {queue.dropped(),      rejected.get(),        failed.get(),
                metrics_failed.get(), points_rejected.get(), file ? file->lines_lost() : 0};
    }
    // The batch as a line of OTLP JSON to the file and, when the signal asks for it, to
    // standard error.
    template <typename Encode>
    void write_json_line(const signal_settings& signal, Encode encode) {
        if (!file && !signal.console) return;
        encode(json_line);
        json_line += '\n';
        if (file) file->append(json_line);
        if (signal.console) write_console_line(json_line);
    }
    void warn_if_due();
    void append_self_metrics(std::vector<otlp_metric>& metrics);

    const resource& origin() const {
        const resource* named = named_resource.load(std::memory_order_acquire);
        return named != nullptr ? *named : options.resource;
    }

    clock::time_point attempt_deadline(const signal_settings& signal) const {
        clock::time_point deadline = clock::now() + export_timeout(options, signal);
        if (const int64_t stop = stop_deadline.load()) {
            deadline = std::min(deadline, clock::time_point(clock::duration(stop)));
        }
        return deadline;
    }
};

thread_local exporter::engine* exporter::engine::pausing = nullptr;

void exporter::engine::run() {
    pausing = this;
    follow_queue();
    name_current_thread("quorin-exporter");
    std::vector<otlp_span*> batch;
    std::vector<otlp_metric> metrics;
    std::string body;
    batch.reserve(options.max_export_batch_size);
    auto next_traces = clock::now() + options.schedule_delay;
    auto next_metrics = clock::now() + options.metric_interval;
    const size_t full_batch = options.max_export_batch_size;

    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        const auto wake_at =
            options.collect_metrics ? std::min(next_traces, next_metrics) : next_traces;
        wake.wait_until(lock, wake_at, [&] {
            return stopping || flush_wanted != flush_served || queue.size() >= full_batch;
        });
        const uint64_t target = flush_wanted;
        const bool flushing = stopping || target != flush_served;
        const bool stop = stopping;
        lock.unlock();
        follow_queue();

        const auto now = clock::now();
        if (flushing || now >= next_traces || queue.size() >= full_batch) {
            // What is queued now; spans arriving meanwhile wait for the next round, so a busy
            // application cannot keep a flush going for ever.
            export_spans(queue.size(), batch, body);
            next_traces = clock::now() + options.schedule_delay;
        }
        if (options.collect_metrics && (flushing || now >= next_metrics)) {
            wait_for_sender();
            export_metrics(metrics, body);
            next_metrics = clock::now() + options.metric_interval;
        }
        // A flush is served, and its losses reported, once what it covered has been delivered
        // or given up.
        if (flushing) wait_for_sender();
        // At the stop the release's one line reports everything.
        if (!stop) warn_if_due();
        if (stop) sender.stop();

        lock.lock();
        flush_served = target;
        done.notify_all();
        if (stop) return;
    }
}

void exporter::engine::export_spans(size_t budget, std::vector<otlp_span*>& batch,
                                    std::string& body) {
    while (budget > 0 && !aborting.load()) {
        // The spans are made, encoded and compressed in slices with a yield between them, and
        // the batches sent with one between them, so that the exporter holds the processor
        // for a few microseconds at a time, not for a whole batch.
        batch.clear();
        const size_t wanted = std::min<size_t>(budget, options.max_export_batch_size);
        size_t taken = 0;
        while (taken < wanted) {
            const size_t slice = std::min(encode_slice, wanted - taken);
            const size_t made = queue.take(batch, slice);
            taken += made;
            if (made < slice) break;  // the queue is empty
            if (taken < wanted) let_application_run();
        }
        if (taken == 0) return;
        processed.add(taken);
        budget -= taken;
        let_application_run();
        write_json_line(options.traces, [&](std::string& out) {
            encode_trace_json(origin(), options.scope, batch, out, &let_application_run);
        });
        if (!options.traces.otlp) {
            for (otlp_span* span : batch) queue.recycle(span);
            continue;
        }
        encode_trace_request(origin(), options.scope, batch, body, &let_application_run);
        for (otlp_span* span : batch) queue.recycle(span);
        const auto [wire, encoding] = packed(options.traces, body);
        wait_for_sender();
        if (encoding.empty()) {
            body.swap(sending_body);
        } else {
            sending_body.assign(wire);
        }
        sending_encoding = encoding;
        sending_items = taken;
        sender.start();
        let_application_run();
    }
}

void exporter::engine::send_spans() {
    spans_inflight.value.store(sending_items, std::memory_order_relaxed);
    if (const auto refused =
            deliver(options.traces_endpoint, options.traces, options.traces_tls, sending_body,
                    sending_encoding, rejected, failed, sending_items)) {
        const uint64_t part = std::min<uint64_t>(*refused, sending_items);
        rejected.add(part);
        exported.add(sending_items - part);
    }
    spans_inflight.value.store(0, std::memory_order_relaxed);
}

void exporter::engine::append_self_metrics(std::vector<otlp_metric>& metrics) {
    self_counts c;
    c.queue_size = queue.size();
    c.queue_capacity = options.max_queue_size;
    c.spans_processed = processed.get();
    c.spans_queue_full = queue.dropped();
    c.spans_ended = c.spans_processed + c.queue_size + c.spans_queue_full + left_behind.get();
    c.spans_live = options.live_spans ? options.live_spans() : 0;
    c.spans_inflight = spans_inflight.get();
    c.spans_exported = exported.get();
    c.spans_rejected = rejected.get();
    c.spans_failed = failed.get();
    c.points_inflight = points_inflight.get();
    c.points_exported = points_exported.get();
    c.points_rejected = points_rejected.get() + points_refused.get();
    c.points_failed = points_failed.get();
    const uint64_t now = unix_nano_now();
    otel::append_self_metrics(c, options.traces_endpoint, options.metrics_endpoint,
                              started_unix_nano, now, metrics);
    durations.append(options.traces_endpoint, options.metrics_endpoint, started_unix_nano, now,
                     metrics);
}

void exporter::engine::export_metrics(std::vector<otlp_metric>& metrics, std::string& body) {
    metrics.clear();
    try {
        options.collect_metrics(metrics);
    } catch (...) {
        metrics.clear();
    }
    if (options.self_metrics) {
        try {
            append_self_metrics(metrics);
        } catch (...) {
        }
    }
    if (metrics.empty() || aborting.load()) return;
    uint64_t points = 0;
    for (const otlp_metric& metric : metrics)
        points += metric.numbers.size() + metric.histograms.size();
    write_json_line(options.metrics, [&](std::string& out) {
        encode_metrics_json(origin(), options.scope, metrics, out);
    });
    if (!options.metrics.otlp) return;
    encode_metrics_request(origin(), options.scope, metrics, body);
    const auto [wire, encoding] = packed(options.metrics, body);
    // By request for the line at release, by data point for the self metrics.
    counter refused_request, failed_request;
    points_inflight.value.store(points, std::memory_order_relaxed);
    if (const auto refused = deliver(options.metrics_endpoint, options.metrics, options.metrics_tls,
                                     wire, encoding, refused_request, failed_request, 1)) {
        metrics_exported.add(1);
        points_rejected.add(*refused);
        points_exported.add(points - std::min(points, *refused));
    }
    metrics_failed.add(refused_request.get() + failed_request.get());
    points_refused.add(refused_request.get() * points);
    points_failed.add(failed_request.get() * points);
    points_inflight.value.store(0, std::memory_order_relaxed);
}

std::optional<uint64_t> exporter::engine::deliver(const url& target, const signal_settings& signal,
                                                  const tls_files& tls, std::string_view body,
                                                  std::string_view encoding,
                                                  counter& rejected_count, counter& failed_count,
                                                  uint64_t items) {
    const clock::time_point deadline = attempt_deadline(signal);
    // The origin only: the path's query may carry a token.
    const std::string from = target.origin();
    // One duration per export operation, with the outcome of its last attempt.
    const clock::time_point began = clock::now();
    auto operation_ended = [&](int status, std::string_view error_type) {
        if (!options.self_metrics) return;
        const std::chrono::duration<double> seconds = clock::now() - began;
        durations.record(&target == &options.traces_endpoint, status, error_type, seconds.count());
    };
    for (int attempt = 1;; ++attempt) {
        if (pausing == nullptr) follow_priority(sender_priority);  // on the sender
        const http_request request =
            export_request(options, signal, target, tls, {body, encoding}, deadline);
        const http_response response = transport.post(request);
        attempts.add(1);
        const attempt_outcome outcome =
            response.oversized ? attempt_outcome::permanent : classify_status(response.status);
        if (outcome == attempt_outcome::delivered) {
            const auto part = read_partial_success(response.body);
            operation_ended(response.status, part && part->rejected != 0 ? "rejected" : "");
            if (!part || (part->rejected == 0 && part->message.empty())) return 0;
            last_error = "partial success from " + from + ": " + std::to_string(part->rejected) +
                         " rejected" + (part->message.empty() ? "" : ": " + part->message);
            // The message is reported even when nothing was rejected.
            error_unreported = true;
            return part->rejected;
        }
        if (outcome == attempt_outcome::permanent) {
            last_error = refusal(response, from);
            rejected_count.add(items);
            operation_ended(response.status, response.status != 0 ? std::to_string(response.status)
                                                                  : std::string("rejected"));
            return std::nullopt;
        }
        last_error = response.status != 0 ? refusal(response, from)
                                          : printable(response.error) + " (" + from + ")";
        if (response.untrusted) {  // tried again with the next export, not sooner
            failed_count.add(items);
            operation_ended(0, "tls");
            return std::nullopt;
        }
        const auto delay =
            retry_delay(options.retry, attempt,
                        parse_retry_after(response.retry_after, unix_seconds_now()), jitter.next());
        if (aborting.load() || clock::now() + delay >= deadline) {
            failed_count.add(items);
            operation_ended(response.status, response.status != 0 ? std::to_string(response.status)
                                                                  : std::string("timeout"));
            return std::nullopt;
        }
        std::unique_lock<std::mutex> lock(mutex);
        retry_wake.wait_for(lock, delay, [&] { return aborting.load(); });
    }
}

void exporter::engine::warn_if_due() {
    if (!options.warn) return;
    if (clock::now() - last_warning < options.warning_interval) return;
    if (counts() == reported && !error_unreported.load()) return;
    wait_for_sender();  // the last error is the sender's while it sends
    static constexpr const char* what[] = {" spans dropped (queue full)",
                                           " spans refused by the collector",
                                           " spans not delivered within the export timeout",
                                           " metric requests not delivered",
                                           " metric data points refused by the collector",
                                           " lines not written to the file"};
    std::string text = "OpenTelemetry export: since the last report";
    const auto now = counts();
    for (size_t i = 0; i < now.size(); ++i) {
        if (now[i] != reported[i]) text += ", " + std::to_string(now[i] - reported[i]) + what[i];
    }
    if (!last_error.empty()) text += "; last error: " + last_error;
    if (file && now[5] != reported[5]) text += "; " + file->last_error();
    reported = now;
    error_unreported = false;
    last_warning = clock::now();
    try {
        options.warn(text);
    } catch (...) {
    }
}

exporter::exporter(exporter_options options) : options_(std::move(options)) {
    engine_.store(new engine(options_, named_resource_));
    fork_hook_ = fork_child_hook_add(&exporter::forget_after_fork, this);
}

exporter::~exporter() {
    shutdown();
    fork_child_hook_remove(fork_hook_);
    delete engine_.load();
    delete named_resource_.load();
}

void exporter::name_service(std::string_view name) {
    if (named_resource_.load(std::memory_order_acquire) != nullptr) return;
    auto* named = new resource(options_.resource);
    auto service = std::find_if(named->attributes.begin(), named->attributes.end(),
                                [](const key_value& kv) { return kv.key == "service.name"; });
    if (service != named->attributes.end()) {
        service->text.assign(name);
    } else {
        named->attributes.insert(named->attributes.begin(),
                                 key_value::of("service.name", std::string(name)));
    }
    const resource* none = nullptr;
    if (!named_resource_.compare_exchange_strong(none, named, std::memory_order_acq_rel)) {
        delete named;
    }
}

void exporter::forget_after_fork(void* self) {
    // The child has the parent's memory but not its exporter thread: it neither waits for
    // that thread nor sends the parent's spans. The old engine is left alone (its locks may
    // be held by threads that do not exist here); the child builds a new one when it needs it.
    // Its fork hook's place is freed, or every generation of children would hold one more.
    auto* owner = static_cast<exporter*>(self);
    if (engine* abandoned = owner->engine_.exchange(nullptr)) abandoned->jitter.release_fork_hook();
    owner->restarting_.clear();
}

exporter::engine* exporter::restart() {
    while (restarting_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    engine* e = engine_.load(std::memory_order_acquire);
    if (e == nullptr) {
        try {
            // No engine reads the resources yet; the one built here reads them from now on.
            renew_process_id(options_.resource);
            if (const resource* named = named_resource_.load()) {
                renew_process_id(const_cast<resource&>(*named));
            }
            e = new engine(options_, named_resource_);
            if (started_.load()) e->thread = std::thread([e] { e->run(); });
            engine_.store(e, std::memory_order_release);
        } catch (...) {
            delete e;
            e = nullptr;
        }
    }
    restarting_.clear(std::memory_order_release);
    return e;
}

void exporter::start() {
    engine* e = current();
    if (e == nullptr || started_.exchange(true)) return;
    e->thread = std::thread([e] { e->run(); });
}

bool exporter::submit_deferred(span_source* source) {
    engine* e = current();
    if (e == nullptr) return false;
    if (e->closed.load(std::memory_order_relaxed)) {
        e->left_behind.add(1);
        return false;
    }
    const size_t count = e->queue.submit_deferred(source);
    // Wake the exporter when a batch is full: without the lock, so a wake-up can be missed,
    // and then the schedule delay sends the batch.
    if (count == options_.max_export_batch_size) e->wake.notify_one();
    return count != 0;
}

bool exporter::flush() {
    engine* e = current();
    if (e == nullptr) return true;
    if (!e->thread.joinable()) return e->queue.size() == 0;
    // Asked for on the exporter thread itself, by a warning callback that sends, say: that
    // thread cannot wait for itself, and sends what is queued at its next round.
    if (std::this_thread::get_id() == e->thread.get_id()) return false;
    const auto deadline = clock::now() + release_timeout(options_);
    std::unique_lock<std::mutex> lock(e->mutex);
    if (e->stopping) return e->queue.size() == 0;
    const uint64_t target = ++e->flush_wanted;
    e->wake.notify_one();
    return e->done.wait_until(lock, deadline, [&] { return e->flush_served >= target; });
}

void exporter::shutdown() {
    engine* e = engine_.load();
    if (e == nullptr || shut_down_.exchange(true)) return;
    const auto deadline = clock::now() + release_timeout(options_);
    e->stop_deadline.store(deadline.time_since_epoch().count());
    e->closed.store(true);
    if (e->thread.joinable()) {
        bool finished;
        {
            std::unique_lock<std::mutex> lock(e->mutex);
            e->stopping = true;
            const uint64_t target = ++e->flush_wanted;
            e->wake.notify_one();
            finished =
                e->done.wait_until(lock, deadline, [&] { return e->flush_served >= target; });
        }
        if (!finished) {
            e->aborting.store(true);
            e->transport.abort();
            std::lock_guard<std::mutex> lock(e->mutex);
            e->wake.notify_all();
            e->retry_wake.notify_all();
        }
        e->thread.join();
    }
    std::vector<otlp_span*> rest;
    e->queue.take(rest, e->queue.size() + e->queue.max_spans());
    for (otlp_span* span : rest) e->queue.recycle(span);
    e->left_behind.add(rest.size());
    // One line at the end for everything lost over the whole run, and nothing else: what the
    // rate-limited warning has not reported yet is in it.
    const exporter_stats totals = stats();
    const bool lost = (totals.spans_dropped | totals.spans_rejected | totals.spans_failed |
                       totals.metric_requests_failed | totals.metric_points_rejected |
                       totals.file_lines_lost) != 0;
    if (options_.warn && (lost || e->error_unreported)) {
        std::string text =
            "OpenTelemetry export at shutdown: " + std::to_string(totals.spans_exported) +
            " spans sent, " + std::to_string(totals.spans_dropped) + " dropped, " +
            std::to_string(totals.spans_rejected) + " refused, " +
            std::to_string(totals.spans_failed) + " not delivered; " +
            std::to_string(totals.metric_requests_failed) + " metric requests not delivered, " +
            std::to_string(totals.metric_points_rejected) + " metric data points refused";
        if (!e->last_error.empty()) text += "; last error: " + e->last_error;
        if (e->file) {
            text += "; " + std::to_string(totals.file_lines_written) +
                    " lines written to the file, " + std::to_string(totals.file_lines_lost) +
                    " not written";
            if (!e->file->last_error().empty()) text += " (" + e->file->last_error() + ")";
        }
        try {
            options_.warn(text);
        } catch (...) {
        }
    }
}

thread_priority exporter::priority() const {
    const engine* e = engine_.load();
    return e != nullptr ? e->exporter_priority.load(std::memory_order_relaxed)
                        : thread_priority::application;
}

exporter_stats exporter::stats() const {
    exporter_stats s;
    const engine* e = engine_.load();
    if (e == nullptr) return s;
    s.spans_exported = e->exported.get();
    s.spans_dropped = e->queue.dropped() + e->left_behind.get();
    s.spans_rejected = e->rejected.get();
    s.spans_failed = e->failed.get();
    s.metric_requests_exported = e->metrics_exported.get();
    s.metric_requests_failed = e->metrics_failed.get();
    s.metric_points_rejected = e->points_rejected.get();
    s.attempts = e->attempts.get();
    if (e->file) {
        s.file_lines_written = e->file->lines_written();
        s.file_lines_lost = e->file->lines_lost();
    }
    return s;
}

}  // namespace otel
