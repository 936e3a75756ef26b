#include "trace_model.h"

namespace agent_core {

const char* tracer_kind_name(tracer_kind kind) {
    switch (kind) {
        case tracer_kind::incoming_web_request:
            return "incoming web request";
        case tracer_kind::outgoing_web_request:
            return "outgoing web request";
        case tracer_kind::incoming_remote_call:
            return "incoming remote call";
        case tracer_kind::outgoing_remote_call:
            return "outgoing remote call";
        case tracer_kind::database_request:
            return "database request";
        case tracer_kind::custom_service:
            return "custom service";
        case tracer_kind::outgoing_message:
            return "outgoing message";
        case tracer_kind::incoming_message_receive:
            return "incoming message receive";
        case tracer_kind::incoming_message_process:
            return "incoming message process";
        case tracer_kind::in_process_link:
            return "in-process link";
        case tracer_kind::span:
            return "span";
    }
    return "tracer";
}

const char* object_kind_name(object_kind kind) {
    switch (kind) {
        case object_kind::tracer:
            return "tracer";
        case object_kind::web_application_info:
            return "web application info";
        case object_kind::database_info:
            return "database info";
        case object_kind::messaging_system_info:
            return "messaging system info";
        case object_kind::metric:
            return "metric";
    }
    return "object";
}

}  // namespace agent_core
