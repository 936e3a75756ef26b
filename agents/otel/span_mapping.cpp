#include "span_mapping.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

#include "setting_parsers.h"
#include "text_parts.h"

namespace otel_agent {

using agent_core::attribute_key;
using agent_core::attribute_view;
using agent_core::object_record;
using agent_core::tracer_kind;
using agent_core::value_type;

namespace {

constexpr std::string_view redacted = "REDACTED";

// Where the last attribute of each key lies (a value set again replaces the one before), and
// the first Host header: noted in the one pass that maps the attributes, so that the name,
// kind, server and status need no search.
class noted_attributes {
  public:
    explicit noted_attributes(const object_record& tracer) : tracer_(tracer) {
        std::memset(index_, none, sizeof index_);
    }

    void note(uint8_t index, const attribute_view& entry) {
        index_[static_cast<size_t>(entry.key)] = index;
        if (entry.key == attribute_key::request_header && host_ == none && entry.name.size() == 4 &&
            equal_ignore_ascii_case(entry.name, "host")) {
            host_ = index;
        }
    }
    bool find(attribute_key key, attribute_view* out) const {
        return view(index_[static_cast<size_t>(key)], out);
    }
    std::string_view text(attribute_key key) const {
        attribute_view found{};
        return find(key, &found) ? found.text : std::string_view();
    }
    bool host_header(attribute_view* out) const { return view(host_, out); }

  private:
    static constexpr uint8_t none = 0xFF;
    static_assert(object_record::attribute_limit < none);
    // Every value the key's type holds, so that a key added to the core needs nothing here.
    static constexpr size_t key_count =
        size_t{std::numeric_limits<std::underlying_type_t<attribute_key>>::max()} + 1;

    bool view(uint8_t index, attribute_view* out) const {
        if (index == none) return false;
        *out = tracer_.attribute(index);
        return true;
    }

