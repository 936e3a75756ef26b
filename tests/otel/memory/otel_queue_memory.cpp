// The OpenTelemetry agent at full load with the collector unreachable for the whole run: prints
// the peak resident memory the run added next to the queue's configured bound, and fails when
// the growth passes that bound and an allowance, when the dropped spans are not all accounted
// for in the line at release, or when the warnings about them come more often than their
// interval allows. A program of its own, so that nothing else moves its peak.
//
//   otel_queue_memory spans|bytes [SPANS]
//     spans: the queue's bound in spans binds (2048 spans, no byte bound to speak of): the
//            queue and one batch under way hold at most that many of the largest span
//     bytes: its bound in bytes binds (4 MiB, room for 65536 spans): the queued spans hold
//            at most that, the spans waiting for reuse a quarter of it
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// windows.h first
#include <psapi.h>
#endif

#include "otlp_model.h"
#include "quorin.h"

namespace {

constexpr uint64_t mib = 1024 * 1024;
// Beyond the queue: one batch in encoding and in flight, the agent's records of the threads'
// open tracers, the transport's buffers, and what the allocator keeps (under Wine its heap
// and WinHTTP take some 9 MiB more, whatever the bound).
#if defined(_WIN32)
constexpr uint64_t allowance = 24 * mib;
#else
constexpr uint64_t allowance = 12 * mib;
#endif
constexpr int threads = 4;
constexpr auto warning_interval = std::chrono::seconds(10);  // the exporter's

struct memory {
    uint64_t resident = 0, peak = 0;
};

memory resident_memory() {
    memory m;
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        m.resident = counters.WorkingSetSize;
        m.peak = counters.PeakWorkingSetSize;
    }
#else
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return m;
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmRSS: %llu kB", &kib) == 1) m.resident = kib * 1024;
        if (std::sscanf(line, "VmHWM: %llu kB", &kib) == 1) m.peak = kib * 1024;
    }
    std::fclose(status);
#endif
    return m;
}

// Every eighth span is large: an OTLP span that held one keeps memory after it is reused for a
// small one, which the bound must cover too.
constexpr int large_every = 8;
const std::string small_text(100, 's');
const std::string large_text(2000, 'l');

struct span_shape {
    int texts;
    const std::string* value;
};
span_shape shape_of(uint64_t n) {
    return n % large_every == 0 ? span_shape{6, &large_text} : span_shape{2, &small_text};
}
const char* const keys[] = {"a.key", "b.key", "c.key", "d.key", "e.key", "f.key"};

// The memory the OTLP span of the largest span holds.
uint64_t largest_span_bytes() {
    otel::otlp_span span;
    span.set_name("probe");
    const span_shape large = shape_of(0);
    for (int i = 0; i < large.texts; ++i) span.add_attribute(keys[i], *large.value);
    return span.content_bytes();
}

void trace(uint64_t n) {
    const span_shape shape = shape_of(n);
    const char* values[6];
    for (int i = 0; i < shape.texts; ++i) values[i] = shape.value->c_str();
    const quorin_handle_t span = quorin_ex_spantracer_create(0);
    quorin_ex_spantracer_set_operationname_p(span, "probe");
    quorin_ex_spantracer_set_strings_p(span, keys, values,
                                       reinterpret_cast<const void*>(uintptr_t(shape.texts)));
    quorin_tracer_start(span);
    quorin_tracer_end(span);
}

std::mutex warnings_mutex;
std::vector<std::string> warnings;

void on_warning(const char* text) {
    std::lock_guard<std::mutex> hold(warnings_mutex);
    warnings.emplace_back(text);
}

bool set_option(const std::string& text) {
    const std::u16string wide(text.begin(), text.end());
    std::vector<quorin_wchar_t> units(wide.begin(), wide.end());
    units.push_back(0);
    return quorin_stub_set_variable(units.data(), 1) == QUORIN_STATUS_OK;
}

double in_mib(uint64_t bytes) { return double(bytes) / double(mib); }

}  // namespace

int main(int argc, char** argv) {
    const bool by_bytes = argc > 1 && std::strcmp(argv[1], "bytes") == 0;
    if (argc < 2 || (!by_bytes && std::strcmp(argv[1], "spans") != 0)) {
        std::fprintf(stderr, "usage: otel_queue_memory spans|bytes [SPANS]\n");
        return 2;
    }
    const uint64_t total = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
    const uint64_t max_spans = by_bytes ? 65536 : 2048;
    const uint64_t max_bytes = by_bytes ? 4 * mib : uint64_t{1} << 40;
    constexpr uint64_t batch = 512;
    const uint64_t bound =
        by_bytes ? max_bytes + max_bytes / 4 : (max_spans + batch) * largest_span_bytes();

    bool set = set_option("home=" + std::string(QUORIN_OTEL_AGENT_HOME)) &&
               set_option("otel_endpoint=http://127.0.0.1:1") &&  // nothing listens there
               set_option("otel_timeout=1000") && set_option("otel_bsp_schedule_delay=100") &&
               set_option("otel_bsp_max_queue_size=" + std::to_string(max_spans)) &&
               set_option("otel_bsp_max_export_batch_size=" + std::to_string(batch)) &&
               set_option("otel_max_queue_bytes=" + std::to_string(max_bytes));
    if (!set || quorin_initialize() != QUORIN_STATUS_OK ||
        quorin_ex_api_enable_span() != QUORIN_STATUS_OK ||
        quorin_agent_set_warning_callback(&on_warning) != QUORIN_STATUS_OK) {
        std::fprintf(stderr, "the OpenTelemetry agent did not start\n");
        return 1;
    }
    const memory before = resident_memory();
    const auto started = std::chrono::steady_clock::now();
    std::atomic<uint64_t> next{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (uint64_t n; (n = next.fetch_add(1)) < total;) trace(n);
        });
    }
    for (std::thread& worker : workers) worker.join();
    const memory after = resident_memory();
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    size_t during;
    {
        std::lock_guard<std::mutex> hold(warnings_mutex);
        during = warnings.size();
    }
    quorin_shutdown();

    const uint64_t growth = after.peak > before.resident ? after.peak - before.resident : 0;
    std::printf(
        "%s: %llu spans in %.1f s, peak RSS growth %.1f MiB, queue bound %.1f MiB + "
        "%.1f MiB allowance\n",
        argv[1], static_cast<unsigned long long>(total), seconds.count(), in_mib(growth),
        in_mib(bound), in_mib(allowance));
    bool ok = true;
    if (after.peak == 0) {
        std::printf("FAIL: no resident memory figures\n");
        ok = false;
    } else if (growth > bound + allowance) {
        std::printf("FAIL: the growth passes the bound\n");
        ok = false;
    }
    // Rate-limited: one report per interval, and one when the run began.
    const size_t most = size_t(seconds / warning_interval) + 2;
    std::printf("%zu warnings while tracing (at most %zu)\n", during, most);
    if (during > most) ok = false;
    unsigned long long sent = 1, dropped = 0, refused = 0, failed = 0;
    const std::string last = warnings.empty() ? std::string() : warnings.back();
    const int read = std::sscanf(last.c_str(),
                                 "OpenTelemetry export at shutdown: %llu spans sent, %llu dropped, "
                                 "%llu refused, %llu not delivered",
                                 &sent, &dropped, &refused, &failed);
    std::printf("at release: %s\n", last.c_str());
    if (read != 4 || sent != 0 || dropped + refused + failed != total) {
        std::printf("FAIL: the line at release does not account for every span\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
