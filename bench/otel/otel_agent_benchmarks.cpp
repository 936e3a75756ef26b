// What a traced incoming web request costs the application's thread with the OpenTelemetry
// agent bound: its six calls, with the exporter thread sending to the OTLP receiver, with the
// trace not sampled, and unbound; the allocations on the application's thread; two threads
// against one.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

#include "allocation_count.h"
#include "otel_agent_session.h"
#include "otel_request.h"
#include "quorin.h"

namespace {

// Runs the requests and counts the allocations they made on this thread.
template <typename Work>
void count_allocations(benchmark::State& state, Work work) {
    const uint64_t before = allocations_on_this_thread();
    for (auto _ : state) work();
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(allocations_on_this_thread() - before),
                           benchmark::Counter::kAvgIterations);
}

void run_requests(benchmark::State& state, std::initializer_list<const char*> options) {
    {
        const otel_agent_session session(options);
        if (!session.error().empty()) {
            state.SkipWithError(session.error().c_str());
            return;
        }
        const quorin_handle_t web_application = session.web_application();
        count_allocations(state, [=] { one_request(web_application); });
    }
    state.counters["sent"] = otel_agent_session::last_sent_share();
}

void otel_request_exporting(benchmark::State& state) { run_requests(state, {}); }
BENCHMARK(otel_request_exporting);

#define UNSAMPLED "otel_traces_sampler=parentbased_traceidratio", "otel_traces_sampler_arg=0"

void otel_request_unsampled(benchmark::State& state) { run_requests(state, {UNSAMPLED}); }
BENCHMARK(otel_request_unsampled);

void otel_request_unbound(benchmark::State& state) {
    if (quorin_agent_get_fork_state() != -1) {
        state.SkipWithError("an agent is bound");
        return;
    }
    count_allocations(state, [] { one_request(7); });
}
BENCHMARK(otel_request_unbound);

// The check of the count: a call the agent warns about formats its warning.
void otel_warned_call(benchmark::State& state) {
    const otel_agent_session session;
    if (!session.error().empty()) {
        state.SkipWithError(session.error().c_str());
        return;
    }
    count_allocations(state, [] { quorin_tracer_start(0); });
}
BENCHMARK(otel_warned_call);

// Several application threads with one session, which the first thread opens and closes:
// exporting (0), or with the trace not sampled (1).
void otel_request_threads(benchmark::State& state) {
    static std::unique_ptr<otel_agent_session> session;
    if (state.thread_index() == 0) {
        session = state.range(0) == 0 ? std::make_unique<otel_agent_session>()
                                      : std::make_unique<otel_agent_session>(
                                            std::initializer_list<const char*>{UNSAMPLED});
    }
    // Every thread waits here until the first has bound the agent.
    for (auto _ : state) {
        if (!session->error().empty()) {
            state.SkipWithError(session->error().c_str());
            break;
        }
        one_request(session->web_application());
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) session.reset();
}
BENCHMARK(otel_request_threads)->Arg(0)->Arg(1)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
