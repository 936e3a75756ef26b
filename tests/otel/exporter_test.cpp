// The exporter against the receiver: retries, permanent errors, an absent or hanging
// collector, the bounded queue, metrics, and many producers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "exporter_support.h"

namespace {

using namespace std::chrono_literals;
using otel_test::queue_span;
using clock_type = std::chrono::steady_clock;

// Shutdown and flush are bounded by the export timeout; the slack covers a slow machine.
constexpr auto slack = 3s;

TEST(OtelExporter, RetriesWhatMaySucceedAndDeliversOnceButNeverRetriesPermanentErrors) {
    REQUIRE_RECEIVER(rx);
    struct row {
        const char* script;
        uint64_t attempts;
        bool delivered;
    };
    const row rows[] = {
        {"503\n503\n503\n200", 4, true},
        {"429 retry-after=0\n502\n504\nclose\n200", 5, true},
        {"400", 1, false},
        {"500\n200", 1, false},
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
        exporter.start();
        for (int i = 0; i < 10; ++i) ASSERT_TRUE(queue_span(exporter, "s" + std::to_string(i)));
        EXPECT_TRUE(exporter.flush());
        exporter.shutdown();

        const auto stats = exporter.stats();
        const auto requests = rx.requests();
        // libcurl itself sends once more when a reused connection was closed unanswered.
        EXPECT_LE(stats.attempts, r.attempts);
        EXPECT_EQ(requests.size(), r.attempts);
        EXPECT_EQ(stats.spans_exported, r.delivered ? 10u : 0u);
        EXPECT_EQ(stats.spans_rejected, r.delivered ? 0u : 10u);
        const auto delivered = otel_test::delivered_span_names(requests);
        EXPECT_EQ(delivered.size(), r.delivered ? 10u : 0u);
        for (const auto& [name, times] : delivered) EXPECT_EQ(times, 1) << name;
        for (const auto& request : requests) {
            EXPECT_EQ(request.headers.at("x-tenant"), "blue");
            EXPECT_EQ(request.headers.at("content-type"), "application/x-protobuf");
        }
        // A refusal is reported: once as it happens, once in the summary at shutdown.
        EXPECT_EQ(warnings.size(), r.delivered ? 0u : 2u);
    }
    EXPECT_EQ(rx.errors(), "");
}

TEST(OtelExporter, RetryAfterBeyondTheTimeoutGivesUpAtOnce) {
    REQUIRE_RECEIVER(rx);
    rx.script("503 retry-after=60");
    otel::exporter exporter(otel_test::options_for(rx, 2s));
    exporter.start();
    ASSERT_TRUE(queue_span(exporter, "s"));
    EXPECT_TRUE(exporter.flush());
    EXPECT_EQ(exporter.stats().attempts, 1u);
    EXPECT_EQ(exporter.stats().spans_failed, 1u);
}

TEST(OtelExporter, AnAbsentOrHangingCollectorHoldsUpFlushAndShutdownOnlyForTheTimeout) {
    REQUIRE_RECEIVER(rx);
    struct row {
        const char* what;
        bool refused;  // else the receiver accepts and never answers
    };
    for (const row& r : {row{"connection refused", true}, row{"hang", false}}) {
        SCOPED_TRACE(r.what);
        rx.reset();
        auto options = otel_test::options_for(rx, 800ms);
        if (r.refused) {
            options.traces_endpoint = *otel::parse_url("http://127.0.0.1:1/v1/traces");
        } else {
            rx.script("hang\nhang\nhang\nhang\nhang\nhang\nhang\nhang");
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

TEST(OtelExporter, AFullQueueDropsTheNewestSpansAndCountsThem) {
    REQUIRE_RECEIVER(rx);
    auto options = otel_test::options_for(rx);
    options.max_queue_size = 4;
    options.max_export_batch_size = 4;
    otel::exporter exporter(options);
    // Not started: nothing leaves the queue.
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(queue_span(exporter, "kept" + std::to_string(i)));
    for (int i = 0; i < 3; ++i) queue_span(exporter, "dropped");
    EXPECT_EQ(exporter.stats().spans_dropped, 3u);
    exporter.start();
    EXPECT_TRUE(exporter.flush());
    const auto names = otel_test::delivered_span_names(rx.requests());
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(names.count("dropped"), 0u);

    // The byte bound: one span larger than all the queue may hold is dropped too.
    options.max_queue_bytes = 4096;
    otel::exporter small(options);
    otel::otlp_span* big = small.acquire();
    ASSERT_NE(big, nullptr);
    big->add_attribute("payload", std::string(8192, 'x'));
    small.submit(big);
    EXPECT_EQ(small.stats().spans_dropped, 1u);
    EXPECT_TRUE(queue_span(small, "small"));
}

// What a producer hands over unmade: a name, and the memory it claims to hold.
struct unmade_span {
    std::string name;
    size_t bytes;
};
std::atomic<int> unmade_released{0}, made_on_producer{0};
std::thread::id producer;

const otel::deferred_span_hooks unmade_hooks{
    [](const void* source) { return static_cast<const unmade_span*>(source)->bytes; },
    [](const void* source, otel::otlp_span& span) {
        if (std::this_thread::get_id() == producer) made_on_producer.fetch_add(1);
        span.set_name(static_cast<const unmade_span*>(source)->name);
    },
    [](void* source) {
        unmade_released.fetch_add(1);
        delete static_cast<unmade_span*>(source);
    },
};

// Submits a deferred span; a dropped one stays with the caller, which frees it.
bool queue_unmade(otel::exporter& exporter, const std::string& name, size_t bytes = 100) {
    auto* source = new unmade_span{name, bytes};
    if (exporter.submit_deferred(source)) return true;
    delete source;
    return false;
}

TEST(OtelExporter, DeferredSpansAreMadeOnTheExporterThreadAndEachSourceIsLetGoOnce) {
    REQUIRE_RECEIVER(rx);
    producer = std::this_thread::get_id();
    unmade_released = 0, made_on_producer = 0;
    auto options = otel_test::options_for(rx);
    options.max_queue_size = 4;
    options.max_export_batch_size = 4;
    options.max_queue_bytes = 1000;
    options.deferred = unmade_hooks;
    {
        otel::exporter exporter(options);
        // Not started: nothing leaves the queue. Past the bound in spans or in bytes the
        // source stays with the producer.
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue_unmade(exporter, "kept" + std::to_string(i)));
        EXPECT_FALSE(queue_unmade(exporter, "too large", 901));
        ASSERT_TRUE(queue_unmade(exporter, "kept3"));
        EXPECT_FALSE(queue_unmade(exporter, "dropped"));
        EXPECT_EQ(exporter.stats().spans_dropped, 2u);
        EXPECT_EQ(unmade_released.load(), 0);
        exporter.start();
        EXPECT_TRUE(exporter.flush());
        const auto names = otel_test::delivered_span_names(rx.requests());
        EXPECT_EQ(names, (std::map<std::string, int>{
                             {"kept0", 1}, {"kept1", 1}, {"kept2", 1}, {"kept3", 1}}));
        EXPECT_EQ(made_on_producer.load(), 0);
        EXPECT_EQ(unmade_released.load(), 4);
        // Queued at the shutdown: let go as well.
        ASSERT_TRUE(queue_unmade(exporter, "at shutdown"));
    }
    EXPECT_EQ(unmade_released.load(), 5);
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
