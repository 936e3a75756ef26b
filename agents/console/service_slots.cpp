// Slots that create and describe the tracers of each kind: web requests, remote calls,
// databases, messaging, custom services, and the custom request attributes.
#include "slots.h"
#include "text.h"

namespace console {

void add_text_pairs(call& c, std::vector<attribute>& to, const char* prefix, const void* names,
                    const void* values, const void* count) {
    uint64_t entries = 0;
    if (!c.count(count, &entries) || entries == 0) return;
    if (names == nullptr || values == nullptr) {
        c.warn("the names or the values are a null pointer");
        return;
    }
    const auto* name_texts = static_cast<const char* const*>(names);
    const auto* value_texts = static_cast<const char* const*>(values);
    for (uint64_t i = 0; i < entries; ++i) {
        if (name_texts[i] == nullptr) {
            c.warn(format("name %llu is a null pointer", static_cast<unsigned long long>(i)));
            continue;
        }
        to.push_back({prefix + printable_text(name_texts[i]), printable_text(value_texts[i])});
    }
}

std::string channel_text(int32_t channel_type, const std::string& endpoint) {
    static const char* const names[] = {"other", "tcp/ip", "unix socket", "named pipe",
                                        "in process"};
    std::string text = channel_type >= 0 && channel_type < 5 ? names[channel_type]
                                                             : format("type %d", channel_type);
    return endpoint.empty() ? text : text + " " + endpoint;
}

namespace {

// The attributes an info object gives every tracer created from it.
std::vector<attribute> info_attributes(call& c, const void* handle_value, object_kind kind,
                                       const char* role) {
    const auto handle = static_cast<quorin_handle_t>(reinterpret_cast<uintptr_t>(handle_value));
    const object* info = c.find(handle, kind, role);
    return info != nullptr ? info->info : std::vector<attribute>{};
}

std::vector<attribute> info_attributes(call& c, uint64_t handle, object_kind kind,
                                       const char* role) {
    return info_attributes(c, reinterpret_cast<const void*>(static_cast<uintptr_t>(handle)), kind,
                           role);
}

quorin_handle_t create_info(call& c, object_kind kind, std::vector<attribute> attributes) {
    object value{};
    value.kind = kind;
    value.info = std::move(attributes);
    const quorin_handle_t handle = c.state().add(std::move(value));
    c.detail(" -> " + handle_text(handle));
    return handle;
}

void delete_info(call& c, quorin_handle_t handle, object_kind kind) {
    if (c && c.find(handle, kind, object_kind_name(kind)) != nullptr) c.state().remove(handle);
}

void add_attribute(call& c, quorin_handle_t handle, std::initializer_list<tracer_kind> kinds,
                   const char* name, const std::string& value) {
    if (tracer_record* tracer = c ? c.tracer(handle, kinds) : nullptr) {
        tracer->attributes.push_back({name, value});
    }
}

void add_pairs(call& c, quorin_handle_t handle, tracer_kind kind, const char* prefix,
               const void* names, const void* values, const void* count) {
    if (tracer_record* tracer = c ? c.tracer(handle, {kind}) : nullptr) {
        add_text_pairs(c, tracer->attributes, prefix, names, values, count);
    }
}

// Custom request attributes belong to the innermost tracer started on the calling thread.
template <typename Value, typename Print>
void add_custom_attributes(call& c, const void* keys, const void* values, const void* count,
                           Print print) {
    if (!c) return;
    uint64_t entries = 0;
    if (!c.count(count, &entries) || entries == 0) return;
    object* current = c.state().find(c.state().current_tracer());
    if (current == nullptr) {
        c.warn("no tracer is started on this thread: the attributes are dropped");
        return;
    }
    if (keys == nullptr || values == nullptr) {
        c.warn("the keys or the values are a null pointer");
        return;
    }
    const auto* key_texts = static_cast<const char* const*>(keys);
    const auto* value_items = static_cast<const Value*>(values);
    for (uint64_t i = 0; i < entries; ++i) {
        if (key_texts[i] == nullptr) {
            c.warn(format("key %llu is a null pointer", static_cast<unsigned long long>(i)));
            continue;
        }
        current->tracer.attributes.push_back(
            {"attribute." + printable_text(key_texts[i]), print(value_items[i])});
    }
}

// Message tracers are titled by their destination.
quorin_handle_t create_message_tracer(call& c, tracer_kind kind, uint64_t messaging) {
    std::vector<attribute> attributes =
        info_attributes(c, messaging, object_kind::messaging_system_info, "messaging system info");
    std::string title = attributes.empty() ? std::string() : attributes.front().value;
    if (!attributes.empty()) attributes.erase(attributes.begin());
    return create_tracer(c, kind, std::move(title), std::move(attributes));
}

std::string service_title(call& c, const void* method, const void* name) {
    return c.text(name, "service name") + "." + c.text(method, "service method");
}

}  // namespace

namespace slots {

quorin_handle_t quorin_outgoingremotecalltracer_create_p(void* context, const void* method,
                                                         const void* name, const void* endpoint,
                                                         int32_t channel_type,
                                                         const void* channel_endpoint) {
    call c(context, "quorin_outgoingremotecalltracer_create_p");
    if (!c) return 0;
    return create_tracer(
        c, tracer_kind::outgoing_remote_call, service_title(c, method, name),
        {{"endpoint", c.text(endpoint, "service endpoint", false)},
         {"channel", channel_text(channel_type, c.text(channel_endpoint, "channel", false))}});
}

void quorin_outgoingremotecalltracer_set_protocol_name_p(void* context, quorin_handle_t handle,
                                                         const void* protocol) {
    call c(context, "quorin_outgoingremotecalltracer_set_protocol_name_p");
    add_attribute(c, handle, {tracer_kind::outgoing_remote_call}, "protocol",
                  c.text(protocol, "protocol name"));
}

quorin_handle_t quorin_incomingremotecalltracer_create_p(void* context, const void* method,
                                                         const void* name, const void* endpoint) {
    call c(context, "quorin_incomingremotecalltracer_create_p");
    if (!c) return 0;
    return create_tracer(c, tracer_kind::incoming_remote_call, service_title(c, method, name),
                         {{"endpoint", c.text(endpoint, "service endpoint", false)}});
}

void quorin_incomingremotecalltracer_set_protocol_name_p(void* context, quorin_handle_t handle,
                                                         const void* protocol) {
    call c(context, "quorin_incomingremotecalltracer_set_protocol_name_p");
    add_attribute(c, handle, {tracer_kind::incoming_remote_call}, "protocol",
                  c.text(protocol, "protocol name"));
}

quorin_handle_t quorin_databaseinfo_create_p(void* context, const void* name, const void* vendor,
                                             int32_t channel_type, const void* endpoint) {
    call c(context, "quorin_databaseinfo_create_p");
    if (!c) return 0;
    return create_info(
        c, object_kind::database_info,
        {{"database", c.text(name, "database name")},
         {"vendor", c.text(vendor, "database vendor")},
         {"channel", channel_text(channel_type, c.text(endpoint, "channel", false))}});
}

void quorin_databaseinfo_delete(void* context, quorin_handle_t handle) {
    call c(context, "quorin_databaseinfo_delete");
    delete_info(c, handle, object_kind::database_info);
}

quorin_handle_t quorin_databaserequesttracer_create_sql_p(void* context, const void* database,
                                                          const void* statement) {
    call c(context, "quorin_databaserequesttracer_create_sql_p");
    if (!c) return 0;
    std::vector<attribute> attributes =
        info_attributes(c, database, object_kind::database_info, "database info");
    return create_tracer(c, tracer_kind::database_request, c.text(statement, "SQL statement"),
                         std::move(attributes));
}

void quorin_databaserequesttracer_set_returned_row_count(void* context, quorin_handle_t handle,
                                                         int32_t rows) {
    call c(context, "quorin_databaserequesttracer_set_returned_row_count");
    if (c && rows < 0) c.warn(format("negative row count %d", rows));
    add_attribute(c, handle, {tracer_kind::database_request}, "rows", format("%d", rows));
}

void quorin_databaserequesttracer_set_round_trip_count(void* context, quorin_handle_t handle,
                                                       int32_t round_trips) {
    call c(context, "quorin_databaserequesttracer_set_round_trip_count");
    if (c && round_trips < 0) c.warn(format("negative round-trip count %d", round_trips));
    add_attribute(c, handle, {tracer_kind::database_request}, "round_trips",
                  format("%d", round_trips));
}

quorin_handle_t quorin_webapplicationinfo_create_p(void* context, const void* server,
                                                   const void* application,
                                                   const void* context_root) {
    call c(context, "quorin_webapplicationinfo_create_p");
    if (!c) return 0;
    return create_info(c, object_kind::web_application_info,
                       {{"server", c.text(server, "web server name")},
                        {"application", c.text(application, "application id")},
                        {"context_root", c.text(context_root, "context root")}});
}

void quorin_webapplicationinfo_delete(void* context, quorin_handle_t handle) {
    call c(context, "quorin_webapplicationinfo_delete");
    delete_info(c, handle, object_kind::web_application_info);
}

quorin_handle_t quorin_incomingwebrequesttracer_create_p(void* context, const void* application,
                                                         const void* url, const void* method) {
    call c(context, "quorin_incomingwebrequesttracer_create_p");
    if (!c) return 0;
    std::vector<attribute> attributes =
        info_attributes(c, application, object_kind::web_application_info, "web application info");
    return create_tracer(c, tracer_kind::incoming_web_request,
                         c.text(method, "method") + " " + c.text(url, "URL"),
                         std::move(attributes));
}

void quorin_incomingwebrequesttracer_set_remote_address_p(void* context, quorin_handle_t handle,
                                                          const void* address) {
    call c(context, "quorin_incomingwebrequesttracer_set_remote_address_p");
    add_attribute(c, handle, {tracer_kind::incoming_web_request}, "remote",
                  c.text(address, "remote address"));
}

void quorin_incomingwebrequesttracer_add_request_headers_p(void* context, quorin_handle_t handle,
                                                           const void* names, const void* values,
                                                           const void* count) {
    call c(context, "quorin_incomingwebrequesttracer_add_request_headers_p");
    add_pairs(c, handle, tracer_kind::incoming_web_request, "request.", names, values, count);
}

void quorin_incomingwebrequesttracer_add_parameters_p(void* context, quorin_handle_t handle,
                                                      const void* names, const void* values,
                                                      const void* count) {
    call c(context, "quorin_incomingwebrequesttracer_add_parameters_p");
    add_pairs(c, handle, tracer_kind::incoming_web_request, "parameter.", names, values, count);
}

void quorin_incomingwebrequesttracer_add_response_headers_p(void* context, quorin_handle_t handle,
                                                            const void* names, const void* values,
                                                            const void* count) {
    call c(context, "quorin_incomingwebrequesttracer_add_response_headers_p");
    add_pairs(c, handle, tracer_kind::incoming_web_request, "response.", names, values, count);
}

void quorin_incomingwebrequesttracer_set_status_code(void* context, quorin_handle_t handle,
                                                     int32_t status) {
    call c(context, "quorin_incomingwebrequesttracer_set_status_code");
    add_attribute(c, handle, {tracer_kind::incoming_web_request}, "status", format("%d", status));
}

void quorin_customrequestattribute_add_integers_p(void* context, const void* keys,
                                                  const void* values, const void* count) {
    call c(context, "quorin_customrequestattribute_add_integers_p");
    add_custom_attributes<int64_t>(c, keys, values, count, [](int64_t value) {
        return format("%lld", static_cast<long long>(value));
    });
}

void quorin_customrequestattribute_add_floats_p(void* context, const void* keys, const void* values,
                                                const void* count) {
    call c(context, "quorin_customrequestattribute_add_floats_p");
    add_custom_attributes<double>(c, keys, values, count,
                                  [](double value) { return format("%g", value); });
}

void quorin_customrequestattribute_add_strings_p(void* context, const void* keys,
                                                 const void* values, const void* count) {
    call c(context, "quorin_customrequestattribute_add_strings_p");
    add_custom_attributes<const char*>(c, keys, values, count,
                                       [](const char* value) { return printable_text(value); });
}

quorin_handle_t quorin_outgoingwebrequesttracer_create_p(void* context, const void* url,
                                                         const void* method) {
    call c(context, "quorin_outgoingwebrequesttracer_create_p");
    if (!c) return 0;
    return create_tracer(c, tracer_kind::outgoing_web_request,
                         c.text(method, "method") + " " + c.text(url, "URL"));
}

void quorin_outgoingwebrequesttracer_add_request_headers_p(void* context, quorin_handle_t handle,
                                                           const void* names, const void* values,
                                                           const void* count) {
    call c(context, "quorin_outgoingwebrequesttracer_add_request_headers_p");
    add_pairs(c, handle, tracer_kind::outgoing_web_request, "request.", names, values, count);
}

void quorin_outgoingwebrequesttracer_add_response_headers_p(void* context, quorin_handle_t handle,
                                                            const void* names, const void* values,
                                                            const void* count) {
    call c(context, "quorin_outgoingwebrequesttracer_add_response_headers_p");
    add_pairs(c, handle, tracer_kind::outgoing_web_request, "response.", names, values, count);
}

void quorin_outgoingwebrequesttracer_set_status_code(void* context, quorin_handle_t handle,
                                                     int32_t status) {
    call c(context, "quorin_outgoingwebrequesttracer_set_status_code");
    add_attribute(c, handle, {tracer_kind::outgoing_web_request}, "status", format("%d", status));
}

quorin_handle_t quorin_customservicetracer_create_p(void* context, const void* method,
                                                    const void* name) {
    call c(context, "quorin_customservicetracer_create_p");
    if (!c) return 0;
    return create_tracer(c, tracer_kind::custom_service, service_title(c, method, name));
}

quorin_handle_t quorin_messagingsysteminfo_create_p(void* context, const void* vendor,
                                                    const void* destination,
                                                    int32_t destination_type, int32_t channel_type,
                                                    const void* endpoint) {
    call c(context, "quorin_messagingsysteminfo_create_p");
    if (!c) return 0;
    const char* type = destination_type == 0   ? "queue"
                       : destination_type == 1 ? "topic"
                                               : "unknown";
    if (destination_type != 0 && destination_type != 1) {
        c.warn(format("destination type %d is neither 0 (queue) nor 1 (topic)", destination_type));
    }
    return create_info(
        c, object_kind::messaging_system_info,
        {{"destination", c.text(destination, "destination name")},
         {"destination_type", type},
         {"vendor", c.text(vendor, "vendor name")},
         {"channel", channel_text(channel_type, c.text(endpoint, "channel", false))}});
}

void quorin_messagingsysteminfo_delete(void* context, quorin_handle_t handle) {
    call c(context, "quorin_messagingsysteminfo_delete");
    delete_info(c, handle, object_kind::messaging_system_info);
}

quorin_handle_t quorin_outgoingmessagetracer_create(void* context, uint64_t messaging) {
    call c(context, "quorin_outgoingmessagetracer_create");
    return c ? create_message_tracer(c, tracer_kind::outgoing_message, messaging) : 0;
}

void quorin_outgoingmessagetracer_set_vendor_message_id_p(void* context, quorin_handle_t handle,
                                                          const void* id) {
    call c(context, "quorin_outgoingmessagetracer_set_vendor_message_id_p");
    add_attribute(c, handle, {tracer_kind::outgoing_message}, "message_id",
                  c.text(id, "message id"));
}

void quorin_outgoingmessagetracer_set_correlation_id_p(void* context, quorin_handle_t handle,
                                                       const void* id) {
    call c(context, "quorin_outgoingmessagetracer_set_correlation_id_p");
    add_attribute(c, handle, {tracer_kind::outgoing_message}, "correlation_id",
                  c.text(id, "correlation id"));
}

quorin_handle_t quorin_incomingmessagereceivetracer_create(void* context, uint64_t messaging) {
    call c(context, "quorin_incomingmessagereceivetracer_create");
    return c ? create_message_tracer(c, tracer_kind::incoming_message_receive, messaging) : 0;
}

quorin_handle_t quorin_incomingmessageprocesstracer_create(void* context, uint64_t messaging) {
    call c(context, "quorin_incomingmessageprocesstracer_create");
    return c ? create_message_tracer(c, tracer_kind::incoming_message_process, messaging) : 0;
}

void quorin_incomingmessageprocesstracer_set_vendor_message_id_p(void* context,
                                                                 quorin_handle_t handle,
                                                                 const void* id) {
    call c(context, "quorin_incomingmessageprocesstracer_set_vendor_message_id_p");
    add_attribute(c, handle, {tracer_kind::incoming_message_process}, "message_id",
                  c.text(id, "message id"));
}

void quorin_incomingmessageprocesstracer_set_correlation_id_p(void* context, quorin_handle_t handle,
                                                              const void* id) {
    call c(context, "quorin_incomingmessageprocesstracer_set_correlation_id_p");
    add_attribute(c, handle, {tracer_kind::incoming_message_process}, "correlation_id",
                  c.text(id, "correlation id"));
}

}  // namespace slots
}  // namespace console
