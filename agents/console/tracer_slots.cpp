// Slots for every tracer: start, end, errors, tags, in-process links, the trace context, and
// the agent-wide queries and callbacks.
#include <cstring>

#include "slots.h"
#include "text.h"

namespace console {

quorin_handle_t create_tracer(call& c, tracer_kind kind, std::string title,
                              std::vector<attribute> attributes) {
    object value{};
    value.kind = object_kind::tracer;
    value.tracer.kind = kind;
    value.tracer.title = std::move(title);
    value.tracer.attributes = std::move(attributes);
    const quorin_handle_t handle = c.state().add(std::move(value));
    c.detail(" -> tracer " + handle_text(handle));
    return handle;
}

std::string handle_text(quorin_handle_t handle) {
    return format("%llu", static_cast<unsigned long long>(handle));
}

std::string tag_of(const tracer_record& tracer) { return tracer.trace_id + "-" + tracer.span_id; }

bool parse_tag(const std::string& tag, std::string* trace_id) {
    if (tag.size() != 32 + 1 + 16 || tag[32] != '-') return false;
    for (size_t i = 0; i < tag.size(); ++i) {
        if (i == 32) continue;
        const char c = tag[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    *trace_id = tag.substr(0, 32);
    return true;
}

namespace {

void adopt_tag(call& c, tracer_record& tracer, const std::string& tag) {
    if (tracer.started) {
        c.warn("the tag arrived after the tracer started; it is recorded but does not link");
    }
    std::string trace_id;
    if (!parse_tag(tag, &trace_id)) {
        c.warn("'" + tag + "' is not a tag of this agent (<32 hex digits>-<16 hex digits>)");
    } else if (!tracer.started) {
        tracer.adopted_trace_id = trace_id;
    }
    tracer.attributes.push_back({"incoming_tag", tag});
}

// A started tracer whose tag can be handed out, or null.
const tracer_record* tagged_tracer(call& c, quorin_handle_t handle) {
    const tracer_record* tracer = c.tracer(handle);
    if (tracer != nullptr && !tracer->started) {
        c.warn("tracer " + handle_text(handle) + " has not started: it has no tag yet");
        return nullptr;
    }
    return tracer;
}

void write_id(char* buffer, size_t size, const std::string& id) {
    if (buffer == nullptr || size == 0) return;
    if (size > id.size()) {
        std::memcpy(buffer, id.c_str(), id.size() + 1);
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
    return c ? 0 : -1;  // 0: this process was not forked from a traced parent
}

void quorin_agent_set_logging_callback(void* context, quorin_agent_logging_callback callback) {
    call c(context, "quorin_agent_set_logging_callback");
    c.state().logging_callback = callback;
}

quorin_status_t quorin_agent_set_warning_callback(void* context,
                                                  quorin_agent_logging_callback callback) {
    call c(context, "quorin_agent_set_warning_callback");
    c.state().warning_callback = callback;
    return QUORIN_STATUS_OK;
}

quorin_status_t quorin_agent_set_verbose_callback(void* context,
                                                  quorin_agent_logging_callback callback) {
    call c(context, "quorin_agent_set_verbose_callback");
    c.state().verbose_callback = callback;
    return QUORIN_STATUS_OK;
}

void quorin_tracer_start(void* context, quorin_handle_t handle) {
    call c(context, "quorin_tracer_start");
    c.detail(format("(%llu)", static_cast<unsigned long long>(handle)));
    tracer_record* tracer = c ? c.tracer(handle) : nullptr;
    if (tracer == nullptr) return;
    if (tracer->started) {
        c.warn("tracer " + handle_text(handle) + " was started already");
        return;
    }
    c.state().start_tracer(handle, *tracer, now_microseconds());
}

void quorin_tracer_end(void* context, quorin_handle_t handle) {
    call c(context, "quorin_tracer_end");
    c.detail(format("(%llu)", static_cast<unsigned long long>(handle)));
    tracer_record* tracer = c ? c.tracer(handle) : nullptr;
    if (tracer == nullptr) return;
    if (!tracer->started) c.warn("tracer " + handle_text(handle) + " ended without a start");
    c.state().end_tracer(handle, now_microseconds());
}

void quorin_tracer_error_p(void* context, quorin_handle_t handle, const void* error_class,
                           const void* error_message) {
    call c(context, "quorin_tracer_error_p");
    tracer_record* tracer = c ? c.tracer(handle) : nullptr;
    if (tracer == nullptr) return;
    const std::string kind = c.text(error_class, "error class");
    const std::string message = c.text(error_message, "error message", false);
    tracer->error = message.empty() ? kind : kind + ": " + message;
}

size_t quorin_tracer_get_outgoing_corvantis_string_tag(void* context, quorin_handle_t handle,
                                                       char* buffer, size_t buffer_size,
                                                       size_t* required_size) {
    call c(context, "quorin_tracer_get_outgoing_corvantis_string_tag");
    const tracer_record* tracer = c ? tagged_tracer(c, handle) : nullptr;
    const std::string tag = tracer != nullptr ? tag_of(*tracer) : std::string();
    if (required_size != nullptr) *required_size = tag.size() + 1;
    if (buffer == nullptr || buffer_size == 0) return 0;
    if (buffer_size <= tag.size()) {
        buffer[0] = 0;
        return 0;
    }
    std::memcpy(buffer, tag.c_str(), tag.size() + 1);
    return tag.size();
}

size_t quorin_tracer_get_outgoing_corvantis_byte_tag(void* context, quorin_handle_t handle,
                                                     unsigned char* buffer, size_t buffer_size,
                                                     size_t* required_size) {
    call c(context, "quorin_tracer_get_outgoing_corvantis_byte_tag");
    const tracer_record* tracer = c ? tagged_tracer(c, handle) : nullptr;
    const std::string tag = tracer != nullptr ? tag_of(*tracer) : std::string();
    if (required_size != nullptr) *required_size = tag.size();
    if (buffer == nullptr || buffer_size < tag.size() || tag.empty()) return 0;
    std::memcpy(buffer, tag.data(), tag.size());
    return tag.size();
}

void quorin_tracer_set_incoming_corvantis_string_tag_p(void* context, quorin_handle_t handle,
                                                       const void* tag) {
    call c(context, "quorin_tracer_set_incoming_corvantis_string_tag_p");
    tracer_record* tracer = c ? c.tracer(handle) : nullptr;
    if (tracer == nullptr || tag == nullptr) {
        if (tracer != nullptr) c.warn("the tag is a null pointer");
        return;
    }
    adopt_tag(c, *tracer, c.text(tag, "tag"));
}

void quorin_tracer_set_incoming_corvantis_byte_tag(void* context, quorin_handle_t handle,
                                                   const unsigned char* tag, size_t tag_size) {
    call c(context, "quorin_tracer_set_incoming_corvantis_byte_tag");
    tracer_record* tracer = c ? c.tracer(handle) : nullptr;
    if (tracer == nullptr) return;
    if (tag == nullptr || tag_size == 0 || tag_size > text_limit) {
        c.warn(format("a byte tag of %llu bytes at %p cannot be read",
                      static_cast<unsigned long long>(tag_size), static_cast<const void*>(tag)));
        return;
    }
    adopt_tag(c, *tracer, printable_bytes(tag, tag_size));
}

size_t quorin_inprocesslink_create(void* context, uint64_t buffer, uint64_t buffer_size,
                                   size_t* required_size) {
    call c(context, "quorin_inprocesslink_create");
    const object* current = c ? c.state().find(c.state().current_tracer()) : nullptr;
    if (c && current == nullptr) c.warn("no tracer is started on this thread: the link is empty");
    const std::string link = current != nullptr ? tag_of(current->tracer) : std::string();
    if (required_size != nullptr) *required_size = link.size();
    auto* out = reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(buffer));
    if (out == nullptr || buffer_size < link.size() || link.empty()) return 0;
    std::memcpy(out, link.data(), link.size());
    return link.size();
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
    const std::string text = printable_bytes(bytes, static_cast<size_t>(link_size));
    std::string trace_id;
    if (!parse_tag(text, &trace_id)) {
        c.warn("'" + text + "' is not a link made by this agent");
        return 0;
    }
    const quorin_handle_t handle =
        create_tracer(c, tracer_kind::in_process_link, "", {{"link", text}});
    c.state().find(handle)->tracer.adopted_trace_id = trace_id;
    return handle;
}

quorin_status_t quorin_tracecontext_get_current(void* context, char* trace_id, size_t trace_id_size,
                                                char* span_id, size_t span_id_size) {
    call c(context, "quorin_tracecontext_get_current");
    const object* current = c ? c.state().find(c.state().current_tracer()) : nullptr;
    if (current == nullptr) {
        write_id(trace_id, trace_id_size, std::string(32, '0'));
        write_id(span_id, span_id_size, std::string(16, '0'));
        return QUORIN_STATUS_OK_NO_DATA;
    }
    if (trace_id == nullptr || trace_id_size <= 32 || span_id == nullptr || span_id_size <= 16) {
        c.warn("the trace id needs 33 bytes and the span id 17");
        write_id(trace_id, trace_id_size, "");
        write_id(span_id, span_id_size, "");
        return QUORIN_STATUS_INVALID_ARGUMENT;
    }
    write_id(trace_id, trace_id_size, current->tracer.trace_id);
    write_id(span_id, span_id_size, current->tracer.span_id);
    return QUORIN_STATUS_OK;
}

}  // namespace slots
}  // namespace console
