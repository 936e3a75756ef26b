// Slots that create and describe the tracers of each kind: web requests, remote calls,
// databases, messaging, custom services, and the custom request attributes.
#include "entries.h"
#include "slots.h"
#include "text.h"

namespace agent_core {
namespace {

quorin_handle_t handle_of(const void* by_value) {
    return static_cast<quorin_handle_t>(reinterpret_cast<uintptr_t>(by_value));
}

// A tracer made from an info object carries the info's attributes. Inline: a create slot
// does little else.
[[gnu::always_inline]] inline record_ptr tracer_from_info(call& c, tracer_kind kind,
                                                          quorin_handle_t info,
                                                          object_kind info_kind, const char* role) {
    record_ptr tracer = new_tracer(c, kind);
    // Every thread makes tracers from the same few info objects: the thread's copy spares
    // them the object's lock, and the tracers share its attributes instead of copying them.
    thread_state& thread = c.thread();
    if (const object_record* copy = thread.infos.find(info, info_kind)) {
        tracer->share_attributes(*copy);
    } else if (object_table::locked found = c.find(info, info_kind, role)) {
        if (const object_record* kept = thread.infos.keep(found)) {
            tracer->share_attributes(*kept);
        } else {
            tracer->add_all(*found);
        }
    }
    return tracer;
}

quorin_handle_t publish_info(call& c, record_ptr info) {
    const quorin_handle_t handle = c.core().publish(c, std::move(info));
    c.detail(" -> %llu", static_cast<unsigned long long>(handle));
    return handle;
}

void delete_info(call& c, quorin_handle_t handle, object_kind kind) {
    if (!c) return;
    if (object_table::locked info = c.find(handle, kind, object_kind_name(kind))) {
        c.core().remove(c, std::move(info));
    }
}

void add_service(call& c, object_record& tracer, const void* method, const void* name) {
    c.add_text(tracer, attribute_key::service_method, method, "service method");
    c.add_text(tracer, attribute_key::service_name, name, "service name");
}

// Sets one attribute on a live tracer of the kind; the value is read before the tracer is.
template <typename Add>
void set_attribute(call& c, const nesting_entry* here, quorin_handle_t handle, tracer_kind kind,
                   Add add) {
    object_table::locked tracer = live_tracer(c, here, handle, kind);
    if (tracer) c.kept(*tracer, add(*tracer));
}

void set_text(call& c, quorin_handle_t handle, tracer_kind kind, attribute_key key,
              const void* value, const char* role) {
    if (!c) return;
    const nesting_entry* here = started_on_this_thread(c, handle, kind);
    if (unrecorded(here, handle)) return;
    const std::string_view text = c.text(value, role);
    set_attribute(c, here, handle, kind,
                  [&](object_record& tracer) { return tracer.add_text(key, text); });
}

// The kind and the key are the slot's.
template <tracer_kind kind, attribute_key key>
[[gnu::always_inline]] inline void set_integer(call& c, quorin_handle_t handle, int64_t value) {
    if (!c) return;
    const nesting_entry* here = started_on_this_thread(c, handle, kind);
    if (unrecorded(here, handle)) return;
    set_attribute(c, here, handle, kind,
                  [&](object_record& tracer) { return tracer.add_integer(key, value); });
}

// Custom request attributes belong to the innermost tracer started on the calling thread.
template <typename Value>
void add_custom_attributes(call& c, const void* keys, const void* values, const void* count) {
    if (!c) return;
    uint64_t entries = 0;
    if (!c.count(count, &entries) || entries == 0) return;
    const nesting_entry* current = c.core().current(c);
    if (current == nullptr) {
        c.warn("no tracer is started on this thread: the attributes are dropped");
        return;
    }
    if (!recorded(current->context)) return;
    object_table::locked tracer = c.core().objects.find(current->handle);
    if (!tracer) return;  // ended meanwhile on another thread
    add_entries<Value>(c, *tracer, attribute_key::custom, keys, values, entries, "key");
}

quorin_handle_t create_message_tracer(call& c, tracer_kind kind, uint64_t messaging) {
    return publish_tracer(c,
                          tracer_from_info(c, kind, messaging, object_kind::messaging_system_info,
                                           "messaging system info"));
}

}  // namespace

namespace slots {

quorin_handle_t quorin_outgoingremotecalltracer_create_p(void* context, const void* method,
                                                         const void* name, const void* endpoint,
                                                         int32_t channel_type,
                                                         const void* channel_endpoint) {
    call c(context, "quorin_outgoingremotecalltracer_create_p");
    if (!c) return 0;
    record_ptr tracer = new_tracer(c, tracer_kind::outgoing_remote_call);
    add_service(c, *tracer, method, name);
    c.add_text(*tracer, attribute_key::service_endpoint, endpoint, "service endpoint", false);
    tracer->add_channel(channel_type, c.text(channel_endpoint, "channel", false));
    return publish_tracer(c, std::move(tracer));
}

void quorin_outgoingremotecalltracer_set_protocol_name_p(void* context, quorin_handle_t handle,
                                                         const void* protocol) {
    call c(context, "quorin_outgoingremotecalltracer_set_protocol_name_p");
    set_text(c, handle, tracer_kind::outgoing_remote_call, attribute_key::protocol_name, protocol,
             "protocol name");
}

quorin_handle_t quorin_incomingremotecalltracer_create_p(void* context, const void* method,
                                                         const void* name, const void* endpoint) {
    call c(context, "quorin_incomingremotecalltracer_create_p");
    if (!c) return 0;
    record_ptr tracer = new_tracer(c, tracer_kind::incoming_remote_call);
    add_service(c, *tracer, method, name);
    c.add_text(*tracer, attribute_key::service_endpoint, endpoint, "service endpoint", false);
    return publish_tracer(c, std::move(tracer));
}

void quorin_incomingremotecalltracer_set_protocol_name_p(void* context, quorin_handle_t handle,
                                                         const void* protocol) {
    call c(context, "quorin_incomingremotecalltracer_set_protocol_name_p");
    set_text(c, handle, tracer_kind::incoming_remote_call, attribute_key::protocol_name, protocol,
             "protocol name");
}

quorin_handle_t quorin_databaseinfo_create_p(void* context, const void* name, const void* vendor,
                                             int32_t channel_type, const void* endpoint) {
    call c(context, "quorin_databaseinfo_create_p");
    if (!c) return 0;
    record_ptr info = c.new_record(object_kind::database_info);
    c.add_text(*info, attribute_key::database_name, name, "database name");
    c.add_text(*info, attribute_key::database_vendor, vendor, "database vendor");
    info->add_channel(channel_type, c.text(endpoint, "channel", false));
    return publish_info(c, std::move(info));
}

void quorin_databaseinfo_delete(void* context, quorin_handle_t handle) {
    call c(context, "quorin_databaseinfo_delete");
    delete_info(c, handle, object_kind::database_info);
}

quorin_handle_t quorin_databaserequesttracer_create_sql_p(void* context, const void* database,
                                                          const void* statement) {
    call c(context, "quorin_databaserequesttracer_create_sql_p");
    if (!c) return 0;
    record_ptr tracer = tracer_from_info(c, tracer_kind::database_request, handle_of(database),
                                         object_kind::database_info, "database info");
    c.add_text(*tracer, attribute_key::statement, statement, "SQL statement");
    return publish_tracer(c, std::move(tracer));
}

void quorin_databaserequesttracer_set_returned_row_count(void* context, quorin_handle_t handle,
                                                         int32_t rows) {
    call c(context, "quorin_databaserequesttracer_set_returned_row_count");
    if (c && rows < 0) c.warn(format("negative row count %d", rows));
    set_integer<tracer_kind::database_request, attribute_key::returned_rows>(c, handle, rows);
}

void quorin_databaserequesttracer_set_round_trip_count(void* context, quorin_handle_t handle,
                                                       int32_t round_trips) {
    call c(context, "quorin_databaserequesttracer_set_round_trip_count");
    if (c && round_trips < 0) c.warn(format("negative round-trip count %d", round_trips));
    set_integer<tracer_kind::database_request, attribute_key::round_trips>(c, handle, round_trips);
}

quorin_handle_t quorin_webapplicationinfo_create_p(void* context, const void* server,
                                                   const void* application,
                                                   const void* context_root) {
    call c(context, "quorin_webapplicationinfo_create_p");
    if (!c) return 0;
    record_ptr info = c.new_record(object_kind::web_application_info);
    c.add_text(*info, attribute_key::web_server_name, server, "web server name");
    c.add_text(*info, attribute_key::application_id, application, "application id");
    c.add_text(*info, attribute_key::context_root, context_root, "context root");
    return publish_info(c, std::move(info));
}

void quorin_webapplicationinfo_delete(void* context, quorin_handle_t handle) {
    call c(context, "quorin_webapplicationinfo_delete");
    delete_info(c, handle, object_kind::web_application_info);
}

quorin_handle_t quorin_incomingwebrequesttracer_create_p(void* context, const void* application,
                                                         const void* url, const void* method) {
    call c(context, "quorin_incomingwebrequesttracer_create_p");
    if (!c) return 0;
    record_ptr tracer =
        tracer_from_info(c, tracer_kind::incoming_web_request, handle_of(application),
                         object_kind::web_application_info, "web application info");
    c.add_text(*tracer, attribute_key::method, method, "method");
    c.add_text(*tracer, attribute_key::url, url, "URL");
    return publish_tracer(c, std::move(tracer));
}

void quorin_incomingwebrequesttracer_set_remote_address_p(void* context, quorin_handle_t handle,
                                                          const void* address) {
    call c(context, "quorin_incomingwebrequesttracer_set_remote_address_p");
    set_text(c, handle, tracer_kind::incoming_web_request, attribute_key::remote_address, address,
             "remote address");
}

void quorin_incomingwebrequesttracer_add_request_headers_p(void* context, quorin_handle_t handle,
                                                           const void* names, const void* values,
                                                           const void* count) {
    call c(context, "quorin_incomingwebrequesttracer_add_request_headers_p");
    add_pairs<const char*, tracer_kind::incoming_web_request, attribute_key::request_header>(
        c, handle, names, values, count);
}

void quorin_incomingwebrequesttracer_add_parameters_p(void* context, quorin_handle_t handle,
                                                      const void* names, const void* values,
                                                      const void* count) {
    call c(context, "quorin_incomingwebrequesttracer_add_parameters_p");
    add_pairs<const char*, tracer_kind::incoming_web_request, attribute_key::parameter>(
        c, handle, names, values, count);
}

void quorin_incomingwebrequesttracer_add_response_headers_p(void* context, quorin_handle_t handle,
                                                            const void* names, const void* values,
                                                            const void* count) {
    call c(context, "quorin_incomingwebrequesttracer_add_response_headers_p");
    add_pairs<const char*, tracer_kind::incoming_web_request, attribute_key::response_header>(
        c, handle, names, values, count);
}

void quorin_incomingwebrequesttracer_set_status_code(void* context, quorin_handle_t handle,
                                                     int32_t status) {
    call c(context, "quorin_incomingwebrequesttracer_set_status_code");
    set_integer<tracer_kind::incoming_web_request, attribute_key::status_code>(c, handle, status);
}

void quorin_customrequestattribute_add_integers_p(void* context, const void* keys,
                                                  const void* values, const void* count) {
    call c(context, "quorin_customrequestattribute_add_integers_p");
    add_custom_attributes<int64_t>(c, keys, values, count);
}

void quorin_customrequestattribute_add_floats_p(void* context, const void* keys, const void* values,
                                                const void* count) {
    call c(context, "quorin_customrequestattribute_add_floats_p");
    add_custom_attributes<double>(c, keys, values, count);
}

void quorin_customrequestattribute_add_strings_p(void* context, const void* keys,
                                                 const void* values, const void* count) {
    call c(context, "quorin_customrequestattribute_add_strings_p");
    add_custom_attributes<const char*>(c, keys, values, count);
}

quorin_handle_t quorin_outgoingwebrequesttracer_create_p(void* context, const void* url,
                                                         const void* method) {
    call c(context, "quorin_outgoingwebrequesttracer_create_p");
    if (!c) return 0;
    record_ptr tracer = new_tracer(c, tracer_kind::outgoing_web_request);
    c.add_text(*tracer, attribute_key::method, method, "method");
    c.add_text(*tracer, attribute_key::url, url, "URL");
    return publish_tracer(c, std::move(tracer));
}

void quorin_outgoingwebrequesttracer_add_request_headers_p(void* context, quorin_handle_t handle,
                                                           const void* names, const void* values,
                                                           const void* count) {
    call c(context, "quorin_outgoingwebrequesttracer_add_request_headers_p");
    add_pairs<const char*, tracer_kind::outgoing_web_request, attribute_key::request_header>(
        c, handle, names, values, count);
}

void quorin_outgoingwebrequesttracer_add_response_headers_p(void* context, quorin_handle_t handle,
                                                            const void* names, const void* values,
                                                            const void* count) {
    call c(context, "quorin_outgoingwebrequesttracer_add_response_headers_p");
    add_pairs<const char*, tracer_kind::outgoing_web_request, attribute_key::response_header>(
        c, handle, names, values, count);
}

void quorin_outgoingwebrequesttracer_set_status_code(void* context, quorin_handle_t handle,
                                                     int32_t status) {
    call c(context, "quorin_outgoingwebrequesttracer_set_status_code");
    set_integer<tracer_kind::outgoing_web_request, attribute_key::status_code>(c, handle, status);
}

quorin_handle_t quorin_customservicetracer_create_p(void* context, const void* method,
                                                    const void* name) {
    call c(context, "quorin_customservicetracer_create_p");
    if (!c) return 0;
    record_ptr tracer = new_tracer(c, tracer_kind::custom_service);
    add_service(c, *tracer, method, name);
    return publish_tracer(c, std::move(tracer));
}

quorin_handle_t quorin_messagingsysteminfo_create_p(void* context, const void* vendor,
                                                    const void* destination,
                                                    int32_t destination_type, int32_t channel_type,
                                                    const void* endpoint) {
    call c(context, "quorin_messagingsysteminfo_create_p");
    if (!c) return 0;
    if (destination_type != 0 && destination_type != 1) {
        c.warn(format("destination type %d is neither 0 (queue) nor 1 (topic)", destination_type));
    }
    record_ptr info = c.new_record(object_kind::messaging_system_info);
    c.add_text(*info, attribute_key::destination_name, destination, "destination name");
    info->add_integer(attribute_key::destination_type, destination_type);
    c.add_text(*info, attribute_key::messaging_vendor, vendor, "vendor name");
    info->add_channel(channel_type, c.text(endpoint, "channel", false));
    return publish_info(c, std::move(info));
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
    set_text(c, handle, tracer_kind::outgoing_message, attribute_key::message_id, id, "message id");
}

void quorin_outgoingmessagetracer_set_correlation_id_p(void* context, quorin_handle_t handle,
                                                       const void* id) {
    call c(context, "quorin_outgoingmessagetracer_set_correlation_id_p");
    set_text(c, handle, tracer_kind::outgoing_message, attribute_key::correlation_id, id,
             "correlation id");
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
    set_text(c, handle, tracer_kind::incoming_message_process, attribute_key::message_id, id,
             "message id");
}

void quorin_incomingmessageprocesstracer_set_correlation_id_p(void* context, quorin_handle_t handle,
                                                              const void* id) {
    call c(context, "quorin_incomingmessageprocesstracer_set_correlation_id_p");
    set_text(c, handle, tracer_kind::incoming_message_process, attribute_key::correlation_id, id,
             "correlation id");
}

}  // namespace slots
}  // namespace agent_core
