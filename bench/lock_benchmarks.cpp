// The library's spin lock against std::mutex, each guarding an increment, uncontended and
// with 2 and 4 threads. Figures are acquisitions per second over all threads, in real time:
// a waiter that sleeps costs time, not processor time.
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>

#include "internals/bench_internals.h"

namespace {

alignas(64) std::atomic<uint32_t> spin_lock_word{0};
alignas(64) std::mutex mutex;
alignas(64) uint64_t guarded_counter = 0;

void spin_lock(benchmark::State& state) {
    for (auto _ : state) {
        bench_internals_lock(&spin_lock_word);
        benchmark::DoNotOptimize(++guarded_counter);
        bench_internals_unlock(&spin_lock_word);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(spin_lock)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

void std_mutex(benchmark::State& state) {
    for (auto _ : state) {
        const std::lock_guard<std::mutex> hold(mutex);
        benchmark::DoNotOptimize(++guarded_counter);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(std_mutex)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace
