#include "span_mapping.h"

#include <cstring>

#include "text_parts.h"

namespace otel_agent {

using agent_core::attribute_key;
using agent_core::attribute_view;
using agent_core::object_record;
using agent_core::tracer_kind;
using agent_core::value_type;

namespace {

otel::span_kind kind_of(const object_record& tracer) {
    using otel::span_kind;
    switch (tracer.tracer) {
        case tracer_kind::incoming_web_request:
        case tracer_kind::incoming_remote_call:
            return span_kind::server;
        case tracer_kind::outgoing_web_request:
        case tracer_kind::outgoing_remote_call:
        case tracer_kind::database_request:
            return span_kind::client;
        case tracer_kind::outgoing_message:
            return span_kind::producer;
        case tracer_kind::incoming_message_receive:
        case tracer_kind::incoming_message_process:
            return span_kind::consumer;
        case tracer_kind::span: {
            attribute_view found{};
            const int64_t kind = tracer.find(attribute_key::span_kind, &found) ? found.integer : 0;
            // The API numbers kinds as OTLP does, one lower.
            return kind >= 1 && kind <= 4 ? static_cast<span_kind>(kind + 1) : span_kind::internal;
        }
        case tracer_kind::custom_service:
        case tracer_kind::in_process_link:
            break;
    }
    return span_kind::internal;
}

std::string_view text_of(const object_record& tracer, attribute_key key) {
    attribute_view found{};
    return tracer.find(key, &found) != nullptr ? found.text : std::string_view();
}

const char* messaging_operation(tracer_kind kind) {
    switch (kind) {
        case tracer_kind::outgoing_message:
            return "send";
        case tracer_kind::incoming_message_receive:
            return "receive";
        default:
            return "process";
    }
}

// The span names of the conventions: low in cardinality, so no URL or statement in them.
std::string span_name(const object_record& tracer) {
    std::string name;
    switch (tracer.tracer) {
        case tracer_kind::incoming_web_request:
        case tracer_kind::outgoing_web_request:
            name = text_of(tracer, attribute_key::method);
            break;
        case tracer_kind::incoming_remote_call:
        case tracer_kind::outgoing_remote_call:
            name.append(text_of(tracer, attribute_key::service_name))
                .append("/")
                .append(text_of(tracer, attribute_key::service_method));
            break;
        case tracer_kind::custom_service:
            name.append(text_of(tracer, attribute_key::service_name))
                .append(".")
                .append(text_of(tracer, attribute_key::service_method));
            break;
        case tracer_kind::database_request: {
            name = first_word(text_of(tracer, attribute_key::statement));
            const std::string_view database = text_of(tracer, attribute_key::database_name);
            if (!database.empty()) name.append(name.empty() ? "" : " ").append(database);
            break;
        }
        case tracer_kind::outgoing_message:
        case tracer_kind::incoming_message_receive:
        case tracer_kind::incoming_message_process:
            name.append(messaging_operation(tracer.tracer))
                .append(" ")
                .append(text_of(tracer, attribute_key::destination_name));
            break;
        case tracer_kind::in_process_link:
            name = "in-process link";
            break;
        case tracer_kind::span:
            name = tracer.operation_name;
            break;
    }
    if (name.empty()) name = agent_core::tracer_kind_name(tracer.tracer);
    return name;
}

void add_typed(otel::span_record& span, std::string_view key, const attribute_view& value) {
    switch (value.type) {
        case value_type::integer:
            span.add_attribute(key, value.integer);
            return;
        case value_type::floating:
            span.add_attribute(key, value.floating);
            return;
        case value_type::boolean:
            span.add_attribute(key, value.integer != 0);
            return;
        case value_type::text:
        case value_type::channel:
            span.add_attribute(key, value.text);
            return;
    }
}

void add_address(otel::span_record& span, const char* address_key, const char* port_key,
                 std::string_view text) {
    const host_and_port parts = split_host_port(text);
    if (parts.host.empty()) return;
    span.add_attribute(address_key, parts.host);
    if (parts.port > 0) span.add_attribute(port_key, int64_t{parts.port});
}

void add_url(otel::span_record& span, const object_record& tracer, std::string_view text) {
    const url_parts url = split_url(text);
    if (tracer.tracer == tracer_kind::outgoing_web_request) {
        span.add_attribute("url.full", text);
        if (!url.authority.empty())
            add_address(span, "server.address", "server.port", url.authority);
    } else {
        span.add_attribute("url.path", url.path.empty() ? std::string_view("/") : url.path);
        if (!url.query.empty()) span.add_attribute("url.query", url.query);
    }
    if (!url.scheme.empty()) span.add_attribute("url.scheme", url.scheme);
}

void add_channel(otel::span_record& span, const attribute_view& channel) {
    static const char* const transports[] = {nullptr, "tcp", "unix", "pipe", "inproc"};
    if (channel.integer >= 1 && channel.integer <= 4) {
        span.add_attribute("network.transport", transports[channel.integer]);
    }
    if (channel.text.empty()) return;
    if (channel.integer == 1) {
        add_address(span, "server.address", "server.port", channel.text);
    } else {
        span.add_attribute("server.address", channel.text);
    }
}

// The server an incoming web request reached: its Host header, else the web server's name.
void add_server(otel::span_record& span, const object_record& tracer) {
    for (size_t i = 0; i < tracer.attribute_count(); ++i) {
        const attribute_view entry = tracer.attribute(i);
        if (entry.key == attribute_key::request_header && equal_ignore_case(entry.name, "host")) {
            add_address(span, "server.address", "server.port", entry.text);
            return;
        }
    }
    const std::string_view server = text_of(tracer, attribute_key::web_server_name);
    if (!server.empty()) span.add_attribute("server.address", server);
}

// "<prefix><name>", the key of a header or a parameter: on the stack unless the name is long.
class composed_key {
  public:
    std::string_view of(std::string_view prefix, std::string_view name, bool lower_case) {
        const size_t size = prefix.size() + name.size();
        char* text = small_;
        if (size > sizeof small_) {
            large_.resize(size);
            text = large_.data();
        }
        std::memcpy(text, prefix.data(), prefix.size());
        if (lower_case) {
            copy_lower_case(name, text + prefix.size());
        } else {
            std::memcpy(text + prefix.size(), name.data(), name.size());
        }
        return {text, size};
    }

