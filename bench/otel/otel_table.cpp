// The table of otel_bench: the OpenTelemetry agent's cost on the application's threads and
// its exporter's encoding rate.
#include "summary_table.h"

void print_summary_table(const median_collector& results, std::FILE* out) {
    summary_table t(results);
    const std::string unbound = "unbound request";
    t.add("Request (6 calls), unbound", "otel_request_unbound");
    t.add_bounded("Request (6 calls), OpenTelemetry agent, exporting", "otel_request_exporting",
                  150, unbound, "otel_request_unbound");
    t.add("Request (6 calls), trace not sampled (ratio 0)", "otel_request_unsampled", unbound,
          "otel_request_unbound", 3);
    t.add_count("Allocations per request on its thread, exporting", "otel_request_exporting",
                "allocs", "allocs", 0, 1, "0 (at most 1)");
    t.add_count("Allocations per request on its thread, not sampled", "otel_request_unsampled",
                "allocs", "allocs", 0, 1, "0 (at most 1)");
    t.add_count("Control: a call the agent warns about", "otel_warned_call", "allocs", "allocs", 1,
                1e9, "> 0 (the count works)");
    for (const char* mode : {"exporting", "not sampled"}) {
        const std::string arg = mode[0] == 'e' ? "0" : "1";
        t.add(printf_text("Request, %s, 1 thread (per request)", mode),
              "otel_request_threads/" + arg + "/threads:1");
        t.add_speedup(printf_text("Request, %s, 2 threads (per request)", mode),
                      "otel_request_threads/" + arg + "/threads:2", "1 thread",
                      "otel_request_threads/" + arg + "/threads:1", 1.6);
    }
    t.add_bounded("OTLP encoding, per span (batches of 512)", "encode_spans/512", 1000);
    t.add("Span queue round trip, per span", "queue_round_trip");
    t.add("Mapping a request's tracer to a span (exporter thread)", "map_span");
    t.add("Reading the system clock", "clock_system_clock");
    t.add("Reading the recording core's wall clock (twice a tracer)", "clock_wall_clock",
          "system clock", "clock_system_clock", 1);
    t.add_note(printf_text("Exporting: the exporter thread sends to the OTLP receiver on "
                           "127.0.0.1, which took %.1f%% of the spans;",
                           100 * results.counter("otel_request_exporting", "sent")) +
               " the others found the queue full and were dropped (and counted) before being "
               "mapped to spans. Times are the application thread's processor time; the "
               "threads rows are throughput in real time.");
    t.print(out, "OpenTelemetry agent benchmarks");
}
