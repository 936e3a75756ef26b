// The exporter against the receiver: retries, permanent errors, an absent or hanging
// collector, the bounded queue, metrics, and many producers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "exporter_support.h"
#include "gzip.h"
#include "http_transport.h"
#include "otel_platform.h"

namespace {

using namespace std::chrono_literals;
using otel_test::queue_span;
using clock_type = std::chrono::steady_clock;

// Shutdown and flush are bounded by the export timeout; the slack covers a slow machine.
constexpr auto slack = 3s;

// Starts the exporter with ten spans queued, "s0" to "s9", and flushes them.
void send_ten_spans(otel::exporter& exporter) {
    exporter.start();
    for (char i = '0'; i <= '9'; ++i) ASSERT_TRUE(queue_span(exporter, std::string{'s', i}));
    EXPECT_TRUE(exporter.flush());
}

TEST(OtelExporter, RetriesWhatMaySucceedAndDeliversOnceButNeverRetriesPermanentErrors) {
    REQUIRE_RECEIVER(rx);
    enum class outcome { delivered, rejected, failed };
    struct row {
        const char* script;
        uint64_t attempts;
        outcome end;
    };
    const row rows[] = {
        {"503\n503\n503\n200", 4, outcome::delivered},
        {"429 retry-after=0\n502\n504\nclose\n200", 5, outcome::delivered},
        {"400", 1, outcome::rejected},
        {"500\n200", 1, outcome::rejected},
        {"503 retry-after=60", 1, outcome::failed},  // beyond the timeout: given up at once
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.script);
        rx.reset();
        rx.script(r.script);
        auto options = otel_test::options_for(rx);
        options.headers = {{"x-tenant", "blue"}};
        std::vector<std::string> warnings;
        options.warn = [&](const std::string& text) { warnings.push_back(text); };
        otel::exporter exporter(options);
        send_ten_spans(exporter);
        exporter.shutdown();

        const auto stats = exporter.stats();
        const auto requests = rx.requests();
        // libcurl itself sends once more when a reused connection was closed unanswered.
        EXPECT_LE(stats.attempts, r.attempts);
        EXPECT_EQ(requests.size(), r.attempts);
        EXPECT_EQ(stats.spans_exported, r.end == outcome::delivered ? 10u : 0u);
        EXPECT_EQ(stats.spans_rejected, r.end == outcome::rejected ? 10u : 0u);
        EXPECT_EQ(stats.spans_failed, r.end == outcome::failed ? 10u : 0u);
        const auto delivered = otel_test::delivered_span_names(requests);
        EXPECT_EQ(delivered.size(), r.end == outcome::delivered ? 10u : 0u);
        for (const auto& [name, times] : delivered) EXPECT_EQ(times, 1) << name;
        for (const auto& request : requests) {
            EXPECT_EQ(request.headers.at("x-tenant"), "blue");
            EXPECT_EQ(request.headers.at("content-type"), "application/x-protobuf");
        }
        // A loss is reported: once as it happens, once in the summary at shutdown.
        EXPECT_EQ(warnings.size(), r.end == outcome::delivered ? 0u : 2u);
    }
    EXPECT_EQ(rx.errors(), "");
}

