// What the recording core hands its output: the kinds of objects, the typed attributes of a
// tracer, and the ids of its trace. Every text in it was decoded from the application's
// arguments by the core: UTF-8, cut at text_limit bytes, control characters escaped.
#pragma once

#include <cstdint>
#include <string_view>

#include "quorin.h"

namespace agent_core {

enum class tracer_kind : uint8_t {
    incoming_web_request,
    outgoing_web_request,
    incoming_remote_call,
    outgoing_remote_call,
    database_request,
    custom_service,
    outgoing_message,
    incoming_message_receive,
    incoming_message_process,
    in_process_link,
    span,
};
const char* tracer_kind_name(tracer_kind kind);

enum class object_kind : uint8_t {
    tracer,
    web_application_info,
    database_info,
    messaging_system_info,
    metric
};
const char* object_kind_name(object_kind kind);

enum class metric_kind : uint8_t { counter, gauge, statistics };

// Where an attribute came from. The keys before first_fixed_key carry a name of the
// application's (a header name, a custom attribute's key); the others are named by the key.
enum class attribute_key : uint8_t {
    request_header,
    response_header,
    parameter,       // a parameter of an incoming web request
    custom,          // a custom request attribute
    span_attribute,  // set through the span extension
    first_fixed_key,
    // Parts of what the tracer was created with; the console makes its title of them.
    method = first_fixed_key,
    url,
    service_method,
    service_name,
    statement,
    destination_name,
    // Carried over from the info object the tracer was created from.
    web_server_name,
    application_id,
    context_root,
    database_name,
    database_vendor,
    destination_type,  // integer: 0 queue, 1 topic, other values as given
    messaging_vendor,
    channel,  // integer: the channel type (0 other, 1 TCP/IP, 2 Unix socket, 3 named pipe, 4 in
              // process); text: the endpoint
    // Set on the tracer.
    service_endpoint,
    protocol_name,
    remote_address,
    status_code,
    returned_rows,
    round_trips,
    message_id,
    correlation_id,
    span_kind,  // integer: 0 internal, 1 server, 2 client, 3 producer, 4 consumer
    span_trace_id,
    span_span_id,
    span_parent_span_id,
    link,          // the in-process link a tracer was created from, as given
    incoming_tag,  // a tag the tracer received, as given
    trace_state,   // the trace state its trace carries here, as the output keeps it
    // A metric's description.
    metric_group,
    metric_key,
    metric_unit,
};

enum class value_type : uint8_t { text, integer, floating, boolean, channel };

struct attribute_view {
    attribute_key key;
    value_type type;
    std::string_view name;  // the application's name, for the keys that carry one
    std::string_view text;  // text values, and the endpoint of a channel
    int64_t integer;        // integer values, booleans (0 or 1), the type of a channel
    double floating;
};

struct trace_id {
    uint8_t bytes[16];
};
struct span_id {
    uint8_t bytes[8];
};

// A position in a trace: the trace and one of its spans.
struct trace_context {
    trace_id trace;
    span_id span;
    uint8_t flags;  // 1: sampled
};

// Whether a trace is recorded (sampled); the output drops the tracers of the others at their
// end, and what is added to those need not be read.
inline bool recorded(const trace_context& context) { return (context.flags & 1) != 0; }

// How a tracer came to its end.
enum class end_state : uint8_t {
    ended,          // the application ended it
    not_ended,      // still open when the agent was released
    never_started,  // ended (or released) without a start
};

// A metric update as the output receives it.
struct metric_event {
    quorin_handle_t metric;
    metric_kind kind;
    bool floating;
    std::string_view group;
    std::string_view key;
    std::string_view unit;
    std::string_view dimension;  // empty when none was given
    int64_t integer;             // the value of an integer metric
    double floating_value;       // the value of a float metric
};

}  // namespace agent_core
