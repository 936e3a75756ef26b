// Spans encoded per second (target: at least 1,000,000 on one core), spans delivered per second
// by the exporter thread to a sink that decodes nothing (plain, gzip, https) with their bytes on
// the wire, the cost of one span's way through the exporter's queue, of mapping a finished
// tracer to a span, and of reading the recording core's wall clock (twice per tracer) against
// the system clock.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "exporter.h"
#include "gzip.h"
#include "object_record.h"
#include "otel_agent_session.h"
#include "otlp_encoder.h"
#include "span_mapping.h"
#include "span_queue.h"
#include "wall_clock.h"

namespace {

// Ids as random as the agent's, so that compression finds no more in them than in real ones.
uint64_t mixed(uint64_t n) {
    n += 0x9e3779b97f4a7c15ull;
    n = (n ^ (n >> 30)) * 0xbf58476d1ce4e5b9ull;
    n = (n ^ (n >> 27)) * 0x94d049bb133111ebull;
    return n ^ (n >> 31);
}

void fill_id(uint8_t* bytes, size_t size, uint64_t seed) {
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t r = mixed(seed + i);
        std::memcpy(bytes + i, &r, std::min<size_t>(8, size - i));
    }
}

// A traced incoming web request as the agent records it.
void fill_web_request(otel::otlp_span& span, uint64_t n) {
    fill_id(span.trace.bytes, sizeof span.trace.bytes, 3 * n);
    fill_id(span.span.bytes, sizeof span.span.bytes, 3 * n + 1);
    fill_id(span.parent.bytes, sizeof span.parent.bytes, 3 * n + 2);
    span.kind = otel::span_kind::server;
    span.set_name("GET /api/orders");
    span.start_unix_nano = 1700000000000000000ull + n * 1000;
    span.end_unix_nano = span.start_unix_nano + 250000;
    span.add_attribute("http.request.method", "GET");
    span.add_attribute("url.path", "/api/orders");
    span.add_attribute("server.address", "shop.example");
    span.add_attribute("http.request.header.accept", "application/json");
    span.add_attribute("http.request.header.user-agent", "bench/1.0");
    span.add_attribute("http.response.status_code", int64_t{200});
}

void encode_spans(benchmark::State& state) {
    const size_t batch = static_cast<size_t>(state.range(0));
    std::vector<otel::otlp_span> spans(batch);
    std::vector<const otel::otlp_span*> pointers;
    for (size_t i = 0; i < batch; ++i) {
        fill_web_request(spans[i], i);
        pointers.push_back(&spans[i]);
    }
    const otel::resource origin{{otel::key_value::of("service.name", std::string("shop"))}, {}};
    std::string body;
    for (auto _ : state) {
        otel::encode_trace_request(origin, {"quorin", "1.7.1"}, pointers, body);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * batch));
    state.counters["body_bytes_per_span"] = static_cast<double>(body.size()) / batch;
}
BENCHMARK(encode_spans)->Arg(512);

// gzip of a batch's body at zlib level N, per span, with the bytes it leaves. The bodies take
// turns, each with ids of its own as the exporter's do, so that the processor's caches and
// branch predictors do not learn one input.
void gzip_spans(benchmark::State& state) {
    constexpr size_t batch = 512, bodies = 16;
    std::vector<std::string> encoded(bodies);
    for (size_t b = 0; b < bodies; ++b) {
        std::vector<otel::otlp_span> spans(batch);
        std::vector<const otel::otlp_span*> pointers;
        for (size_t i = 0; i < batch; ++i) {
            fill_web_request(spans[i], b * batch + i);
            pointers.push_back(&spans[i]);
        }
        otel::encode_trace_request({{otel::key_value::of("service.name", std::string("shop"))}, {}},
                                   {"quorin", "1.7.1"}, pointers, encoded[b]);
    }
    otel::gzip_compressor gzip(static_cast<int>(state.range(0)));
    size_t plain = 0, packed = 0, turn = 0;
    for (auto _ : state) {
        const std::string& body = encoded[turn++ % bodies];
        plain += body.size();
        packed += gzip.compress(body).value_or("").size();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * batch));
    state.counters["ratio"] = static_cast<double>(plain) / static_cast<double>(packed);
}
BENCHMARK(gzip_spans)->Arg(1)->Arg(6);

// A source handed over as the agent hands a tracer's record, made into a span as the exporter
// thread makes it.
uint64_t made = 0;
class web_request_maker final : public otel::span_maker {
  public:
    size_t bytes(const otel::span_source&) const override { return 600; }
    void fill(const otel::span_source&, otel::otlp_span& span) const override {
        fill_web_request(span, ++made);
    }
    void release(otel::span_source*) const override {}
};
const web_request_maker web_requests;
otel::span_source* web_request_source() {
    static int source;
    return reinterpret_cast<otel::span_source*>(&source);
}

// Processor time so far of this process's threads named `name`, from the scheduler's
// statistics (Linux); 0 where they cannot be read.
double threads_cpu_ns(const char* name) {
    double total = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (!std::getline(comm, line) || line != name) continue;
        std::ifstream schedstat(task.path() / "schedstat");
        double run_ns = 0;
        if (schedstat >> run_ns) total += run_ns;
    }
    return total;
}

