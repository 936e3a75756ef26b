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
    // The exporter's delivery: real time per span, and the processor time of the exporter's
    // process and of the sink per span, in the same runs.
    const std::string encoding = "encoding";
    const auto delivery = [&](const char* mode) { return std::string("export_delivery/") + mode; };
    const auto per_span = [&](const char* mode, const char* counter) {
        return results.counter(delivery(mode), counter);
    };
    t.add_speedup("Delivery to a sink, plain HTTP, per span", delivery("0"), encoding,
                  "encode_spans/512", 0.6);
    t.add("Delivery to a sink, gzip, per span", delivery("1"), "plain delivery", delivery("0"), 2);
    t.add("Delivery to a sink, https, per span", delivery("2"), "plain delivery", delivery("0"));
    for (const auto& [mode, name] : {std::pair{"0", "plain"}, {"1", "gzip"}, {"2", "https"}}) {
        t.add_value(printf_text("Exporter's processor time per span, %s", name),
                    per_span(mode, "cpu_ns_per_span"), "ns", 0, 1e9, "");
        t.add_value(printf_text("Sink's processor time per span, %s", name),
                    per_span(mode, "sink_cpu_ns_per_span"), "ns", 0, 1e9, "");
    }
    t.add_value("Exporter thread's processor time per span, plain",
                per_span("0", "exporter_thread_ns_per_span"), "ns", 0, 1e9, "");
    t.add_value("Sender thread's processor time per span, plain",
                per_span("0", "sender_thread_ns_per_span"), "ns", 0, 1e9, "");
    t.add_value(
        "Encoding's share of the exporter thread's time, plain",
        results.nanoseconds("encode_spans/512") / per_span("0", "exporter_thread_ns_per_span"), "x",
        0, 1e9, "");
    const double plain_bytes = per_span("0", "wire_bytes_per_span");
    const double gzip_bytes = per_span("1", "wire_bytes_per_span");
    t.add_value("Bytes per span on the wire, plain", plain_bytes, "bytes", 0, 1e9, "");
    t.add_value("Bytes per span on the wire, gzip", gzip_bytes, "bytes", 0, 1e9, "");
    t.add_value("gzip: plain bytes per gzip byte", plain_bytes / gzip_bytes, "x", 4, 1e9, ">= 4x");
    t.add("gzip of a batch, zlib level 1 (the exporter's), per span", "gzip_spans/1");
    t.add("gzip of a batch, zlib level 6, per span", "gzip_spans/6", "level 1", "gzip_spans/1");
    t.add_value("gzip level 6: bytes saved over level 1",
                100 * (1 - results.counter("gzip_spans/1", "ratio") /
                               results.counter("gzip_spans/6", "ratio")),
                "%", 0, 0, "");
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
    t.add_note(
        "Delivery: an exporter thread maps and encodes batches of 512 spans, which its "
        "sender thread sends to the receiver's sink on 127.0.0.1 while the next is made; the "
        "sink reads HTTP itself and decodes nothing; real time per span "
        "delivered, with the sink sharing the machine's cores; processor times are the "
        "whole bench process's (the exporter's threads apart) and the receiver's over the "
        "same runs. Bytes are the request bodies'.");
    t.print(out, "OpenTelemetry agent benchmarks");
}