  private:
    char small_[128];
    std::string large_;
};

void add_attribute(otel::span_record& span, const object_record& tracer,
                   const attribute_view& entry, composed_key& key) {
    const bool web = tracer.tracer == tracer_kind::incoming_web_request ||
                     tracer.tracer == tracer_kind::outgoing_web_request;
    switch (entry.key) {
        case attribute_key::request_header:
        case attribute_key::response_header:
            span.add_attribute(
                key.of(entry.key == attribute_key::request_header ? "http.request.header."
                                                                  : "http.response.header.",
                       entry.name, true),
                entry.text);
            return;
        case attribute_key::parameter:
            span.add_attribute(key.of("quorin.http.request.parameter.", entry.name, false),
                               entry.text);
            return;
        case attribute_key::custom:
        case attribute_key::span_attribute:
            add_typed(span, entry.name, entry);
            return;
        case attribute_key::method:
            if (web) span.add_attribute("http.request.method", entry.text);
            return;
        case attribute_key::url:
            add_url(span, tracer, entry.text);
            return;
        case attribute_key::service_method:
            span.add_attribute(
                tracer.tracer == tracer_kind::custom_service ? "code.function.name" : "rpc.method",
                entry.text);
            return;
        case attribute_key::service_name:
            span.add_attribute(
                tracer.tracer == tracer_kind::custom_service ? "code.namespace" : "rpc.service",
                entry.text);
            return;
        case attribute_key::statement:
            span.add_attribute("db.query.text", entry.text);
            if (const std::string operation = first_word(entry.text); !operation.empty()) {
                span.add_attribute("db.operation.name", operation);
            }
            return;
        case attribute_key::destination_name:
            span.add_attribute("messaging.destination.name", entry.text);
            span.add_attribute("messaging.operation.type", messaging_operation(tracer.tracer));
            return;
        case attribute_key::application_id:
            span.add_attribute("quorin.web.application_id", entry.text);
            return;
        case attribute_key::context_root:
            span.add_attribute("quorin.web.context_root", entry.text);
            return;
        case attribute_key::database_name:
            span.add_attribute("db.namespace", entry.text);
            return;
        case attribute_key::database_vendor:
            span.add_attribute("db.system", system_name(entry.text));
            return;
        case attribute_key::messaging_vendor:
            span.add_attribute("messaging.system", system_name(entry.text));
            return;
        case attribute_key::destination_type:
            span.add_attribute("quorin.messaging.destination_kind",
                               entry.integer == 1 ? "topic" : "queue");
            return;
        case attribute_key::channel:
            add_channel(span, entry);
            return;
        case attribute_key::service_endpoint:
            span.add_attribute("quorin.rpc.endpoint", entry.text);
            return;
        case attribute_key::protocol_name:
            span.add_attribute("rpc.system", system_name(entry.text));
            return;
        case attribute_key::remote_address:
            add_address(span, "client.address", "client.port", entry.text);
            return;
        case attribute_key::status_code:
            span.add_attribute("http.response.status_code", entry.integer);
            return;
        case attribute_key::returned_rows:
            span.add_attribute("db.response.returned_rows", entry.integer);
            return;
        case attribute_key::round_trips:
            span.add_attribute("quorin.db.round_trips", entry.integer);
            return;
        case attribute_key::message_id:
            span.add_attribute("messaging.message.id", entry.text);
            return;
        case attribute_key::correlation_id:
            span.add_attribute("messaging.message.conversation_id", entry.text);
            return;
        default:
            // The web server's name (see add_server), the span's kind and ids, links and tags:
            // the span's own fields say them.
            return;
    }
}

// Errors: the application's, and HTTP statuses that the conventions count as failures (5xx on
// the server's side, 4xx and 5xx on the client's).
void set_status(const object_record& tracer, otel::span_record& span) {
    if (tracer.has_error) {
        const std::string_view message = !tracer.error_message.empty()
                                             ? std::string_view(tracer.error_message)
                                             : std::string_view(tracer.error_type);
        span.set_status(otel::status_code::error, message);
        span.add_attribute("error.type", tracer.error_type);
        if (span.add_event("exception", tracer.end_us * 1000)) {
            span.add_attribute("exception.type", tracer.error_type);
            if (!tracer.error_message.empty()) {
                span.add_attribute("exception.message", tracer.error_message);
            }
            span.end_event();
        }
        return;
    }
    attribute_view status{};
    if (tracer.tracer != tracer_kind::incoming_web_request &&
        tracer.tracer != tracer_kind::outgoing_web_request) {
        return;
    }
    if (!tracer.find(attribute_key::status_code, &status)) return;
    const int64_t lowest = tracer.tracer == tracer_kind::incoming_web_request ? 500 : 400;
    if (status.integer >= lowest && status.integer <= 599) {
        span.set_status(otel::status_code::error);
        span.add_attribute("error.type", std::to_string(status.integer));
    }
}

}  // namespace

std::string_view application_name(const object_record& tracer) {
    if (tracer.tracer != tracer_kind::incoming_web_request) return {};
    return text_of(tracer, attribute_key::application_id);
}

void fill_span(const object_record& tracer, otel::span_record& span) {
    static_assert(sizeof span.trace.bytes == sizeof tracer.context.trace.bytes &&
                  sizeof span.span.bytes == sizeof tracer.context.span.bytes);
    std::memcpy(span.trace.bytes, tracer.context.trace.bytes, sizeof span.trace.bytes);
    std::memcpy(span.span.bytes, tracer.context.span.bytes, sizeof span.span.bytes);
    if (tracer.has_parent)
        std::memcpy(span.parent.bytes, tracer.parent.bytes, sizeof span.parent.bytes);
    span.flags = tracer.context.flags;
    span.kind = kind_of(tracer);
    span.start_unix_nano = tracer.start_us * 1000;
    span.end_unix_nano = tracer.end_us * 1000;
    span.set_name(span_name(tracer));

    composed_key key;
    for (size_t i = 0; i < tracer.attribute_count(); ++i) {
        add_attribute(span, tracer, tracer.attribute(i), key);
    }
    if (tracer.tracer == tracer_kind::incoming_web_request) add_server(span, tracer);
    if (tracer.state == agent_core::end_state::not_ended) {
        span.add_attribute("quorin.tracer.not_ended", true);
    }
    span.dropped_attributes += tracer.dropped_attributes();
    set_status(tracer, span);
}

}  // namespace otel_agent
