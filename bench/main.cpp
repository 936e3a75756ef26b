// Runs every benchmark in this one process and prints one table of medians. Arguments are
// Google Benchmark's own (for example --benchmark_filter=forwarder) and override the defaults.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "summary_table.h"

int main(int argc, char** argv) {
    // glibc and libstdc++ skip atomic operations in a process that never started a thread;
    // an application that traces has threads, so measure as one.
    std::thread([] {}).join();

    char repetitions[] = "--benchmark_repetitions=5";
    char aggregates_only[] = "--benchmark_report_aggregates_only=true";
    char min_time[] = "--benchmark_min_time=0.2";
    std::vector<char*> args = {argv[0], repetitions, aggregates_only, min_time};
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    std::fprintf(stderr, "Running the benchmarks (about a minute)...\n");
    median_collector results;
    benchmark::RunSpecifiedBenchmarks(&results);
    benchmark::Shutdown();
    print_summary_table(results, stdout);
    return 0;
}
