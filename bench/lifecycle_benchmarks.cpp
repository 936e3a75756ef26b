// The lifecycle and configuration paths: a nested initialization, the variable store and
// option resolution, each with a small and a large store.
#include <benchmark/benchmark.h>

#include "internals/bench_internals.h"
#include "quorin.h"
#include "support/agent_session.h"
#include "support/variable_names.h"

namespace {

// With the agent bound and its reference held, initialize and shutdown only count.
void nested_initialize_shutdown(benchmark::State& state) {
    const agent_session session;
    if (session.status() != QUORIN_STATUS_OK) {
        state.SkipWithError("the benchmark agent could not be bound");
        return;
    }
    for (auto _ : state) {
        quorin_initialize();
        quorin_shutdown();
    }
}
BENCHMARK(nested_initialize_shutdown);

// Replaces the last of `range(0)` variables: the whole store is searched each time.
void set_variable(benchmark::State& state) {
    const auto size = static_cast<uint32_t>(state.range(0));
    quorin_stub_free_variables();
    for (uint32_t i = 0; i < size; ++i) quorin_stub_set_variable(bench_variable(i).c_str(), 1);
    const bench_text last = bench_variable(size - 1);
    for (auto _ : state) quorin_stub_set_variable(last.c_str(), 1);
    quorin_stub_free_variables();
}
BENCHMARK(set_variable)->Arg(10)->Arg(1000);

// Every variable is looked at for each option and copied as an additional option.
void resolve_options(benchmark::State& state) {
    bench_internals_fill_variables(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) bench_internals_resolve_options();
    bench_internals_fill_variables(0);
}
BENCHMARK(resolve_options)->Arg(10)->Arg(1000);

}  // namespace
