// The metrics of an export interval: counters, gauges and statistics as the application
// updates them, kept per metric and per set of dimension values, and handed to the exporter
// as OTLP sums (monotonic), gauges (the last value of the interval) and histograms (with
// explicit bounds). Sums and histograms are cumulative, or delta: each collection then sends
// what the series updated since the previous one, which starts at that collection's time,
// and forgets the series. The series of one metric are bounded (per interval, for delta):
// past the limit, updates go to one overflow series marked otel.metric.overflow=true.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "otlp_model.h"

namespace otel {

enum class instrument { counter, gauge, statistics };

// saturated: a counter's sum reached the largest int64 and stays there; said once per series.
enum class update_result { kept, rejected, saturated };

class metric_aggregator {
  public:
    static constexpr size_t default_series_limit = 2000;
    explicit metric_aggregator(size_t series_limit = default_series_limit,
                               temporality sums = temporality::cumulative)
        : series_limit_(series_limit), sums_(sums) {}

    // Returns the metric's id. Dimension names become the attribute keys of its points.
    uint64_t define(std::string name, std::string unit, instrument kind, bool floating,
                    std::vector<std::string> dimension_names);
    // Its series are reported once more at the next collection, then forgotten.
    void remove(uint64_t metric);

    // dimension_values pairs with the metric's dimension names (missing or empty ones are no
    // attribute of the point). An integer metric's value is a whole number in the int64 range
    // (exact up to 2^53: integer metrics take update_integer). False for an unknown metric, a
    // negative counter increase, or a non-finite value, which change nothing.
    bool update(uint64_t metric, std::span<const std::string_view> dimension_values, double value,
                uint64_t time_unix_nano);
    // An integer metric's value, exact over the whole int64 range.
    update_result update_integer(uint64_t metric,
                                 std::span<const std::string_view> dimension_values, int64_t value,
                                 uint64_t time_unix_nano);

    // Appends the metrics updated so far (gauges: those set in this interval) as of `now`.
    void collect(uint64_t now_unix_nano, std::vector<otlp_metric>& out);

    static const std::vector<double>& default_bounds();

  private:
    struct series {
        uint64_t start_unix_nano = 0;
        bool updated = false;  // in this interval
        double value = 0;      // counter: the sum; gauge: the last value
        int64_t integer = 0;   // the same for integer metrics, without rounding the sum
        bool saturated = false;
        uint64_t count = 0;  // statistics
        double sum = 0, min = 0, max = 0;
        std::vector<uint64_t> buckets;
    };
    struct metric {
        std::string name, unit;
        instrument kind;
        bool floating;
        std::vector<std::string> dimension_names;
        bool removed = false;
        std::map<std::vector<std::string>, series> series_by_values;
    };
    // The series of the values under lock, made on its first update; null for an unknown
    // metric or a negative counter increase.
    series* updated_series(uint64_t metric, std::span<const std::string_view> dimension_values,
                           bool negative, uint64_t time_unix_nano);
    static void add_statistic(series& s, double value);
    void add_point(const metric& m, const std::vector<std::string>& values, const series& s,
                   uint64_t now, otlp_metric& out) const;

    const size_t series_limit_;
    const temporality sums_;  // and histograms
    uint64_t last_collection_unix_nano_ = 0;
    std::mutex mutex_;
    uint64_t next_id_ = 1;
    std::map<uint64_t, metric> metrics_;
};

}  // namespace otel
