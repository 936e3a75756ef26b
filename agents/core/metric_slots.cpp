// Slots of the metrics interface: a metric is created once and updated by value, each update
// handed to the output with the metric's description and the dimension.
#include <type_traits>

#include "slots.h"
#include "text.h"

namespace agent_core {
namespace {

const char* metric_kind_name(metric_kind kind, bool floating) {
    switch (kind) {
        case metric_kind::counter:
            return floating ? "float counter" : "integer counter";
        case metric_kind::gauge:
            return floating ? "float gauge" : "integer gauge";
        case metric_kind::statistics:
            return floating ? "float statistics" : "integer statistics";
    }
    return "metric";
}

quorin_handle_t create_metric(void* context, const char* function, metric_kind kind, bool floating,
                              const void* group, const void* key, const void* unit) {
    call c(context, function);
    if (!c) return 0;
    record_ptr metric = c.new_record(object_kind::metric);
    metric->metric = kind;
    metric->floating = floating;
    c.add_text(*metric, attribute_key::metric_group, group, "metric group");
    c.add_text(*metric, attribute_key::metric_key, key, "metric key");
    c.add_text(*metric, attribute_key::metric_unit, unit, "unit", false);
    const quorin_handle_t handle = c.core().publish(c, std::move(metric));
    c.detail(" -> metric %llu", static_cast<unsigned long long>(handle));
    return handle;
}

// Copies the metric's description into the call's buffers, so that the output receives it
// without the metric's lock.
bool describe(call& c, quorin_handle_t handle, metric_kind kind, bool floating,
              metric_event* event) {
    object_table::locked metric = c.find(handle, object_kind::metric, "metric");
    if (!metric) return false;
    if (metric->metric != kind || metric->floating != floating) {
        const char* actual = metric_kind_name(metric->metric, metric->floating);
        metric.unlock();
        c.warn(format("metric %llu is of kind '%s', not '%s'",
                      static_cast<unsigned long long>(handle), actual,
                      metric_kind_name(kind, floating)));
        return false;
    }
    std::string_view* parts[] = {&event->group, &event->key, &event->unit};
    for (size_t i = 0; i < 3; ++i) {
        std::string& copy = c.thread().texts.next();
        copy.assign(metric->attribute(i).text);
        *parts[i] = copy;
    }
    return true;
}

template <typename Value>
void update_metric(void* context, const char* function, metric_kind kind, quorin_handle_t handle,
                   Value value, const void* dimension) {
    call c(context, function);
    if (!c) return;
    constexpr bool floating = std::is_floating_point_v<Value>;
    metric_event event{handle, kind, floating, {}, {}, {}, {}, 0, 0};
    if (!describe(c, handle, kind, floating, &event)) return;
    event.dimension = c.text(dimension, "dimension", false);
    if constexpr (floating) {
        event.floating_value = value;
    } else {
        event.integer = value;
    }
    c.write_warnings();
    c.core().output().metric_updated(event);
}

}  // namespace

namespace slots {

void quorin_metric_delete(void* context, quorin_handle_t handle) {
    call c(context, "quorin_metric_delete");
    if (!c) return;
    if (object_table::locked metric = c.find(handle, object_kind::metric, "metric")) {
        c.core().remove(c, std::move(metric));
    }
}

quorin_handle_t quorin_integercountermetric_create_p(void* context, const void* group,
                                                     const void* key, const void* unit) {
    return create_metric(context, "quorin_integercountermetric_create_p", metric_kind::counter,
                         false, group, key, unit);
}

quorin_handle_t quorin_floatcountermetric_create_p(void* context, const void* group,
                                                   const void* key, const void* unit) {
    return create_metric(context, "quorin_floatcountermetric_create_p", metric_kind::counter, true,
                         group, key, unit);
}

quorin_handle_t quorin_integergaugemetric_create_p(void* context, const void* group,
                                                   const void* key, const void* unit) {
    return create_metric(context, "quorin_integergaugemetric_create_p", metric_kind::gauge, false,
                         group, key, unit);
}

quorin_handle_t quorin_floatgaugemetric_create_p(void* context, const void* group, const void* key,
                                                 const void* unit) {
    return create_metric(context, "quorin_floatgaugemetric_create_p", metric_kind::gauge, true,
                         group, key, unit);
}

quorin_handle_t quorin_integerstatisticsmetric_create_p(void* context, const void* group,
                                                        const void* key, const void* unit) {
    return create_metric(context, "quorin_integerstatisticsmetric_create_p",
                         metric_kind::statistics, false, group, key, unit);
}

quorin_handle_t quorin_floatstatisticsmetric_create_p(void* context, const void* group,
                                                      const void* key, const void* unit) {
    return create_metric(context, "quorin_floatstatisticsmetric_create_p", metric_kind::statistics,
                         true, group, key, unit);
}

void quorin_integercountermetric_increase_by_p(void* context, quorin_handle_t metric, int64_t value,
                                               const void* dimension) {
    update_metric(context, "quorin_integercountermetric_increase_by_p", metric_kind::counter,
                  metric, value, dimension);
}

void quorin_floatcountermetric_increase_by_p(void* context, quorin_handle_t metric, double value,
                                             const void* dimension) {
    update_metric(context, "quorin_floatcountermetric_increase_by_p", metric_kind::counter, metric,
                  value, dimension);
}

void quorin_integergaugemetric_set_value_p(void* context, quorin_handle_t metric, int64_t value,
                                           const void* dimension) {
    update_metric(context, "quorin_integergaugemetric_set_value_p", metric_kind::gauge, metric,
                  value, dimension);
}

void quorin_floatgaugemetric_set_value_p(void* context, quorin_handle_t metric, double value,
                                         const void* dimension) {
    update_metric(context, "quorin_floatgaugemetric_set_value_p", metric_kind::gauge, metric, value,
                  dimension);
}

void quorin_integerstatisticsmetric_add_value_p(void* context, quorin_handle_t metric,
                                                int64_t value, const void* dimension) {
    update_metric(context, "quorin_integerstatisticsmetric_add_value_p", metric_kind::statistics,
                  metric, value, dimension);
}

void quorin_floatstatisticsmetric_add_value_p(void* context, quorin_handle_t metric, double value,
                                              const void* dimension) {
    update_metric(context, "quorin_floatstatisticsmetric_add_value_p", metric_kind::statistics,
                  metric, value, dimension);
}

}  // namespace slots
}  // namespace agent_core
