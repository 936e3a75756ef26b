#include "metric_aggregator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace otel {

namespace {
// A series key that no real dimension values produce.
const std::vector<std::string> overflow_key = {std::string("\0overflow", 9)};
}  // namespace

const std::vector<double>& metric_aggregator::default_bounds() {
    // OpenTelemetry's default explicit bucket bounds.
    static const std::vector<double> bounds = {0,   5,   10,   25,   50,   75,   100,  250,
                                               500, 750, 1000, 2500, 5000, 7500, 10000};
    return bounds;
}

uint64_t metric_aggregator::define(std::string name, std::string unit, instrument kind,
                                   bool floating, std::vector<std::string> dimension_names) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t id = next_id_++;
    metrics_.emplace(id, metric{std::move(name),
                                std::move(unit),
                                kind,
                                floating,
                                std::move(dimension_names),
                                false,
                                {}});
    return id;
}

void metric_aggregator::remove(uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = metrics_.find(id);
    if (found != metrics_.end()) found->second.removed = true;
}

metric_aggregator::series* metric_aggregator::updated_series(
    uint64_t id, std::span<const std::string_view> dimension_values, bool negative,
    uint64_t time_unix_nano) {
    const auto found = metrics_.find(id);
    if (found == metrics_.end() || found->second.removed) return nullptr;
    metric& m = found->second;
    if (m.kind == instrument::counter && negative) return nullptr;

    std::vector<std::string> key(m.dimension_names.size());
    for (size_t i = 0; i < key.size() && i < dimension_values.size(); ++i) {
        key[i] = dimension_values[i];
    }
    auto place = m.series_by_values.find(key);
    if (place == m.series_by_values.end()) {
        if (m.series_by_values.size() >= series_limit_) {
            place = m.series_by_values.try_emplace(overflow_key).first;
        } else {
            place = m.series_by_values.try_emplace(std::move(key)).first;
        }
    }
    series& s = place->second;
    if (s.start_unix_nano == 0) s.start_unix_nano = time_unix_nano;
    s.updated = true;
    return &s;
}

void metric_aggregator::add_statistic(series& s, double value) {
    const auto& bounds = default_bounds();
    if (s.buckets.empty()) s.buckets.assign(bounds.size() + 1, 0);
    // Buckets are (previous bound, bound]; the last one is unbounded.
    const size_t bucket =
        static_cast<size_t>(std::lower_bound(bounds.begin(), bounds.end(), value) - bounds.begin());
    ++s.buckets[bucket];
    s.min = s.count == 0 ? value : std::min(s.min, value);
    s.max = s.count == 0 ? value : std::max(s.max, value);
    ++s.count;
    s.sum += value;
}

bool metric_aggregator::update(uint64_t id, std::span<const std::string_view> dimension_values,
                               double value, uint64_t time_unix_nano) {
    if (!std::isfinite(value)) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    const auto found = metrics_.find(id);
    if (found != metrics_.end() && !found->second.floating) {
        // Beyond the int64 range a conversion would be undefined.
        if (std::fabs(value) >= 9.2e18) return false;
        lock.unlock();
        return update_integer(id, dimension_values, static_cast<int64_t>(value), time_unix_nano) !=
               update_result::rejected;
    }
    series* s = updated_series(id, dimension_values, value < 0, time_unix_nano);
    if (s == nullptr) return false;
    switch (found->second.kind) {
        case instrument::counter:
            // A sum stays finite.
            s->value = std::min(s->value + value, std::numeric_limits<double>::max());
            break;
        case instrument::gauge:
            s->value = value;
            break;
        case instrument::statistics:
            add_statistic(*s, value);
            break;
    }
    return true;
}

update_result metric_aggregator::update_integer(uint64_t id,
                                                std::span<const std::string_view> dimension_values,
                                                int64_t value, uint64_t time_unix_nano) {
    std::lock_guard<std::mutex> lock(mutex_);
    series* s = updated_series(id, dimension_values, value < 0, time_unix_nano);
    if (s == nullptr) return update_result::rejected;
    switch (metrics_.at(id).kind) {
        case instrument::counter: {
            // A sum past the largest int64 would wrap to a negative one.
            constexpr int64_t largest = std::numeric_limits<int64_t>::max();
            if (value <= largest - s->integer) {
                s->integer += value;
                break;
            }
            s->integer = largest;
            if (s->saturated) break;
            s->saturated = true;
            return update_result::saturated;
        }
        case instrument::gauge:
            s->integer = value;
            break;
        case instrument::statistics:
            add_statistic(*s, static_cast<double>(value));
            break;
    }
    return update_result::kept;
}

void metric_aggregator::add_point(const metric& m, const std::vector<std::string>& values,
                                  const series& s, uint64_t now, otlp_metric& out) const {
    std::vector<key_value> attributes;
    if (&values == &overflow_key || values == overflow_key) {
        attributes.push_back(key_value::of("otel.metric.overflow", true));
    } else {
        for (size_t i = 0; i < values.size(); ++i) {
            // A dimension the update left empty is no attribute of the point.
            if (!values[i].empty()) {
                attributes.push_back(key_value::of(m.dimension_names[i], values[i]));
            }
        }
    }
    if (m.kind == instrument::statistics) {
        histogram_point point;
        point.attributes = std::move(attributes);
        point.start_unix_nano = s.start_unix_nano;
        point.time_unix_nano = now;
        point.count = s.count;
        point.sum = s.sum;
        point.min = s.min;
        point.max = s.max;
        point.bounds = default_bounds();
        point.bucket_counts = s.buckets;
        out.histograms.push_back(std::move(point));
        return;
    }
    number_point point;
    point.attributes = std::move(attributes);
    // A gauge's value is of its moment: it has no start.
    point.start_unix_nano = m.kind == instrument::counter ? s.start_unix_nano : 0;
    point.time_unix_nano = now;
    point.floating = m.floating;
    point.value = s.value;
    point.integer = s.integer;
    out.numbers.push_back(std::move(point));
}

void metric_aggregator::collect(uint64_t now_unix_nano, std::vector<otlp_metric>& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = metrics_.begin(); it != metrics_.end();) {
        metric& m = it->second;
        otlp_metric exported;
        exported.name = m.name;
        exported.unit = m.unit;
        exported.type = m.kind == instrument::counter ? metric_type::sum
                        : m.kind == instrument::gauge ? metric_type::gauge
                                                      : metric_type::histogram;
        const bool delta = m.kind != instrument::gauge && sums_ == temporality::delta;
        exported.aggregation = delta ? temporality::delta : temporality::cumulative;
        for (auto& [values, s] : m.series_by_values) {
            if ((m.kind == instrument::gauge || delta) && !s.updated) continue;
            // A delta covers the time since the previous collection, or since the series began.
            if (delta && last_collection_unix_nano_ != 0) {
                s.start_unix_nano = last_collection_unix_nano_;
            }
            add_point(m, values, s, now_unix_nano, exported);
            s.updated = false;
        }
        // What a delta sent is not kept: the next update begins its series again.
        if (delta) m.series_by_values.clear();
        if (!exported.numbers.empty() || !exported.histograms.empty()) {
            out.push_back(std::move(exported));
        }
        it = m.removed ? metrics_.erase(it) : std::next(it);
    }
    last_collection_unix_nano_ = now_unix_nano;
}

}  // namespace otel
