// Slots for every tracer: start, end, errors, tags, in-process links, the trace context, and
// the agent-wide queries and callbacks.
#include <cstring>
#include <string>

#include "ids.h"
#include "slots.h"
#include "text.h"

namespace agent_core {

void warn_about_tracer(call& c, const char* what, quorin_handle_t handle) {
    c.warn(format("tracer %llu %s", static_cast<unsigned long long>(handle), what));
}

namespace {

// A tracer that received a tag before its start continues the tag's trace under the tag's
// span, wherever it starts. The output parses the tag as sent; the record keeps it printable.
void adopt_tag(call& c, quorin_handle_t handle, std::string_view tag, std::string_view printable,
               bool binary) {
    const tag_parts parts = binary ? tag_parts{tag, {}} : split_tag(tag);
    trace_context parent{};
    const bool parsed = c.core().output().parse_tag(parts.context, binary, &parent);
    std::string state;
    if (parsed && !parts.state.empty()) c.core().output().keep_trace_state(parts.state, &state);
    object_table::locked tracer = c.tracer(handle);
    if (!tracer) return;
    if (tracer->started) {
        c.warn("the tag arrived after the tracer started; it is recorded but does not link");
    }
    if (!parsed) {
        c.warn(format("'%.*s' is not a tag of this agent (%s)", static_cast<int>(printable.size()),
                      printable.data(), c.core().output().tag_form()));
    } else if (!tracer->started) {
        tracer->explicit_parent = tracer->has_parent = true;
        tracer->context = parent;
        tracer->parent = parent.span;
        set_trace_state(*tracer, state);
    }
    c.kept(*tracer, tracer->add_text(attribute_key::incoming_tag, printable));
}

// The tag of a started tracer; false (with a warning) when it has none.
bool outgoing_tag(call& c, quorin_handle_t handle, bool binary, char* tag, size_t* size) {
    trace_context context{};
    {
        object_table::locked tracer = c.tracer(handle);
        if (!tracer) return false;
        if (!tracer->started) {
            tracer.unlock();
            c.warn(format("tracer %llu has not started: it has no tag yet",
                          static_cast<unsigned long long>(handle)));
            return false;
        }
        context = tracer->context;
    }
    *size = c.core().output().write_tag(context, binary, tag);
    return true;
}

void write_id(char* buffer, size_t size, const uint8_t* id, size_t id_size) {
    if (buffer == nullptr || size == 0) return;
    if (size > 2 * id_size) {
        write_hex(id, id_size, buffer);
        buffer[2 * id_size] = 0;
    } else {
        buffer[0] = 0;
    }
}

}  // namespace

namespace slots {

void unused_slot(void* context) { call c(context, "slot 0"); }

uint32_t reserved_slot(void* context, uint32_t, uint32_t, uint64_t, uint64_t) {
    call c(context, "slot 2");
    return QUORIN_STATUS_NOT_IMPLEMENTED;
}

int32_t quorin_agent_get_current_state(void* context) {
    call c(context, "quorin_agent_get_current_state");
    return c ? 0 : 3;  // 0: tracing
}

int32_t quorin_agent_get_fork_state(void* context) {
    call c(context, "quorin_agent_get_fork_state");
    if (!c) return -1;
    return c.core().forked_child() ? 1 : 0;  // 1: a fork child of a traced process
}

void quorin_agent_set_logging_callback(void* context, quorin_agent_logging_callback callback) {
    call c(context, "quorin_agent_set_logging_callback");
    if (!c) return;
    c.core().logging_callback = callback;
    c.core().deliver_pending_notices();
}

quorin_status_t quorin_agent_set_warning_callback(void* context,
                                                  quorin_agent_logging_callback callback) {
    call c(context, "quorin_agent_set_warning_callback");
    if (!c) return c.refusal();
    c.core().warning_callback = callback;
    c.core().deliver_pending_notices();
    return QUORIN_STATUS_OK;
}

quorin_status_t quorin_agent_set_verbose_callback(void* context,
                                                  quorin_agent_logging_callback callback) {
    call c(context, "quorin_agent_set_verbose_callback");
    if (!c) return c.refusal();
    c.core().verbose_callback = callback;
    return QUORIN_STATUS_OK;
}

void quorin_tracer_start(void* context, quorin_handle_t handle) {
    call c(context, "quorin_tracer_start");
    c.detail("(%llu)", static_cast<unsigned long long>(handle));
    if (object_table::locked tracer = startable_tracer(c, handle)) {
        c.core().start(c, std::move(tracer), 0);
    }
}

void quorin_tracer_end(void* context, quorin_handle_t handle) {
    call c(context, "quorin_tracer_end");
    c.detail("(%llu)", static_cast<unsigned long long>(handle));
    end_tracer(c, handle, 0);
}

void quorin_tracer_error_p(void* context, quorin_handle_t handle, const void* error_class,
                           const void* error_message) {
    call c(context, "quorin_tracer_error_p");
    if (!c) return;
    const std::string_view type = c.text(error_class, "error class");
    const std::string_view message = c.text(error_message, "error message", false);
    object_table::locked tracer = c.tracer(handle);
    if (!tracer) return;
    tracer->has_error = true;
    tracer->error_type.assign(type);
    tracer->error_message.assign(message);
}

size_t quorin_tracer_get_outgoing_corvantis_string_tag(void* context, quorin_handle_t handle,
                                                       char* buffer, size_t buffer_size,
                                                       size_t* required_size) {
    call c(context, "quorin_tracer_get_outgoing_corvantis_string_tag");
    char tag[agent_output::tag_capacity];
    size_t size = 0;
    if (c && !outgoing_tag(c, handle, false, tag, &size)) size = 0;
    if (required_size != nullptr) *required_size = size + 1;
    if (buffer == nullptr || buffer_size == 0) return 0;
    if (buffer_size <= size) {
        buffer[0] = 0;
        return 0;
    }
    std::memcpy(buffer, tag, size);
    buffer[size] = 0;
    return size;
}

size_t quorin_tracer_get_outgoing_corvantis_byte_tag(void* context, quorin_handle_t handle,
                                                     unsigned char* buffer, size_t buffer_size,
                                                     size_t* required_size) {
    call c(context, "quorin_tracer_get_outgoing_corvantis_byte_tag");
    char tag[agent_output::tag_capacity];
    size_t size = 0;
    if (c && !outgoing_tag(c, handle, true, tag, &size)) size = 0;
    if (required_size != nullptr) *required_size = size;
    if (buffer == nullptr || buffer_size < size || size == 0) return 0;
    std::memcpy(buffer, tag, size);
    return size;
}

void quorin_tracer_set_incoming_corvantis_string_tag_p(void* context, quorin_handle_t handle,
                                                       const void* tag) {
    call c(context, "quorin_tracer_set_incoming_corvantis_string_tag_p");
    if (!c) return;
    if (tag == nullptr) {
        if (c.tracer(handle)) c.warn("the tag is a null pointer");
        return;
    }
    const std::string_view text = c.text(tag, "tag");
    adopt_tag(c, handle, text, text, false);
}

void quorin_tracer_set_incoming_corvantis_byte_tag(void* context, quorin_handle_t handle,
                                                   const unsigned char* tag, size_t tag_size) {
    call c(context, "quorin_tracer_set_incoming_corvantis_byte_tag");
    if (!c) return;
    if (tag == nullptr || tag_size == 0 || tag_size > text_limit) {
        if (c.tracer(handle)) {
            c.warn(format("a byte tag of %llu bytes at %p cannot be read",
                          static_cast<unsigned long long>(tag_size),
                          static_cast<const void*>(tag)));
        }
        return;
    }
    adopt_tag(c, handle, std::string_view(reinterpret_cast<const char*>(tag), tag_size),
              c.bytes(tag, tag_size), true);
}

size_t quorin_inprocesslink_create(void* context, uint64_t buffer, uint64_t buffer_size,
                                   size_t* required_size) {
    call c(context, "quorin_inprocesslink_create");
    const nesting_entry* current = c ? c.core().current(c) : nullptr;
    if (c && current == nullptr) c.warn("no tracer is started on this thread: the link is empty");
    char tag[agent_output::tag_capacity];
    size_t size =
        current != nullptr ? c.core().output().write_tag(current->context, false, tag) : 0;
    // The trace state goes with the context.
    std::string link;
    if (current != nullptr && current->has_trace_state) {
        if (object_table::locked tracer = c.core().objects.find(current->mark, current->handle)) {
            const std::string_view state = trace_state_of(*tracer);
            if (!state.empty()) {
                link.assign(tag, size);
                link += agent_output::trace_state_separator;
                link += state;
                size = link.size();
            }
        }
    }
    if (required_size != nullptr) *required_size = size;
    auto* out = reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(buffer));
    if (out == nullptr || buffer_size < size || size == 0) return 0;
    std::memcpy(out, link.empty() ? tag : link.data(), size);
    return size;
}

quorin_handle_t quorin_inprocesslinktracer_create(void* context, uint64_t link,
                                                  uint64_t link_size) {
    call c(context, "quorin_inprocesslinktracer_create");
    if (!c) return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(link));
    if (bytes == nullptr || link_size == 0 || link_size > text_limit) {
        c.warn(format("a link of %llu bytes at %p cannot be read",
                      static_cast<unsigned long long>(link_size), static_cast<const void*>(bytes)));
        return 0;
    }
    const std::string_view text = c.bytes(bytes, static_cast<size_t>(link_size));
    const tag_parts parts = split_tag(text);
    trace_context parent{};
    if (!c.core().output().parse_tag(parts.context, false, &parent)) {
        c.warn(format("'%.*s' is not a link made by this agent", static_cast<int>(text.size()),
                      text.data()));
        return 0;
    }
    record_ptr tracer = new_tracer(c, tracer_kind::in_process_link);
    tracer->explicit_parent = tracer->has_parent = true;
    tracer->context = parent;
    tracer->parent = parent.span;
    tracer->add_text(attribute_key::link, text);
    if (!parts.state.empty()) {
        std::string state;
        c.core().output().keep_trace_state(parts.state, &state);
        set_trace_state(*tracer, state);
    }
    return publish_tracer(c, std::move(tracer));
}

quorin_status_t quorin_tracecontext_get_current(void* context, char* trace_id, size_t trace_id_size,
                                                char* span_id, size_t span_id_size) {
    call c(context, "quorin_tracecontext_get_current");
    const nesting_entry* current = c ? c.core().current(c) : nullptr;
    const trace_context none{};
    const trace_context& ids = current != nullptr ? current->context : none;
    if (current != nullptr &&
        (trace_id == nullptr || trace_id_size <= 32 || span_id == nullptr || span_id_size <= 16)) {
        c.warn("the trace id needs 33 bytes and the span id 17");
        write_id(trace_id, trace_id_size, nullptr, 0);
        write_id(span_id, span_id_size, nullptr, 0);
        return QUORIN_STATUS_INVALID_ARGUMENT;
    }
    write_id(trace_id, trace_id_size, ids.trace.bytes, sizeof ids.trace.bytes);
    write_id(span_id, span_id_size, ids.span.bytes, sizeof ids.span.bytes);
    return current != nullptr ? QUORIN_STATUS_OK : QUORIN_STATUS_OK_NO_DATA;
}

}  // namespace slots
}  // namespace agent_core