TEST(OtelExporter, ReportsDeliveryAsTheCollectorAnsweredItAndNeverFollowsARedirect) {
    REQUIRE_RECEIVER(rx);
    struct row {
        const char* script;
        uint64_t sent, refused, failed, metrics_failed, points_refused;
        const char* reported;  // in the warning as it happens; "" for none
    };
    const row rows[] = {
        {"200", 10, 0, 0, 0, 0, ""},
        {"traces: 200 partial=3 message=spans too old", 7, 3, 0, 0, 0, "3 rejected: spans too old"},
        {"traces: 200 message=slow down", 10, 0, 0, 0, 0, "0 rejected: slow down"},
        {"metrics: 200 partial=2 message=bad points", 10, 0, 0, 0, 2, "2 rejected: bad points"},
        {"traces: 400 code=3 message=span 7 invalid", 0, 10, 0, 0, 0, ": span 7 invalid"},
        {"metrics: 401 always", 10, 0, 0, 1, 0, "HTTP 401 from http://127.0.0.1:"},
        {"traces: 200 body=65537", 0, 10, 0, 0, 0, "larger than the limit"},
        {"traces: 307 redirect", 0, 10, 0, 0, 0, ": redirect to 127.0.0.1:"},
        // Each date form is understood: a minute is past the timeout, so they are given up.
        {"traces: 503 retry-after-date=imf+60", 0, 0, 10, 0, 0, "HTTP 503"},
        {"traces: 503 retry-after-date=rfc850+60", 0, 0, 10, 0, 0, "HTTP 503"},
        {"traces: 503 retry-after-date=asctime+60", 0, 0, 10, 0, 0, "HTTP 503"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.script);
        rx.reset();
        rx.script(r.script);
        auto options = otel_test::options_for(rx);
        bool collected = false;  // one metrics request
        options.collect_metrics = [&](std::vector<otel::otlp_metric>& out) {
            if (std::exchange(collected, true)) return;
            otel::otlp_metric metric;
            metric.name = "requests";
            metric.numbers.push_back({{}, 1, 2, false, 1, 0});
            out.push_back(metric);
        };
        std::vector<std::string> warnings;
        options.warn = [&](const std::string& text) { warnings.push_back(text); };
        otel::exporter exporter(options);
        send_ten_spans(exporter);
        const size_t reported = *r.reported != 0 ? 1 : 0;
        ASSERT_EQ(warnings.size(), reported);  // reported as it happened
        if (reported) {
            EXPECT_NE(warnings[0].find(r.reported), std::string::npos) << warnings[0];
        }
        // A loss at the release, within the warning interval, is reported in its one line.
        rx.script("traces: 400");
        ASSERT_TRUE(queue_span(exporter, "late"));
        exporter.shutdown();

        const auto stats = exporter.stats();
        EXPECT_EQ(stats.spans_exported, r.sent);
        EXPECT_EQ(stats.spans_rejected, r.refused + 1);
        EXPECT_EQ(stats.spans_failed, r.failed);
        EXPECT_EQ(stats.metric_requests_failed, r.metrics_failed);
        EXPECT_EQ(stats.metric_points_rejected, r.points_refused);
        EXPECT_EQ(stats.attempts, 3u);  // nothing retried
        EXPECT_EQ(rx.redirected(), 0);
        ASSERT_EQ(warnings.size(), reported + 1);
        for (const std::string& text : warnings) {
            // Neither the endpoint's path, the Location's secrets nor raw bytes of a body.
            EXPECT_EQ(text.find("secret"), std::string::npos) << text;
            EXPECT_EQ(text.find("/v1/"), std::string::npos) << text;
            EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) {
                return c >= 0 && c < 0x20;
            })) << text;
        }
        unsigned sent = 0, dropped = 0, refused = 0, failed = 0, metrics = 0, points = 0;
        EXPECT_EQ(std::sscanf(warnings.back().c_str(),
                              "OpenTelemetry export at shutdown: %u spans sent, %u dropped, "
                              "%u refused, %u not delivered; %u metric requests not "
                              "delivered, %u metric data points refused",
                              &sent, &dropped, &refused, &failed, &metrics, &points),
                  6)
            << warnings.back();
        EXPECT_EQ(refused, r.refused + 1);
        EXPECT_EQ(metrics, r.metrics_failed);
        EXPECT_EQ(points, r.points_refused);
        EXPECT_NE(warnings.back().find("last error: HTTP 400 from http://127.0.0.1:"),
                  std::string::npos);
    }
    EXPECT_EQ(rx.errors(), "");
}

TEST(OtelExporter, AnAbsentOrHangingCollectorHoldsUpFlushAndShutdownOnlyForTheTimeout) {
    REQUIRE_RECEIVER(rx);
    struct row {
        const char* what;
        const char* answer;  // the receiver's; none: nothing listens
    };
    for (const row& r :
         {row{"connection refused", nullptr}, row{"hang", "hang"}, row{"trickle", "200 trickle"},
          row{"chunked trickle", "200 trickle chunked"}}) {
        SCOPED_TRACE(r.what);
        rx.reset();
        auto options = otel_test::options_for(rx, 800ms);
        if (r.answer == nullptr) {
            options.traces_endpoint = *otel::parse_url("http://127.0.0.1:1/v1/traces");
        } else {
            rx.script(std::string(r.answer) + " always");
        }
        otel::exporter exporter(options);
        exporter.start();
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(queue_span(exporter, "s"));
        auto started = clock_type::now();
        exporter.flush();
        EXPECT_LT(clock_type::now() - started, options.timeout + slack);
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(queue_span(exporter, "t"));
        started = clock_type::now();
        exporter.shutdown();
        EXPECT_LT(clock_type::now() - started, options.timeout + slack);
        const auto stats = exporter.stats();
        EXPECT_EQ(stats.spans_exported, 0u);
        EXPECT_EQ(stats.spans_failed + stats.spans_dropped, 10u);
        EXPECT_FALSE(queue_span(exporter, "after shutdown"));
    }
    rx.reset();
}

