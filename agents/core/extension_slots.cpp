// Slots of the span, process technology, timed tracer and serverless interfaces.
#include <cinttypes>

#include "entries.h"
#include "ids.h"
#include "slots.h"
#include "text.h"

namespace agent_core {
namespace {

// Span attributes: parallel arrays of keys (UTF-8 texts) and values of one type.
template <typename Value>
void set_span_values(void* context, const char* function, quorin_handle_t span, const void* keys,
                     const void* values, const void* count) {
    call c(context, function);
    add_pairs<Value, tracer_kind::span, attribute_key::span_attribute>(c, span, keys, values,
                                                                       count);
}

// Ids given before the start name the span: it continues the given trace under the given
// parent (or begins it), wherever it starts.
void adopt_ids(call& c, object_record& tracer, std::string_view trace, std::string_view own,
               std::string_view parent) {
    if (tracer.started) {
        c.warn("the ids arrived after the span started; they are recorded but do not name it");
        return;
    }
    trace_context given{};
    span_id parent_id{};
    if (!parse_hex_id(trace, given.trace.bytes, sizeof given.trace.bytes) ||
        !parse_hex_id(own, given.span.bytes, sizeof given.span.bytes) ||
        (!parent.empty() && !parse_hex_id(parent, parent_id.bytes, sizeof parent_id.bytes))) {
        c.warn(
            "the ids are not 32, 16 and 16 hex digits (not all zero); they are recorded but "
            "do not name the span");
        return;
    }
    given.flags = 1;
    tracer.context = given;
    tracer.explicit_parent = tracer.given_ids = true;
    tracer.has_parent = !parent.empty();
    tracer.parent = parent_id;
}

}  // namespace

namespace slots {

quorin_handle_t quorin_ex_spantracer_create(void* context, int32_t span_kind) {
    call c(context, "quorin_ex_spantracer_create");
    if (!c) return 0;
    if (span_kind < 0 || span_kind > 4)
        c.warn(format("span kind %d is not one of 0 to 4", span_kind));
    record_ptr span = new_tracer(c, tracer_kind::span);
    span->add_integer(attribute_key::span_kind, span_kind);
    return publish_tracer(c, std::move(span));
}

void quorin_ex_spantracer_set_ids_p(void* context, quorin_handle_t span, const void* trace_id,
                                    const void* span_id, const void* parent_span_id) {
    call c(context, "quorin_ex_spantracer_set_ids_p");
    if (!c) return;
    const std::string_view trace = c.text(trace_id, "trace id");
    const std::string_view own = c.text(span_id, "span id");
    const std::string_view parent = c.text(parent_span_id, "parent span id", false);
    object_table::locked tracer = c.tracer(span, {tracer_kind::span});
    if (!tracer) return;
    bool kept = tracer->add_text(attribute_key::span_trace_id, trace) &&
                tracer->add_text(attribute_key::span_span_id, own);
    if (kept && !parent.empty())
        kept = tracer->add_text(attribute_key::span_parent_span_id, parent);
    adopt_ids(c, *tracer, trace, own, parent);
    c.kept(*tracer, kept);
}

void quorin_ex_spantracer_set_integers_p(void* context, quorin_handle_t span, const void* keys,
                                         const void* values, const void* count) {
    set_span_values<int64_t>(context, "quorin_ex_spantracer_set_integers_p", span, keys, values,
                             count);
}

void quorin_ex_spantracer_set_doubles_p(void* context, quorin_handle_t span, const void* keys,
                                        const void* values, const void* count) {
    set_span_values<double>(context, "quorin_ex_spantracer_set_doubles_p", span, keys, values,
                            count);
}

void quorin_ex_spantracer_set_floats_p(void* context, quorin_handle_t span, const void* keys,
                                       const void* values, const void* count) {
    set_span_values<float>(context, "quorin_ex_spantracer_set_floats_p", span, keys, values, count);
}

void quorin_ex_spantracer_set_bools_p(void* context, quorin_handle_t span, const void* keys,
                                      const void* values, const void* count) {
    set_span_values<unsigned char>(context, "quorin_ex_spantracer_set_bools_p", span, keys, values,
                                   count);
}

void quorin_ex_spantracer_set_strings_p(void* context, quorin_handle_t span, const void* keys,
                                        const void* values, const void* count) {
    set_span_values<const char*>(context, "quorin_ex_spantracer_set_strings_p", span, keys, values,
                                 count);
}

void quorin_ex_spantracer_set_operationname_p(void* context, quorin_handle_t span,
                                              const void* name) {
    call c(context, "quorin_ex_spantracer_set_operationname_p");
    if (!c) return;
    const std::string_view text = c.text(name, "operation name");
    if (object_table::locked tracer = c.tracer(span, {tracer_kind::span})) {
        tracer->operation_name.assign(text);
    }
}

void quorin_ex_agent_add_process_technology_p(void* context, int32_t type, const void* edition,
                                              const void* version) {
    call c(context, "quorin_ex_agent_add_process_technology_p");
    if (!c) return;
    const std::string_view edition_text = c.text(edition, "edition", false);
    const std::string_view version_text = c.text(version, "version", false);
    c.write_warnings();
    c.core().output().process_technology_added(type, edition_text, version_text);
}

uint64_t quorin_ex_tracer_start_2(void* context, quorin_handle_t handle, uint64_t start_us,
                                  uint64_t reserved) {
    call c(context, "quorin_ex_tracer_start_2");
    object_table::locked tracer = startable_tracer(c, handle);
    if (!tracer) return 0;
    if (reserved != 0) c.warn(format("the third argument is %" PRIu64 ", not 0", reserved));
    const uint64_t start = start_us != 0 ? start_us : now_microseconds();
    c.core().start(c, std::move(tracer), start);
    return start;
}

void quorin_ex_tracer_end_timed(void* context, quorin_handle_t handle, uint64_t end_us) {
    call c(context, "quorin_ex_tracer_end_timed");
    end_tracer(c, handle, end_us);
}

void quorin_ex_agent_force_send_data_now(void* context) {
    call c(context, "quorin_ex_agent_force_send_data_now");
    if (c) c.core().output().send_requested();
}

}  // namespace slots
}  // namespace agent_core