    const object_record& tracer_;
    uint8_t index_[key_count];
    uint8_t host_ = none;
};

otel::span_kind kind_of(const object_record& tracer, const noted_attributes& noted) {
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
            const int64_t kind = noted.find(attribute_key::span_kind, &found) ? found.integer : 0;
            // The API numbers kinds as OTLP does, one lower.
            return kind >= 1 && kind <= 4 ? static_cast<span_kind>(kind + 1) : span_kind::internal;
        }
        case tracer_kind::custom_service:
        case tracer_kind::in_process_link:
            break;
    }
    return span_kind::internal;
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

// The methods of the HTTP conventions, as they spell them.
bool known_method(std::string_view method) {
    static constexpr std::string_view known[] = {"GET",     "HEAD",    "POST",  "PUT",  "DELETE",
                                                 "CONNECT", "OPTIONS", "TRACE", "PATCH"};
    return std::find(std::begin(known), std::end(known), method) != std::end(known);
}

// The kind's name stands in for an empty name.
void set_name_of_parts(otel::otlp_span& span, const object_record& tracer, std::string_view name,
                       std::string_view separator, std::string_view second) {
    if (separator.empty() && second.empty()) {
        span.set_name(name.empty() ? std::string_view(agent_core::tracer_kind_name(tracer.tracer))
                                   : name);
    } else {
        span.set_name(name, separator, second);
    }
}

// The span names of the conventions: low in cardinality, so no URL or statement in them.
void set_name(otel::otlp_span& span, const object_record& tracer, const noted_attributes& noted) {
    std::string_view name, separator, second;
    switch (tracer.tracer) {
        case tracer_kind::incoming_web_request:
        case tracer_kind::outgoing_web_request:
            // A method of no standard is "HTTP", which keeps the names few; none leaves the
            // kind's name.
            name = noted.text(attribute_key::method);
            if (!name.empty() && !known_method(name)) name = "HTTP";
            break;
        case tracer_kind::incoming_remote_call:
        case tracer_kind::outgoing_remote_call:
            name = noted.text(attribute_key::service_name);
            separator = "/";
            second = noted.text(attribute_key::service_method);
            break;
        case tracer_kind::custom_service:
            name = noted.text(attribute_key::service_name);
            separator = ".";
            second = noted.text(attribute_key::service_method);
            break;
        case tracer_kind::database_request: {
            const std::string operation = first_word(noted.text(attribute_key::statement));
            const std::string_view database = noted.text(attribute_key::database_name);
            set_name_of_parts(span, tracer, operation,
                              operation.empty() || database.empty() ? "" : " ", database);
            return;
        }
        case tracer_kind::outgoing_message:
        case tracer_kind::incoming_message_receive:
        case tracer_kind::incoming_message_process:
            name = messaging_operation(tracer.tracer);
            separator = " ";
            second = noted.text(attribute_key::destination_name);
            break;
        case tracer_kind::in_process_link:
            name = "in-process link";
            break;
        case tracer_kind::span:
            name = tracer.operation_name;
            break;
    }
    set_name_of_parts(span, tracer, name, separator, second);
}

void add_typed(otel::otlp_span& span, std::string_view key, const attribute_view& value) {
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

void add_address(otel::otlp_span& span, const char* address_key, const char* port_key,
                 std::string_view text) {
    const host_and_port parts = split_host_port(text);
    if (parts.host.empty()) return;
    span.add_attribute(address_key, parts.host);
    if (parts.port > 0) span.add_attribute(port_key, int64_t{parts.port});
}

void add_url(otel::otlp_span& span, const object_record& tracer, std::string_view text) {
    const url_parts url = split_url(text);
    if (tracer.tracer == tracer_kind::outgoing_web_request) {
        std::string redacted;
        span.add_attribute("url.full", redact_credentials(text, redacted) ? redacted : text);
        if (!url.authority.empty())
            add_address(span, "server.address", "server.port", url.authority);
    } else {
        span.add_attribute("url.path", url.path.empty() ? std::string_view("/") : url.path);
        if (!url.query.empty()) span.add_attribute("url.query", url.query);
    }
    if (!url.scheme.empty()) span.add_attribute("url.scheme", url.scheme);
}

void add_channel(otel::otlp_span& span, const attribute_view& channel) {
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
void add_server(otel::otlp_span& span, const noted_attributes& noted) {
    attribute_view host{};
    if (noted.host_header(&host)) {
        add_address(span, "server.address", "server.port", host.text);
        return;
    }
    const std::string_view server = noted.text(attribute_key::web_server_name);
    if (!server.empty()) span.add_attribute("server.address", server);
}

// Headers that carry credentials, and those the settings name: their values are not sent.
bool redacted_header(std::string_view name, const mapping_options& options) {
    static constexpr std::string_view credentials[] = {"authorization", "proxy-authorization",
                                                       "cookie", "set-cookie"};
    for (const std::string_view header : credentials) {
        if (equal_ignore_ascii_case(name, header)) return true;
    }
    for (const std::string& header : options.redacted_headers) {
        if (equal_ignore_ascii_case(name, header)) return true;
    }
    return false;
}

// "<prefix><name>": the key of a header (its name in lower case) or of a parameter.
template <size_t prefix_size>
void add_named(otel::otlp_span& span, const char (&prefix)[prefix_size],
               const attribute_view& entry, bool lower_case, std::string_view value) {
    constexpr size_t length = prefix_size - 1;
    char* key = span.add_attribute_writing_key(length + entry.name.size(), value);
    if (key == nullptr) return;
    std::memcpy(key, prefix, length);
    if (lower_case) {
        copy_lower_case(entry.name, key + length);
    } else {
        otel::copy_text(key + length, entry.name);
    }
}

// The attributes taken over as they are, under a name of the conventions.
struct copied_attribute {
    std::string_view name;  // "" for the others
    bool integer = false;
};
copied_attribute copied_as(attribute_key key) {
    switch (key) {
        case attribute_key::application_id:
            return {"quorin.web.application_id"};
        case attribute_key::context_root:
            return {"quorin.web.context_root"};
        case attribute_key::database_name:
            return {"db.namespace"};
        case attribute_key::service_endpoint:
            return {"quorin.rpc.endpoint"};
        case attribute_key::message_id:
            return {"messaging.message.id"};
        case attribute_key::correlation_id:
            return {"messaging.message.conversation_id"};
        case attribute_key::status_code:
            return {"http.response.status_code", true};
        case attribute_key::returned_rows:
            return {"db.response.returned_rows", true};
        case attribute_key::round_trips:
            return {"quorin.db.round_trips", true};
        default:
            return {};
    }
}

// Inlined into the loop over the tracer's attributes: a call for each costs about as much as
// mapping a short one.
[[gnu::always_inline]] inline void add_attribute(otel::otlp_span& span, const object_record& tracer,
                                                 const attribute_view& entry,
                                                 const mapping_options& options) {
    const bool web = tracer.tracer == tracer_kind::incoming_web_request ||
                     tracer.tracer == tracer_kind::outgoing_web_request;
    switch (entry.key) {
        case attribute_key::request_header:
            add_named(span, "http.request.header.", entry, true,
                      redacted_header(entry.name, options) ? redacted : entry.text);
            return;
        case attribute_key::response_header:
            add_named(span, "http.response.header.", entry, true,
                      redacted_header(entry.name, options) ? redacted : entry.text);
            return;
        case attribute_key::parameter:
            add_named(span, "quorin.http.request.parameter.", entry, false, entry.text);
            return;
        case attribute_key::custom:
        case attribute_key::span_attribute:
            add_typed(span, entry.name, entry);
            return;
        case attribute_key::method:
            if (!web) return;
            if (known_method(entry.text)) {
                span.add_attribute("http.request.method", entry.text);
            } else {
                span.add_attribute("http.request.method", "_OTHER");
                span.add_attribute("http.request.method_original", entry.text);
            }
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
        case attribute_key::protocol_name:
            span.add_attribute("rpc.system", system_name(entry.text));
            return;
        case attribute_key::remote_address:
            add_address(span, "client.address", "client.port", entry.text);
            return;
        default:
            break;
    }
    // The web server's name (see add_server), the span's kind and ids, links and tags are not
    // copied: the span's own fields say them.
    const copied_attribute copied = copied_as(entry.key);
    if (copied.name.empty()) return;
    if (copied.integer) {
        span.add_attribute(copied.name, entry.integer);
    } else {
        span.add_attribute(copied.name, entry.text);
    }
}

// Which attribute wins among those of one key (see otlp_span::settle_attributes).
otel::attribute_origin precedence_of(attribute_key key) {
    switch (key) {
        case attribute_key::request_header:
        case attribute_key::response_header:
        case attribute_key::parameter:
            return otel::attribute_origin::repeatable;
        case attribute_key::custom:
        case attribute_key::span_attribute:
            return otel::attribute_origin::application;
        default:
            return otel::attribute_origin::agent;
    }
}

// Every attribute of the tracer, in its order, noting the last of each key on the way.
void add_attributes(otel::otlp_span& span, const object_record& tracer, noted_attributes& noted,
                    const mapping_options& options) {
    const size_t count = tracer.attribute_count();
    for (size_t i = 0; i < count; ++i) {
        const attribute_view entry = tracer.attribute(i);
        noted.note(static_cast<uint8_t>(i), entry);
        span.set_origin(precedence_of(entry.key));
        add_attribute(span, tracer, entry, options);
    }
    span.set_origin(otel::attribute_origin::agent);
}

// Errors: the application's, and HTTP statuses that the conventions count as failures (5xx on
// the server's side, 4xx and 5xx on the client's).
void set_status(const object_record& tracer, const noted_attributes& noted, otel::otlp_span& span) {
    if (tracer.has_error) {
        const std::string_view message = !tracer.error_message.empty()
                                             ? std::string_view(tracer.error_message)
                                             : std::string_view(tracer.error_type);
        span.set_status(otel::status_code::error, message);
        span.add_attribute("error.type", tracer.error_type);
        if (span.add_event("exception", span.end_unix_nano)) {
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
    // The last status set: the one the answer had.
    if (!noted.find(attribute_key::status_code, &status)) return;
    const int64_t lowest = tracer.tracer == tracer_kind::incoming_web_request ? 500 : 400;
    if (status.integer >= lowest && status.integer <= 599) {
        span.set_status(otel::status_code::error);
        span.add_attribute("error.type", std::to_string(status.integer));
    }
}

}  // namespace

uint64_t unix_nano_of(uint64_t microseconds) {
    constexpr uint64_t largest = std::numeric_limits<uint64_t>::max();
    return microseconds > largest / 1000 ? largest : microseconds * 1000;
}

std::string_view application_name(const object_record& tracer) {
    attribute_view found{};
    if (tracer.tracer != tracer_kind::incoming_web_request ||
        tracer.find(attribute_key::application_id, &found) == nullptr) {
        return {};
    }
    return found.text;
}

mapping_options mapping_options::from(std::string_view redacted_header_list) {
    mapping_options options;
    while (!redacted_header_list.empty()) {
        const size_t comma = redacted_header_list.find(',');
        const std::string_view name = otel::trim(redacted_header_list.substr(0, comma));
        redacted_header_list.remove_prefix(
            comma == std::string_view::npos ? redacted_header_list.size() : comma + 1);
        if (!name.empty()) options.redacted_headers.emplace_back(name);
    }
    return options;
}

uint32_t fill_span(const object_record& tracer, otel::otlp_span& span,
                   const mapping_options& options) {
    static_assert(sizeof span.trace.bytes == sizeof tracer.context.trace.bytes &&
                  sizeof span.span.bytes == sizeof tracer.context.span.bytes);
    std::memcpy(span.trace.bytes, tracer.context.trace.bytes, sizeof span.trace.bytes);
    std::memcpy(span.span.bytes, tracer.context.span.bytes, sizeof span.span.bytes);
    if (tracer.has_parent)
        std::memcpy(span.parent.bytes, tracer.parent.bytes, sizeof span.parent.bytes);
    span.flags = tracer.context.flags;
    span.start_unix_nano = unix_nano_of(tracer.start_us);
    // Saturating may bring an end that came after the start before it.
    span.end_unix_nano = std::max(span.start_unix_nano, unix_nano_of(tracer.end_us));

    noted_attributes noted(tracer);
    add_attributes(span, tracer, noted, options);
    span.kind = kind_of(tracer, noted);
    set_name(span, tracer, noted);
    if (tracer.tracer == tracer_kind::incoming_web_request) add_server(span, noted);
    if (tracer.state == agent_core::end_state::not_ended) {
        span.add_attribute("quorin.tracer.not_ended", true);
    }
    span.dropped_attributes += tracer.dropped_attributes();
    set_status(tracer, noted, span);
    return span.settle_attributes();
}

}  // namespace otel_agent