// Polls until the condition holds; false when it still does not after the bound.
template <typename condition>
bool eventually(condition holds, std::chrono::seconds bound = 30s) {
    const auto give_up = clock_type::now() + bound;
    while (!holds()) {
        if (clock_type::now() > give_up) return false;
        std::this_thread::yield();
    }
    return true;
}

// One request has one deadline over all its phases, and an abort from another thread ends it
// at once, whether the collector says nothing or sends its answer a byte a second.
TEST(OtelTransport, TheDeadlineOrAnAbortEndsARequestTheCollectorHoldsUp) {
    REQUIRE_RECEIVER(rx);
    const otel::url target = rx.endpoint("/v1/traces");
    for (const char* script : {"hang", "200 trickle", "200 trickle chunked"}) {
        for (const bool abort : {false, true}) {
            SCOPED_TRACE(std::string(script) + (abort ? ", aborted" : ", deadline"));
            rx.reset();
            rx.script(script);
            otel::http_transport transport;
            otel::http_request request;
            request.target = &target;
            request.body = "";  // an empty export request
            const auto started = clock_type::now();
            request.deadline = started + (abort ? 60s : 2s);
            std::thread aborter;
            if (abort) {
                aborter = std::thread([&] {
                    eventually([&] { return !rx.requests().empty(); });
                    transport.abort();
                });
            }
            const otel::http_response response = transport.post(request);
            const auto took = clock_type::now() - started;
            if (aborter.joinable()) aborter.join();
            EXPECT_LT(took, 2s + slack);
            EXPECT_EQ(response.status, 0);
            EXPECT_FALSE(response.error.empty());
            EXPECT_EQ(rx.requests().size(), 1u);
            if (abort) {
                EXPECT_EQ(transport.post(request).error, "aborted");  // and every later one
            }
        }
    }
    rx.reset();
}

TEST(OtelExporter, ACollectorThatRestartsGetsEverySpanTheQueueHeldExactlyOnce) {
    REQUIRE_RECEIVER(rx);
    auto options = otel_test::options_for(rx, 30s);
    options.max_queue_size = 300;
    options.max_export_batch_size = 100;  // a full batch leaves for the exporter at once
    otel::exporter exporter(options);
    exporter.start();
    // A connection is open, and kept, when the collector goes away.
    ASSERT_TRUE(queue_span(exporter, "before"));
    ASSERT_TRUE(exporter.flush());
    rx.down();
    std::set<std::string> queued = {"before"};
    for (int i = 0; i < 1000; ++i) {
        const std::string name = std::to_string(i) + "s";
        const uint64_t dropped = exporter.stats().spans_dropped;
        if (queue_span(exporter, name) && exporter.stats().spans_dropped == dropped) {
            queued.insert(name);
        }
    }
    // The batch under way is refused and retried while the collector is away.
    EXPECT_TRUE(eventually([&] { return exporter.stats().attempts >= 4; }));
    rx.up();
    EXPECT_TRUE(exporter.flush());
    exporter.shutdown();

    const auto stats = exporter.stats();
    EXPECT_GT(queued.size(), 300u);  // the queue, and the batch under way
    EXPECT_EQ(stats.spans_exported, queued.size());
    EXPECT_EQ(stats.spans_dropped, 1001 - queued.size());
    EXPECT_EQ(stats.spans_failed, 0u);
    const auto delivered = otel_test::delivered_span_names(rx.requests());
    EXPECT_EQ(delivered.size(), queued.size());
    for (const auto& [name, times] : delivered) {
        EXPECT_EQ(times, 1) << name;
        EXPECT_EQ(queued.count(name), 1u) << name;
    }
    EXPECT_EQ(rx.errors(), "");
}