// Spans delivered per second by an exporter thread to the receiver's sink, which answers at
// once and decodes nothing: plain (0), gzip (1), https (2). Each round queues a batch of
// spans and flushes; the time is real time per span delivered, from the submission of the
// first to the answer to the last. The sink's count gives the request bodies' bytes per span;
// the threads' names give the exporter thread's and the sender's processor time.
void export_delivery(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const char* sink = std::getenv(mode == 2 ? "QUORIN_OTEL_SINK_TLS" : "QUORIN_OTEL_SINK");
    const char* control = std::getenv("QUORIN_OTEL_RECEIVER_CONTROL");
    const char* tls_dir = std::getenv("QUORIN_OTEL_RECEIVER_TLS_DIR");
    if (sink == nullptr || control == nullptr || (mode == 2 && tls_dir == nullptr)) {
        state.SkipWithError("the receiver's sink is not running (scripts/bench starts it)");
        return;
    }
    constexpr uint32_t round = 8192;
    otel::exporter_options options;
    options.traces_endpoint = *otel::parse_url(std::string(sink) + "/v1/traces");
    options.resource = {{otel::key_value::of("service.name", std::string("shop"))}, {}};
    options.scope = {"quorin", "1.7.1"};
    options.schedule_delay = std::chrono::hours(1);
    options.max_queue_size = round;
    options.max_queue_bytes = uint64_t{1} << 30;
    options.spans = &web_requests;
    if (mode == 1) options.traces.compression = otel::compression::gzip;
    if (mode == 2) options.traces_tls.certificate = std::string(tls_dir) + "/ca.crt";
    receiver_control(control, "reset");
    uint64_t submitted = 0;
    double cpu_ns_per_span = 0, exporter_thread_ns = 0, sender_thread_ns = 0;
    const std::clock_t cpu_before = std::clock();
    {
        otel::exporter exporter(options);
        exporter.start();
        for (auto _ : state) {
            for (uint32_t i = 0; i < round; ++i)
                submitted += exporter.submit_deferred(web_request_source());
            exporter.flush();
        }
        // The exporter's threads are fresh and end at the shutdown: their whole time so far.
        exporter_thread_ns = threads_cpu_ns("quorin-exporter");
        sender_thread_ns = threads_cpu_ns("quorin-sender");
        exporter.shutdown();
        cpu_ns_per_span = 1e9 * double(std::clock() - cpu_before) / CLOCKS_PER_SEC / submitted;
        const otel::exporter_stats stats = exporter.stats();
        if (stats.spans_exported != submitted ||
            submitted != static_cast<uint64_t>(state.iterations()) * round) {
            state.SkipWithError("spans were dropped or not delivered");
            return;
        }
    }
    unsigned long long requests = 0, bytes = 0, connections = 0, sink_cpu_us = 0;
    const std::string sunk = receiver_control(control, "sink");
    if (std::sscanf(sunk.c_str(), "requests=%llu bytes=%llu connections=%llu cpu_us=%llu",
                    &requests, &bytes, &connections, &sink_cpu_us) != 4) {
        state.SkipWithError("the sink's count could not be read");
        return;
    }
    state.SetItemsProcessed(static_cast<int64_t>(submitted));
    state.counters["wire_bytes_per_span"] = static_cast<double>(bytes) / submitted;
    state.counters["cpu_ns_per_span"] = cpu_ns_per_span;
    state.counters["exporter_thread_ns_per_span"] = exporter_thread_ns / submitted;
    state.counters["sender_thread_ns_per_span"] = sender_thread_ns / submitted;
    state.counters["spans_per_request"] = static_cast<double>(submitted) / requests;
    state.counters["sink_cpu_ns_per_span"] = 1e3 * static_cast<double>(sink_cpu_us) / submitted;
    state.counters["connections"] = static_cast<double>(connections);
}
BENCHMARK(export_delivery)->Arg(0)->Arg(1)->Arg(2)->UseRealTime();

// The application's side (submit_deferred) and the exporter's (take, which makes the spans,
// and recycle), per span.
void queue_round_trip(benchmark::State& state) {
    otel::span_queue queue(2048, 16u << 20, 512, &web_requests);
    std::vector<otel::otlp_span*> batch;
    for (auto _ : state) {
        queue.submit_deferred(web_request_source());
        if (queue.size() >= 512) {
            batch.clear();
            queue.take(batch, 512);
            for (otel::otlp_span* span : batch) queue.recycle(span);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(queue_round_trip);

// What the exporter thread does for each span it takes: the tracer of a traced request as the
// recording core hands it over, mapped to an OTLP span (which the exporter clears once sent).
void map_span(benchmark::State& state) {
    using agent_core::attribute_key;
    agent_core::object_record tracer;
    tracer.tracer = agent_core::tracer_kind::incoming_web_request;
    tracer.started = true;
    tracer.context.trace.bytes[15] = tracer.context.span.bytes[7] = tracer.context.flags = 1;
    tracer.start_us = 1700000000000000;
    tracer.end_us = tracer.start_us + 250;
    tracer.add_text(attribute_key::web_server_name, "shop.example");
    tracer.add_text(attribute_key::application_id, "shop");
    tracer.add_text(attribute_key::context_root, "/");
    tracer.add_text(attribute_key::method, "GET");
    tracer.add_text(attribute_key::url, "/api/orders?id=42");
    tracer.add_text(attribute_key::request_header, "text/html,application/json", "Accept");
    tracer.add_text(attribute_key::request_header, "Mozilla/5.0 (X11; Linux x86_64) bench/1.0",
                    "User-Agent");
    tracer.add_integer(attribute_key::status_code, 200);
    otel::otlp_span span;
    for (auto _ : state) {
        otel_agent::fill_span(tracer, span);
        span.clear();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(map_span);

void clock_wall_clock(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(agent_core::wall_clock_microseconds());
}
BENCHMARK(clock_wall_clock);

void clock_system_clock(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(std::chrono::system_clock::now());
}
BENCHMARK(clock_system_clock);

}  // namespace
