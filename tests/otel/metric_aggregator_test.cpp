// Aggregation of the metrics interface's updates into the points of an export interval.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string_view>

#include "metric_aggregator.h"

namespace {

using values = std::vector<std::string_view>;

TEST(MetricAggregator, SumsGaugesAndHistogramsPerDimensionValues) {
    otel::metric_aggregator metrics;
    const uint64_t orders =
        metrics.define("orders", "1", otel::instrument::counter, false, {"region"});
    const uint64_t depth = metrics.define("depth", "", otel::instrument::gauge, true, {});
    const uint64_t latency =
        metrics.define("latency", "ms", otel::instrument::statistics, true, {"route", "verb"});
    EXPECT_TRUE(metrics.update(orders, values{"eu"}, 2, 100));
    EXPECT_TRUE(metrics.update(orders, values{"eu"}, 3, 200));
    EXPECT_TRUE(metrics.update(orders, values{"us"}, 1, 300));
    EXPECT_FALSE(metrics.update(orders, values{"eu"}, -1, 300));  // counters only grow
    EXPECT_TRUE(metrics.update(depth, {}, 4.5, 100));
    EXPECT_TRUE(metrics.update(depth, {}, 1.5, 200));
    EXPECT_FALSE(metrics.update(depth, {}, std::nan(""), 200));
    for (double v : {5.0, 7.0, 20000.0}) EXPECT_TRUE(metrics.update(latency, values{"/a"}, v, 50));
    EXPECT_FALSE(metrics.update(999, {}, 1, 1));

    std::vector<otel::otlp_metric> out;
    metrics.collect(1000, out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].type, otel::metric_type::sum);
    ASSERT_EQ(out[0].numbers.size(), 2u);
    EXPECT_EQ(out[0].numbers[0].integer, 5);
    EXPECT_EQ(out[0].numbers[0].start_unix_nano, 100u);
    EXPECT_EQ(out[0].numbers[0].time_unix_nano, 1000u);
    EXPECT_EQ(out[0].numbers[0].attributes[0], otel::key_value::of("region", std::string("eu")));
    EXPECT_EQ(out[0].numbers[1].integer, 1);
    ASSERT_EQ(out[1].numbers.size(), 1u);
    EXPECT_DOUBLE_EQ(out[1].numbers[0].value, 1.5);
    const otel::histogram_point& h = out[2].histograms.at(0);
    EXPECT_EQ(h.attributes.size(), 1u);  // "verb" was not given: no attribute
    EXPECT_EQ(h.count, 3u);
    EXPECT_DOUBLE_EQ(h.sum, 20012);
    EXPECT_DOUBLE_EQ(h.min, 5);
    EXPECT_DOUBLE_EQ(h.max, 20000);
    EXPECT_EQ(h.bucket_counts.size(), h.bounds.size() + 1);
    EXPECT_EQ(h.bucket_counts[1], 1u);      // (0, 5]
    EXPECT_EQ(h.bucket_counts[2], 1u);      // (5, 10]
    EXPECT_EQ(h.bucket_counts.back(), 1u);  // beyond the last bound

    // Sums stay cumulative; a gauge not set again has nothing to report; a removed metric
    // reports once more, then never.
    metrics.remove(orders);
    out.clear();
    metrics.collect(2000, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].numbers[0].integer, 5);
    EXPECT_EQ(out[1].name, "latency");
    EXPECT_FALSE(metrics.update(orders, values{"eu"}, 1, 2100));
    out.clear();
    metrics.collect(3000, out);
    ASSERT_EQ(out.size(), 1u);
}

TEST(MetricAggregator, SeriesBeyondTheLimitGoToOneOverflowSeries) {
    otel::metric_aggregator metrics(2);
    const uint64_t hits = metrics.define("hits", "", otel::instrument::counter, false, {"user"});
    for (std::string_view user : {"a", "b", "c", "d", "a"}) {
        metrics.update(hits, values{user}, 1, 1);
    }
    std::vector<otel::otlp_metric> out;
    metrics.collect(2, out);
    ASSERT_EQ(out.at(0).numbers.size(), 3u);
    const otel::number_point& overflow = out[0].numbers[0];  // its key sorts first
    EXPECT_EQ(overflow.attributes.at(0), otel::key_value::of("otel.metric.overflow", true));
    EXPECT_EQ(overflow.integer, 2);
}

}  // namespace
