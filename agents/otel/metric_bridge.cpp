#include "metric_bridge.h"

#include <cmath>

namespace otel_agent {

namespace {

otel::instrument instrument_of(agent_core::metric_kind kind) {
    switch (kind) {
        case agent_core::metric_kind::counter:
            return otel::instrument::counter;
        case agent_core::metric_kind::gauge:
            return otel::instrument::gauge;
        case agent_core::metric_kind::statistics:
            break;
    }
    return otel::instrument::statistics;
}

}  // namespace

bool metric_bridge::update(const agent_core::metric_event& event, uint64_t now_unix_nano,
                           std::string* notice) {
    std::string name(event.group);
    name.append(".").append(event.key);
    std::lock_guard<std::mutex> hold(mutex_);
    if (forked_) reset_locked();
    identity id{name, event.kind, event.floating, std::string(event.unit)};
    auto found = ids_.find(id);
    if (found == ids_.end()) {
        if (ids_.size() >= metric_limit) {
            if (!limit_reported_) {
                limit_reported_ = true;
                *notice = "OpenTelemetry agent: more than " + std::to_string(metric_limit) +
                          " metrics; updates of '" + name + "' and further metrics are dropped";
            }
            return false;
        }
        const uint64_t defined =
            aggregator_->define(name, std::string(event.unit), instrument_of(event.kind),
                                event.floating, {"dimension"});
        found = ids_.emplace(std::move(id), defined).first;
    }
    const std::string_view dimension[] = {event.dimension};
    otel::update_result result;
    std::string value;
    // Integers stay integers: a double would round those past 2^53.
    if (event.floating) {
        result = aggregator_->update(found->second, dimension, event.floating_value, now_unix_nano)
                     ? otel::update_result::kept
                     : otel::update_result::rejected;
        value = std::isfinite(event.floating_value) ? std::to_string(event.floating_value)
                                                    : std::string("a non-finite value");
    } else {
        result =
            aggregator_->update_integer(found->second, dimension, event.integer, now_unix_nano);
        value = std::to_string(event.integer);
    }
    switch (result) {
        case otel::update_result::kept:
            return true;
        case otel::update_result::saturated:
            *notice = "OpenTelemetry agent: the sum of '" + name +
                      "' passed the largest value it can hold; it stays at that value";
            return true;
        case otel::update_result::rejected:
            break;
    }
    *notice = "OpenTelemetry agent: the update of '" + name + "' by " + value +
              " is not a value this metric can take; it is dropped";
    return false;
}

void metric_bridge::collect(uint64_t now_unix_nano, std::vector<otel::otlp_metric>& out) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (forked_) reset_locked();
    aggregator_->collect(now_unix_nano, out);
}

void metric_bridge::reset(otel::temporality sums) {
    std::lock_guard<std::mutex> hold(mutex_);
    sums_ = sums;
    reset_locked();
}

void metric_bridge::reset_locked() {
    aggregator_ = std::make_unique<otel::metric_aggregator>(
        otel::metric_aggregator::default_series_limit, sums_);
    ids_.clear();
    limit_reported_ = false;
    forked_ = false;
}

}  // namespace otel_agent
