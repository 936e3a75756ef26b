#include "trace_line.h"

#include <cinttypes>

#include "text.h"

namespace console {

using agent_core::attribute_key;
using agent_core::attribute_view;
using agent_core::format;
using agent_core::object_record;
using agent_core::tracer_kind;

namespace {

// The name an attribute is printed under; null for the parts of the title.
const char* attribute_name(attribute_key key) {
    switch (key) {
        case attribute_key::request_header:
            return "request.";
        case attribute_key::response_header:
            return "response.";
        case attribute_key::parameter:
            return "parameter.";
        case attribute_key::custom:
            return "attribute.";
        case attribute_key::span_attribute:
            return "";
        case attribute_key::web_server_name:
            return "server";
        case attribute_key::application_id:
            return "application";
        case attribute_key::context_root:
            return "context_root";
        case attribute_key::database_name:
            return "database";
        case attribute_key::database_vendor:
        case attribute_key::messaging_vendor:
            return "vendor";
        case attribute_key::destination_type:
            return "destination_type";
        case attribute_key::channel:
            return "channel";
        case attribute_key::service_endpoint:
            return "endpoint";
        case attribute_key::protocol_name:
            return "protocol";
        case attribute_key::remote_address:
            return "remote";
        case attribute_key::status_code:
            return "status";
        case attribute_key::returned_rows:
            return "rows";
        case attribute_key::round_trips:
            return "round_trips";
        case attribute_key::message_id:
            return "message_id";
        case attribute_key::correlation_id:
            return "correlation_id";
        case attribute_key::span_kind:
            return "kind";
        case attribute_key::span_trace_id:
            return "trace_id";
        case attribute_key::span_span_id:
            return "span_id";
        case attribute_key::span_parent_span_id:
            return "parent_span_id";
        case attribute_key::link:
            return "link";
        case attribute_key::incoming_tag:
            return "incoming_tag";
        default:
            return nullptr;  // the title's parts, the metrics' descriptions
    }
}

std::string channel_text(int64_t type, std::string_view endpoint) {
    static const char* const names[] = {"other", "tcp/ip", "unix socket", "named pipe",
                                        "in process"};
    std::string text = type >= 0 && type < 5 ? names[type] : format("type %" PRId64, type);
    if (!endpoint.empty()) text.append(" ").append(endpoint);
    return text;
}

std::string value_text(const attribute_view& entry) {
    using agent_core::value_type;
    switch (entry.type) {
        case value_type::text:
            return std::string(entry.text);
        case value_type::floating:
            return format("%g", entry.floating);
        case value_type::boolean:
            return entry.integer != 0 ? "true" : "false";
        case value_type::channel:
            return channel_text(entry.integer, entry.text);
        case value_type::integer:
            break;
    }
    static const char* const destination_types[] = {"queue", "topic"};
    static const char* const span_kinds[] = {"internal", "server", "client", "producer",
                                             "consumer"};
    if (entry.key == attribute_key::destination_type) {
        return entry.integer == 0 || entry.integer == 1 ? destination_types[entry.integer]
                                                        : "unknown";
    }
    if (entry.key == attribute_key::span_kind && entry.integer >= 0 && entry.integer < 5) {
        return span_kinds[entry.integer];
    }
    return format("%" PRId64, entry.integer);
}

std::string_view text_of(const object_record& tracer, attribute_key key) {
    attribute_view found{};
    return tracer.find(key, &found) != nullptr ? found.text : std::string_view();
}

std::string title(const object_record& tracer) {
    std::string text;
    switch (tracer.tracer) {
        case tracer_kind::incoming_web_request:
        case tracer_kind::outgoing_web_request:
            text.append(text_of(tracer, attribute_key::method))
                .append(" ")
                .append(text_of(tracer, attribute_key::url));
            break;
        case tracer_kind::incoming_remote_call:
        case tracer_kind::outgoing_remote_call:
        case tracer_kind::custom_service:
            text.append(text_of(tracer, attribute_key::service_name))
                .append(".")
                .append(text_of(tracer, attribute_key::service_method));
            break;
        case tracer_kind::database_request:
            text = text_of(tracer, attribute_key::statement);
            break;
        case tracer_kind::outgoing_message:
        case tracer_kind::incoming_message_receive:
        case tracer_kind::incoming_message_process:
            text = text_of(tracer, attribute_key::destination_name);
            break;
        case tracer_kind::span:
            text = tracer.operation_name;
            break;
        case tracer_kind::in_process_link:
            break;
    }
    return text;
}

}  // namespace

std::string duration_text(uint64_t start_us, uint64_t end_us) {
    const uint64_t elapsed = end_us > start_us ? end_us - start_us : 0;
    return format("%llu.%03llu ms", static_cast<unsigned long long>(elapsed / 1000),
                  static_cast<unsigned long long>(elapsed % 1000));
}

std::string quoted_if_needed(std::string_view value) {
    if (!value.empty() && value.find_first_of(" \"") == std::string_view::npos) {
        return std::string(value);
    }
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string trace_line(const object_record& tracer) {
    std::string line = agent_core::tracer_kind_name(tracer.tracer);
    const std::string name = title(tracer);
    if (!name.empty()) line += "  " + name;
    line += "  ";
    if (tracer.state == agent_core::end_state::not_ended) {
        line += "(not ended)";
    } else if (!tracer.started) {
        line += "(never started)";
    } else {
        line += duration_text(tracer.start_us, tracer.end_us);
    }
    for (size_t i = 0; i < tracer.attribute_count(); ++i) {
        const attribute_view entry = tracer.attribute(i);
        const char* prefix = attribute_name(entry.key);
        if (prefix == nullptr) continue;
        line.append("  ").append(prefix).append(entry.name).append("=");
        line += quoted_if_needed(value_text(entry));
    }
    if (tracer.dropped_attributes() != 0) {
        line += format("  (%u attributes dropped)", tracer.dropped_attributes());
    }
    std::string error = tracer.error_type;
    if (!tracer.error_message.empty()) error += ": " + tracer.error_message;
    if (!error.empty()) line += "  error " + error;
    return line;
}

std::string metric_line(const agent_core::metric_event& event) {
    using agent_core::metric_kind;
    static const char* const kinds[] = {"counter", "gauge", "statistics"};
    static const char* const operations[] = {"+=", "=", "<-"};
    const auto kind = static_cast<size_t>(event.kind);
    std::string line = format("metric %s %s ", event.floating ? "float" : "integer", kinds[kind]);
    line.append(event.group).append("/").append(event.key).append(" ");
    line.append(operations[kind]).append(" ");
    line += event.floating ? format("%g", event.floating_value) : format("%" PRId64, event.integer);
    if (!event.unit.empty()) line.append(" ").append(event.unit);
    if (!event.dimension.empty()) line += "  dimension=" + quoted_if_needed(event.dimension);
    return line;
}

}  // namespace console
