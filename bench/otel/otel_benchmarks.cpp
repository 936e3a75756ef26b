// Spans encoded per second (target: at least 1,000,000 on one core) and the cost of handing
// one finished span to the exporter's queue.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "otlp_encoder.h"
#include "span_queue.h"

namespace {

// A traced incoming web request as the agent records it.
void fill_web_request(otel::span_record& span, uint64_t n) {
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
    std::vector<otel::span_record> spans(batch);
    std::vector<const otel::span_record*> pointers;
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

// acquire, fill, submit on the application's side; take and recycle as the exporter does.
void queue_round_trip(benchmark::State& state) {
    otel::span_queue queue(2048, 16u << 20, 512);
    std::vector<otel::span_record*> batch;
    uint64_t n = 0;
    for (auto _ : state) {
        otel::span_record* span = queue.acquire();
        fill_web_request(*span, ++n);
        queue.submit(span);
        if (queue.size() >= 512) {
            batch.clear();
            queue.take(batch, 512);
            for (otel::span_record* record : batch) queue.recycle(record);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(queue_round_trip);

}  // namespace
