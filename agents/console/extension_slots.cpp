// Slots of the extension interfaces: metrics, span tracers, process technologies, timed
// tracers and the serverless flush.
#include <cinttypes>

#include "slots.h"
#include "text.h"
#include "trace_line.h"

namespace console {
namespace {

quorin_handle_t create_metric(void* context, const char* function, metric_kind kind, bool floating,
                              const void* group, const void* key, const void* unit) {
    call c(context, function);
    if (!c) return 0;
    object value{};
    value.kind = object_kind::metric;
    value.metric = {kind, floating, c.text(group, "metric group") + "/" + c.text(key, "metric key"),
                    c.text(unit, "unit", false)};
    const quorin_handle_t handle = c.state().add(std::move(value));
    c.detail(" -> metric " + handle_text(handle));
    return handle;
}

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

// One line per update: "metric <kind> <group>/<key> <operation> <value> [unit] [dimension=...]".
void update_metric(void* context, const char* function, metric_kind kind, bool floating,
                   quorin_handle_t handle, const std::string& value, const void* dimension) {
    call c(context, function);
    const object* metric = c ? c.find(handle, object_kind::metric, "metric") : nullptr;
    if (metric == nullptr) return;
    if (metric->metric.kind != kind || metric->metric.floating != floating) {
        c.warn("metric " + handle_text(handle) + " is of kind '" +
               metric_kind_name(metric->metric.kind, metric->metric.floating) + "', not '" +
               metric_kind_name(kind, floating) + "'");
        return;
    }
    static const char* const operations[] = {"+=", "=", "<-"};
    std::string line = std::string("metric ") + metric_kind_name(kind, floating) + " " +
                       metric->metric.name + " " + operations[static_cast<int>(kind)] + " " + value;
    if (!metric->metric.unit.empty()) line += " " + metric->metric.unit;
    const std::string dimension_text = c.text(dimension, "dimension", false);
    if (!dimension_text.empty()) line += "  dimension=" + quoted_if_needed(dimension_text);
    c.state().write_line(line);
}

std::string integer_text(int64_t value) { return format("%" PRId64, value); }
std::string float_text(double value) { return format("%g", value); }

// Span attributes: parallel arrays of keys (UTF-8 texts) and values of one type.
template <typename Value, typename Print>
void set_span_values(void* context, const char* function, quorin_handle_t handle, const void* keys,
                     const void* values, const void* count, Print print) {
    call c(context, function);
    tracer_record* span = c ? c.tracer(handle, {tracer_kind::span}) : nullptr;
    uint64_t entries = 0;
    if (span == nullptr || !c.count(count, &entries) || entries == 0) return;
    if (keys == nullptr || values == nullptr) {
        c.warn("the keys or the values are a null pointer");
        return;
    }
    const auto* key_texts = static_cast<const char* const*>(keys);
    const auto* items = static_cast<const Value*>(values);
    for (uint64_t i = 0; i < entries; ++i) {
        if (key_texts[i] == nullptr) {
            c.warn(format("key %llu is a null pointer", static_cast<unsigned long long>(i)));
            continue;
        }
        span->attributes.push_back({printable_text(key_texts[i]), print(items[i])});
    }
}

}  // namespace

namespace slots {

void quorin_metric_delete(void* context, quorin_handle_t handle) {
    call c(context, "quorin_metric_delete");
    if (c && c.find(handle, object_kind::metric, "metric") != nullptr) c.state().remove(handle);
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
    update_metric(context, "quorin_integercountermetric_increase_by_p", metric_kind::counter, false,
                  metric, integer_text(value), dimension);
}

void quorin_floatcountermetric_increase_by_p(void* context, quorin_handle_t metric, double value,
                                             const void* dimension) {
    update_metric(context, "quorin_floatcountermetric_increase_by_p", metric_kind::counter, true,
                  metric, float_text(value), dimension);
}

void quorin_integergaugemetric_set_value_p(void* context, quorin_handle_t metric, int64_t value,
                                           const void* dimension) {
    update_metric(context, "quorin_integergaugemetric_set_value_p", metric_kind::gauge, false,
                  metric, integer_text(value), dimension);
}

void quorin_floatgaugemetric_set_value_p(void* context, quorin_handle_t metric, double value,
                                         const void* dimension) {
    update_metric(context, "quorin_floatgaugemetric_set_value_p", metric_kind::gauge, true, metric,
                  float_text(value), dimension);
}

void quorin_integerstatisticsmetric_add_value_p(void* context, quorin_handle_t metric,
                                                int64_t value, const void* dimension) {
    update_metric(context, "quorin_integerstatisticsmetric_add_value_p", metric_kind::statistics,
                  false, metric, integer_text(value), dimension);
}

void quorin_floatstatisticsmetric_add_value_p(void* context, quorin_handle_t metric, double value,
                                              const void* dimension) {
    update_metric(context, "quorin_floatstatisticsmetric_add_value_p", metric_kind::statistics,
                  true, metric, float_text(value), dimension);
}

quorin_handle_t quorin_ex_spantracer_create(void* context, int32_t span_kind) {
    call c(context, "quorin_ex_spantracer_create");
    if (!c) return 0;
    static const char* const kinds[] = {"internal", "server", "client", "producer", "consumer"};
    std::string kind = span_kind >= 0 && span_kind < 5 ? kinds[span_kind] : "";
    if (kind.empty()) {
        c.warn(format("span kind %d is not one of 0 to 4", span_kind));
        kind = format("%d", span_kind);
    }
    return create_tracer(c, tracer_kind::span, "", {{"kind", kind}});
}

void quorin_ex_spantracer_set_ids_p(void* context, quorin_handle_t span, const void* trace_id,
                                    const void* span_id, const void* parent_span_id) {
    call c(context, "quorin_ex_spantracer_set_ids_p");
    tracer_record* tracer = c ? c.tracer(span, {tracer_kind::span}) : nullptr;
    if (tracer == nullptr) return;
    tracer->attributes.push_back({"trace_id", c.text(trace_id, "trace id")});
    tracer->attributes.push_back({"span_id", c.text(span_id, "span id")});
    const std::string parent = c.text(parent_span_id, "parent span id", false);
    if (!parent.empty()) tracer->attributes.push_back({"parent_span_id", parent});
}

void quorin_ex_spantracer_set_integers_p(void* context, quorin_handle_t span, const void* keys,
                                         const void* values, const void* count) {
    set_span_values<int64_t>(context, "quorin_ex_spantracer_set_integers_p", span, keys, values,
                             count, integer_text);
}

void quorin_ex_spantracer_set_doubles_p(void* context, quorin_handle_t span, const void* keys,
                                        const void* values, const void* count) {
    set_span_values<double>(context, "quorin_ex_spantracer_set_doubles_p", span, keys, values,
                            count, float_text);
}

void quorin_ex_spantracer_set_floats_p(void* context, quorin_handle_t span, const void* keys,
                                       const void* values, const void* count) {
    set_span_values<float>(context, "quorin_ex_spantracer_set_floats_p", span, keys, values, count,
                           [](float value) { return float_text(value); });
}

void quorin_ex_spantracer_set_bools_p(void* context, quorin_handle_t span, const void* keys,
                                      const void* values, const void* count) {
    // One byte per value, as C's bool; any non-zero byte is true.
    set_span_values<unsigned char>(
        context, "quorin_ex_spantracer_set_bools_p", span, keys, values, count,
        [](unsigned char value) { return std::string(value != 0 ? "true" : "false"); });
}

void quorin_ex_spantracer_set_strings_p(void* context, quorin_handle_t span, const void* keys,
                                        const void* values, const void* count) {
    set_span_values<const char*>(context, "quorin_ex_spantracer_set_strings_p", span, keys, values,
                                 count, [](const char* value) { return printable_text(value); });
}

void quorin_ex_spantracer_set_operationname_p(void* context, quorin_handle_t span,
                                              const void* name) {
    call c(context, "quorin_ex_spantracer_set_operationname_p");
    tracer_record* tracer = c ? c.tracer(span, {tracer_kind::span}) : nullptr;
    if (tracer != nullptr) tracer->title = c.text(name, "operation name");
}

void quorin_ex_agent_add_process_technology_p(void* context, int32_t type, const void* edition,
                                              const void* version) {
    call c(context, "quorin_ex_agent_add_process_technology_p");
    if (!c) return;
    c.state().write_line(format("process technology %d", type) +
                         "  edition=" + quoted_if_needed(c.text(edition, "edition", false)) +
                         "  version=" + quoted_if_needed(c.text(version, "version", false)));
}

uint64_t quorin_ex_tracer_start_2(void* context, quorin_handle_t handle, uint64_t start_us,
                                  uint64_t reserved) {
    call c(context, "quorin_ex_tracer_start_2");
    tracer_record* tracer = c ? c.tracer(handle) : nullptr;
    if (tracer == nullptr) return 0;
    if (reserved != 0) c.warn(format("the third argument is %" PRIu64 ", not 0", reserved));
    if (tracer->started) {
        c.warn("tracer " + handle_text(handle) + " was started already");
        return 0;
    }
    const uint64_t start = start_us != 0 ? start_us : now_microseconds();
    c.state().start_tracer(handle, *tracer, start);
    return start;
}

void quorin_ex_tracer_end_timed(void* context, quorin_handle_t handle, uint64_t end_us) {
    call c(context, "quorin_ex_tracer_end_timed");
    tracer_record* tracer = c ? c.tracer(handle) : nullptr;
    if (tracer == nullptr) return;
    if (!tracer->started) c.warn("tracer " + handle_text(handle) + " ended without a start");
    uint64_t end = end_us != 0 ? end_us : now_microseconds();
    if (tracer->started && end < tracer->start_us) {
        c.warn("the end time lies before the start time");
        end = tracer->start_us;
    }
    c.state().end_tracer(handle, end);
}

void quorin_ex_agent_force_send_data_now(void* context) {
    call c(context, "quorin_ex_agent_force_send_data_now");
    // Every line is flushed when written: there is nothing more to send.
}

}  // namespace slots
}  // namespace console
