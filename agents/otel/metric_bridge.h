// The application's metrics on their way to OTLP: each update goes to the aggregator of the
// current export interval, under the metric's name "<group>.<key>" and with its dimension as
// the attribute "dimension". Metrics of one name, kind and unit share their series, whichever
// handle updates them, so deleting and creating a metric again continues it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "metric_aggregator.h"
#include "trace_model.h"

namespace otel_agent {

class metric_bridge {
  public:
    // Distinct metrics kept; updates of further ones are dropped, with one notice.
    static constexpr size_t metric_limit = 1000;

    // False when the update was not kept. *notice, when set, is for the application: why, or
    // that a counter's sum stopped at its largest value (once per series).
    bool update(const agent_core::metric_event& event, uint64_t now_unix_nano, std::string* notice);
    // The metrics of the interval that ended (the exporter thread).
    void collect(uint64_t now_unix_nano, std::vector<otel::otlp_metric>& out);
    // Forgets every metric (a new session); sums and histograms are sent as `sums` from now on.
    void reset(otel::temporality sums = otel::temporality::cumulative);

    // Fork: held from before the fork until after it, so no thread is inside the aggregator.
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    // In a fork child: the parent sends its series, the child's start again from zero at the
    // next update or collection (nothing is allocated or freed in the fork handler).
    void forget_after_fork() { forked_ = true; }

  private:
    void reset_locked();

    using identity = std::tuple<std::string, agent_core::metric_kind, bool, std::string>;

    std::mutex mutex_;
    std::unique_ptr<otel::metric_aggregator> aggregator_ =
        std::make_unique<otel::metric_aggregator>();
    std::map<identity, uint64_t> ids_;
    bool limit_reported_ = false;
    bool forked_ = false;
    otel::temporality sums_ = otel::temporality::cumulative;
};

}  // namespace otel_agent
