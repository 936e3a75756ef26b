// Forwarders against the plain calls they compete with, and a whole request through the API.
// Results are left alone: a call into another module cannot be optimised away, and keeping
// each loop body to the call keeps the variants comparable.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "peer/bench_peer.h"
#include "quorin.h"
#include "support/agent_session.h"

namespace {

constexpr quorin_handle_t tracer_handle = 42;

// The unbound default of this export, which the benchmark agent's slot never returns.
bool bound() { return quorin_agent_get_fork_state() != -1; }

bool skip_unless(benchmark::State& state, bool expected_bound, quorin_status_t status) {
    if (status != QUORIN_STATUS_OK) {
        state.SkipWithError("the benchmark agent could not be bound");
        return true;
    }
    if (bound() != expected_bound) {
        state.SkipWithError(expected_bound ? "not bound" : "still bound");
        return true;
    }
    return false;
}

void call_through_function_pointer(benchmark::State& state) {
    bench_peer_slot_function slot = bench_peer_slot();
    void* context = &state;
    quorin_handle_t handle = tracer_handle;
    benchmark::DoNotOptimize(slot);
    benchmark::DoNotOptimize(context);
    benchmark::DoNotOptimize(handle);
    for (auto _ : state) slot(context, handle);
}
BENCHMARK(call_through_function_pointer);

void direct_call_into_shared_library(benchmark::State& state) {
    quorin_handle_t handle = tracer_handle;
    benchmark::DoNotOptimize(handle);
    for (auto _ : state) bench_peer_nothing(handle);
}
BENCHMARK(direct_call_into_shared_library);

void unbound_core_forwarder(benchmark::State& state) {
    if (skip_unless(state, false, QUORIN_STATUS_OK)) return;
    quorin_handle_t handle = tracer_handle;
    benchmark::DoNotOptimize(handle);
    for (auto _ : state) quorin_tracer_start(handle);
}
BENCHMARK(unbound_core_forwarder);

void unbound_extension_forwarder(benchmark::State& state) {
    if (skip_unless(state, false, QUORIN_STATUS_OK)) return;
    quorin_handle_t handle = tracer_handle;
    benchmark::DoNotOptimize(handle);
    for (auto _ : state) quorin_metric_delete(handle);
}
BENCHMARK(unbound_extension_forwarder);

void bound_core_forwarder(benchmark::State& state) {
    const agent_session session;
    if (skip_unless(state, true, session.status())) return;
    quorin_handle_t handle = tracer_handle;
    benchmark::DoNotOptimize(handle);
    for (auto _ : state) quorin_tracer_start(handle);
}
BENCHMARK(bound_core_forwarder);

// The same while another thread nests initialize/shutdown pairs: what those calls write must
// not share a cache line with what the forwarder reads.
void bound_core_forwarder_beside_lifecycle_calls(benchmark::State& state) {
    const agent_session session;
    if (skip_unless(state, true, session.status())) return;
    std::atomic<bool> stop{false};
    std::thread nesting([&stop] {
        while (!stop.load(std::memory_order_relaxed)) {
            quorin_initialize();
            quorin_shutdown();
        }
    });
    quorin_handle_t handle = tracer_handle;
    benchmark::DoNotOptimize(handle);
    for (auto _ : state) quorin_tracer_start(handle);
    stop.store(true);
    nesting.join();
}
BENCHMARK(bound_core_forwarder_beside_lifecycle_calls);

void bound_extension_forwarder(benchmark::State& state) {
    const agent_session session;
    if (skip_unless(state, true, session.status())) return;
    quorin_handle_t handle = tracer_handle;
    benchmark::DoNotOptimize(handle);
    for (auto _ : state) quorin_metric_delete(handle);
}
BENCHMARK(bound_extension_forwarder);

// What an incoming web request costs the application: create its tracer, start it, add a
// header, set the status code, end it.
const char* const header_names[] = {"Accept"};
const char* const header_values[] = {"text/html"};
const size_t header_count = 1;
const quorin_handle_t web_application = 7;

void one_request() {
    const quorin_handle_t tracer =
        quorin_incomingwebrequesttracer_create_p(&web_application, "/index.html", "GET");
    quorin_tracer_start(tracer);
    quorin_incomingwebrequesttracer_add_request_headers_p(tracer, header_names, header_values,
                                                          &header_count);
    quorin_incomingwebrequesttracer_set_status_code(tracer, 200);
    quorin_tracer_end(tracer);
}

void request_unbound(benchmark::State& state) {
    if (skip_unless(state, false, QUORIN_STATUS_OK)) return;
    for (auto _ : state) one_request();
}
BENCHMARK(request_unbound);

void request_bound(benchmark::State& state) {
    const agent_session session;
    if (skip_unless(state, true, session.status())) return;
    for (auto _ : state) one_request();
}
BENCHMARK(request_bound);

// The floor for any five calls into a shared library.
void request_direct_calls(benchmark::State& state) {
    for (auto _ : state) {
        const quorin_handle_t tracer = bench_peer_nothing(web_application);
        bench_peer_nothing(tracer);
        bench_peer_nothing(tracer);
        bench_peer_nothing(tracer);
        bench_peer_nothing(tracer);
    }
}
BENCHMARK(request_direct_calls);

// The agent's own share of a bound request: its five slots, called directly.
void request_agent_work(benchmark::State& state) {
    bench_peer_slot_function slot = bench_peer_slot();
    void* context = &state;
    benchmark::DoNotOptimize(slot);
    benchmark::DoNotOptimize(context);
    for (auto _ : state) {
        const quorin_handle_t tracer = slot(context, web_application);
        slot(context, tracer);
        slot(context, tracer);
        slot(context, tracer);
        slot(context, tracer);
    }
}
BENCHMARK(request_agent_work);

}  // namespace
