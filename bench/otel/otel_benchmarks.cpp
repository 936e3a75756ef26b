// Spans encoded per second (target: at least 1,000,000 on one core), the cost of one span's way
// through the exporter's queue, of mapping a finished tracer to a span, and of
// reading the recording core's wall clock (twice per tracer) against the system clock.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "object_record.h"
#include "otlp_encoder.h"
#include "span_mapping.h"
#include "span_queue.h"
#include "wall_clock.h"

namespace {

// A traced incoming web request as the agent records it.
void fill_web_request(otel::otlp_span& span, uint64_t n) {
    span.trace.bytes[15] = static_cast<uint8_t>(n | 1);
    span.span.bytes[7] = static_cast<uint8_t>(n | 1);
    span.parent.bytes[0] = 1;
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
    const otel::resource origin{{otel::key_value::of("service.name", std::string("shop"))}};
    std::string body;
    for (auto _ : state) {
        otel::encode_trace_request(origin, {"quorin", "1.7.1"}, pointers, body);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * batch));
    state.counters["body_bytes_per_span"] = static_cast<double>(body.size()) / batch;
}
BENCHMARK(encode_spans)->Arg(512);

// A source handed over as the agent hands a tracer's record, made into a span as the exporter
// thread makes it.
uint64_t made = 0;
const otel::deferred_span_hooks web_request_hooks{
    [](const void*) { return size_t{600}; },
    [](const void*, otel::otlp_span& span) { fill_web_request(span, ++made); },
    [](void*) {},
};

// The application's side (submit_deferred) and the exporter's (take, which makes the spans,
// and recycle), per span.
void queue_round_trip(benchmark::State& state) {
    otel::span_queue queue(2048, 16u << 20, 512, web_request_hooks);
    std::vector<otel::otlp_span*> batch;
    static int source;
    for (auto _ : state) {
        queue.submit_deferred(&source);
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