// The exporter's threads run below the application while the queue has room, at its priority
// from the moment the queue passes its high-water mark (three quarters) until it is back under.
TEST(OtelExporter, RunsAtTheApplicationsPriorityOnlyWhileItsQueueIsAboveTheMark) {
    REQUIRE_RECEIVER(rx);
    using otel::thread_priority;
    auto options = otel_test::options_for(rx, 30s);
    options.max_queue_size = 200;
    options.max_export_batch_size = 20;
    otel::exporter exporter(options);
    exporter.start();
    ASSERT_TRUE(queue_span(exporter, "before"));
    ASSERT_TRUE(exporter.flush());
    EXPECT_EQ(exporter.priority(), thread_priority::below_application);
    // The collector stops taking requests: two batches wait in the exporter, the queue fills.
    rx.down();
    for (int i = 0; i < 400; ++i) queue_span(exporter, std::to_string(i) + "s");
    EXPECT_TRUE(eventually([&] { return exporter.priority() == thread_priority::application; }));
    rx.up();
    EXPECT_TRUE(exporter.flush());
    EXPECT_TRUE(
        eventually([&] { return exporter.priority() == thread_priority::below_application; }));
    exporter.shutdown();
    EXPECT_EQ(exporter.stats().spans_failed, 0u);
}

TEST(OtelExporter, TheQueueDropsTheNewestPastItsBoundsAndMakesEachSpanOnItsThreadOnce) {
    REQUIRE_RECEIVER(rx);
    otel_test::sources.made_while_submitting = 0;
    otel_test::sources.released = 0;
    auto options = otel_test::options_for(rx);
    options.max_queue_size = 4;
    options.max_export_batch_size = 4;
    options.max_queue_bytes = 1000;
    {
        otel::exporter exporter(options);
        // Not started: nothing leaves the queue. A dropped span's source stays with the
        // producer (queue_span frees it), and is counted.
        const struct {
            const char* name;
            size_t bytes;
            bool queued;
        } rows[] = {
            {"larger than the bound", 1001, false},
            {"kept0", 100, true},
            {"kept1", 100, true},
            {"kept2", 100, true},
            {"past the bytes", 701, false},
            {"kept3", 100, true},
            {"past the spans", 1, false},
            {"past the spans", 1, false},
        };
        for (const auto& r : rows)
            EXPECT_EQ(queue_span(exporter, r.name, r.bytes), r.queued) << r.name;
        EXPECT_EQ(exporter.stats().spans_dropped, 4u);
        EXPECT_EQ(otel_test::sources.released.load(), 0);
        exporter.start();
        EXPECT_TRUE(exporter.flush());
        const auto names = otel_test::delivered_span_names(rx.requests());
        EXPECT_EQ(names, (std::map<std::string, int>{
                             {"kept0", 1}, {"kept1", 1}, {"kept2", 1}, {"kept3", 1}}));
        EXPECT_EQ(otel_test::sources.made_while_submitting.load(), 0);
        EXPECT_EQ(otel_test::sources.released.load(), 4);
        // The sent spans gave their room back; one queued at the shutdown is let go as well.
        ASSERT_TRUE(queue_span(exporter, "at shutdown", 1000));
    }
    EXPECT_EQ(otel_test::sources.released.load(), 5);
}

TEST(OtelExporter, MetricsAreCollectedAndSentOnFlush) {
    REQUIRE_RECEIVER(rx);
    auto options = otel_test::options_for(rx);
    std::atomic<int> collections{0};
    options.collect_metrics = [&](std::vector<otel::otlp_metric>& out) {
        otel::otlp_metric metric;
        metric.name = "requests";
        metric.numbers.push_back({{}, 1, 2, false, ++collections, 0});
        out.push_back(metric);
    };
    otel::exporter exporter(options);
    exporter.start();
    EXPECT_TRUE(exporter.flush());
    const auto requests = rx.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/v1/metrics");
    EXPECT_EQ(
        requests[0].field("resourceMetrics.0.scopeMetrics.0.metrics.0.sum.dataPoints.0.asInt"),
        "1");
    EXPECT_EQ(exporter.stats().metric_requests_exported, 1u);
}

TEST(OtelExporterConcurrency, ManyProducersAndFlushesLoseOrDoubleNothing) {
    REQUIRE_RECEIVER(rx);
    auto options = otel_test::options_for(rx);
    options.max_queue_size = 1u << 16;
    options.max_export_batch_size = 100;  // batches are sent as they fill
    otel::exporter exporter(options);
    exporter.start();
    constexpr int producers = 4, per_producer = 1500;
    std::atomic<bool> producing{true};
    std::thread flusher([&] {
        while (producing.load()) exporter.flush();
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < producers; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < per_producer; ++i) {
                queue_span(exporter, std::to_string(t) + "." + std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    producing = false;
    flusher.join();
    exporter.shutdown();
    const auto stats = exporter.stats();
    EXPECT_EQ(stats.spans_exported + stats.spans_dropped, uint64_t{producers * per_producer});
    const auto names = otel_test::delivered_span_names(rx.requests());
    EXPECT_EQ(names.size(), stats.spans_exported);
    for (const auto& [name, times] : names) ASSERT_EQ(times, 1) << name;
}

}  // namespace

namespace {

// Metrics for one request, at the first collection.
std::function<void(std::vector<otel::otlp_metric>&)> one_metric_request() {
    return [collected = false](std::vector<otel::otlp_metric>& out) mutable {
        if (std::exchange(collected, true)) return;
        out.emplace_back().name = "requests";
        out.back().numbers.push_back({{}, 1, 2, false, 1, 0});
    };
}

TEST(OtelExporter, EachSignalsRequestsCarryItsOwnHeadersAndEncoding) {
    REQUIRE_RECEIVER(rx);
    auto options = otel_test::options_for(rx);
    options.traces.compression = otel::compression::gzip;
    options.headers = {{"x-tenant", "blue"}};
    options.metrics.headers = {{{"x-metrics-key", "m"}}};
    options.collect_metrics = one_metric_request();
    otel::exporter exporter(options);
    exporter.start();
    // Two bodies: the second goes through the reused zlib stream and buffer, in several slices
    // of input (its long names make it over twice gzip_compressor::compress_slice).
    for (int i = 0; i < 100; ++i) {
        const std::string padding(i < 50 ? 0 : 800, 'x');
        ASSERT_TRUE(queue_span(exporter, "GET /orders/" + std::to_string(i) + padding));
        if (i % 50 == 49) {
            ASSERT_TRUE(exporter.flush());
        }
    }
    exporter.shutdown();
    EXPECT_EQ(exporter.stats().spans_exported, 100u);
    const auto requests = rx.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& r : requests) {
        const bool traces = r.path.ends_with("/v1/traces");
        EXPECT_EQ(r.headers.count("x-tenant") + r.headers.count("content-encoding"),
                  traces ? 2u : 0u);
        EXPECT_EQ(r.headers.count("x-metrics-key"), traces ? 0u : 1u);
        // The receiver decoded every body; those gzipped arrived smaller.
        EXPECT_EQ(r.bytes * 2 < r.decoded, traces) << r.bytes << " " << r.decoded;
    }
    EXPECT_GT(std::max(requests[0].decoded, requests[2].decoded),
              2 * otel::gzip_compressor::compress_slice);
    EXPECT_EQ(rx.errors(), "");
}

TEST(OtelExporter, EachSignalHasItsTimeoutAndTheReleaseEndsWithoutOne) {
    REQUIRE_RECEIVER(rx);
    rx.script("traces: hang always");
    auto options = otel_test::options_for(rx, 60s);
    options.traces.timeout = 300ms;
    options.collect_metrics = one_metric_request();
    {
        otel::exporter exporter(options);
        exporter.start();
        ASSERT_TRUE(queue_span(exporter, "s"));
        const auto started = clock_type::now();
        EXPECT_TRUE(exporter.flush());  // the spans given up after their own timeout
        EXPECT_LT(clock_type::now() - started, 300ms + slack);
        EXPECT_EQ(exporter.stats().spans_failed, 1u);
        EXPECT_EQ(exporter.stats().metric_requests_exported, 1u);  // under the generic timeout
    }
    // No limit for one export: the release still ends, after ten seconds.
    options.traces.timeout = 0ms;
    options.timeout = 200ms;
    options.collect_metrics = nullptr;
    otel::exporter exporter(options);
    exporter.start();
    ASSERT_TRUE(queue_span(exporter, "s"));
    const auto started = clock_type::now();
    exporter.shutdown();
    EXPECT_GE(clock_type::now() - started, 9s);  // not the generic 200 ms
    EXPECT_LT(clock_type::now() - started, 10s + slack);
    EXPECT_EQ(exporter.stats().spans_failed + exporter.stats().spans_dropped, 1u);
    rx.reset();
}

}  // namespace

namespace {

std::string file_text(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

// A path in the temporary folder that this process alone uses.
std::string scratch_path(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("quorin-" + name + "-" + std::to_string(otel::current_process_id())))
        .string();
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

TEST(OtelExporter, TheSwitchesChooseOtlpAndConsoleForEachSignalAndTheFileGetsBoth) {
    REQUIRE_RECEIVER(rx);
    struct row {
        bool traces_otlp, traces_console, metrics_otlp, metrics_console;
        bool file;
    };
    const row rows[] = {
        {false, false, false, false, true},  // none: only the file
        {true, true, false, true, false},    // otlp,console and console
        {false, true, true, false, true},
    };
    const std::string path = scratch_path("exporter.jsonl");
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.traces_otlp) + std::to_string(r.traces_console) +
                     std::to_string(r.metrics_otlp) + std::to_string(r.metrics_console) +
                     std::to_string(r.file));
        std::remove(path.c_str());
        rx.reset();
        auto options = otel_test::options_for(rx);
        options.traces.otlp = r.traces_otlp;
        options.traces.console = r.traces_console;
        options.metrics.otlp = r.metrics_otlp;
        options.metrics.console = r.metrics_console;
        if (r.file) options.file.path = path;
        // Metrics at the flush, none at the release.
        options.collect_metrics = [collected = false](std::vector<otel::otlp_metric>& out) mutable {
            if (std::exchange(collected, true)) return;
            otel::otlp_metric metric;
            metric.name = "requests";
            metric.numbers.push_back({{}, 1, 2, false, 1, 0});
            out.push_back(metric);
        };
        testing::internal::CaptureStderr();
        {
            otel::exporter exporter(options);
            send_ten_spans(exporter);
            exporter.shutdown();
            EXPECT_EQ(exporter.stats().file_lines_written, r.file ? 2u : 0u);
        }
        const std::string console = testing::internal::GetCapturedStderr();
        const auto requests = rx.requests();
        const auto sent = [&](const char* target) {
            return std::count_if(requests.begin(), requests.end(),
                                 [&](const auto& q) { return q.path == target; });
        };
        EXPECT_EQ(sent("/v1/traces"), r.traces_otlp ? 1 : 0);
        EXPECT_EQ(sent("/v1/metrics"), r.metrics_otlp ? 1 : 0);
        EXPECT_EQ(occurrences(console, "{\"resourceSpans\":["), r.traces_console ? 1u : 0u);
        EXPECT_EQ(occurrences(console, "{\"resourceMetrics\":["), r.metrics_console ? 1u : 0u);
        EXPECT_EQ(occurrences(console, "\n"), size_t(r.traces_console) + r.metrics_console);
        const std::string lines = file_text(path);
        EXPECT_EQ(occurrences(lines, "\n"), r.file ? 2u : 0u);
        EXPECT_EQ(occurrences(lines, "\"spanId\""), r.file ? 10u : 0u);
        EXPECT_EQ(occurrences(lines, "\"name\":\"requests\""), r.file ? 1u : 0u);
    }
    std::remove(path.c_str());
}

TEST(OtelExporter, AFileThatCannotBeOpenedIsReportedAndCountedAtTheRelease) {
    REQUIRE_RECEIVER(rx);
    auto options = otel_test::options_for(rx);
    options.file.path = scratch_path("no-such-folder") + "/t.jsonl";
    std::vector<std::string> warnings;
    options.warn = [&](const std::string& text) { warnings.push_back(text); };
    otel::exporter exporter(options);
    send_ten_spans(exporter);
    exporter.shutdown();
    EXPECT_EQ(exporter.stats().spans_exported, 10u);  // OTLP goes on
    EXPECT_EQ(exporter.stats().file_lines_lost, 1u);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("1 lines not written to the file; the file '"), std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[1].find("0 lines written to the file, 1 not written (the file '"),
              std::string::npos)
        << warnings[1];
}
