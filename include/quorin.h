/*
 * quorin: the stub through which an application reports tracing data to a monitoring agent.
 *
 * The library traces nothing itself. quorin_initialize() gathers the options, loads the agent
 * module and binds it; from then on every tracing function below forwards into the agent.
 * Without an agent every function is a harmless no-op that returns a fixed default, so an
 * application may call the whole API unconditionally.
 *
 * Rules that hold for every function:
 * - Every status is a quorin_status_t: 0 on success, QUORIN_STATUS_* for the library's own codes,
 *   any other value is a system error code (or whatever the agent returned), passed on unchanged.
 * - The library's texts are UTF-16 (quorin_wchar_t). Output buffers are bounded by their
 *   capacity: a null buffer or capacity 0 writes nothing, otherwise the text is cut to
 *   capacity - 1 characters and terminated.
 * - The logging callback, and the agent's own entry points, run while the library holds its
 *   lifecycle lock: they must not call quorin_initialize, quorin_initialize_2 or quorin_shutdown.
 */
#ifndef QUORIN_H
#define QUORIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(QUORIN_BUILDING_LIBRARY)
#define QUORIN_API __declspec(dllexport)
#else
#define QUORIN_API __declspec(dllimport)
#endif
#else
#define QUORIN_API __attribute__((visibility("default")))
#endif

#if defined(_WIN32)
#include <wchar.h>
typedef wchar_t quorin_wchar_t;
#elif defined(__cplusplus)
typedef char16_t quorin_wchar_t;
#else
#include <uchar.h>
typedef char16_t quorin_wchar_t;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes ---------------------------------------------------------------------- */

typedef uint32_t quorin_status_t;

#define QUORIN_STATUS_OK ((quorin_status_t)0)
#define QUORIN_STATUS_GENERIC_ERROR ((quorin_status_t)0xAFFE0001u)
#define QUORIN_STATUS_INVALID_ARGUMENT ((quorin_status_t)0xAFFE0002u)
#define QUORIN_STATUS_NOT_IMPLEMENTED ((quorin_status_t)0xAFFE0003u)
#define QUORIN_STATUS_NOT_INITIALIZED ((quorin_status_t)0xAFFE0004u)
#define QUORIN_STATUS_OUT_OF_MEMORY ((quorin_status_t)0xAFFE0005u)
#define QUORIN_STATUS_AGENT_NOT_ACTIVE ((quorin_status_t)0xAFFE0006u)
#define QUORIN_STATUS_AGENT_LOAD_FAILED ((quorin_status_t)0xAFFE0007u)
#define QUORIN_STATUS_INVALID_AGENT_BINARY ((quorin_status_t)0xAFFE0008u)
#define QUORIN_STATUS_UNEXPECTED_ERROR ((quorin_status_t)0xAFFE0009u)
#define QUORIN_STATUS_ENTRY_EXISTS ((quorin_status_t)0xAFFE000Au)
#define QUORIN_STATUS_FEATURE_LEVEL_UNSUPPORTED ((quorin_status_t)0xAFFE000Bu)
#define QUORIN_STATUS_INTERFACE_UNSUPPORTED ((quorin_status_t)0xAFFE000Cu)
#define QUORIN_STATUS_FORK_CHILD ((quorin_status_t)0xAFFE000Du)
#define QUORIN_STATUS_OK_NO_DATA ((quorin_status_t)0xAFFE000Eu)

/* Writes the English text of an own code, or the system's text of any other code, into
 * buffer (capacity in characters). Returns buffer. Needs no initialization, never fails. */
QUORIN_API quorin_wchar_t* quorin_stub_xstrerror(quorin_status_t status, quorin_wchar_t* buffer,
                                                 size_t capacity);

/* ---- The library's own log -------------------------------------------------------------- */

#define QUORIN_LOGLEVEL_FINEST 0
#define QUORIN_LOGLEVEL_FINER 1
#define QUORIN_LOGLEVEL_FINE 2
#define QUORIN_LOGLEVEL_CONFIG 3
#define QUORIN_LOGLEVEL_INFO 4
#define QUORIN_LOGLEVEL_WARNING 5
#define QUORIN_LOGLEVEL_SEVERE 6
#define QUORIN_LOGLEVEL_DEBUG 7
#define QUORIN_LOGLEVEL_NONE 8

/* Receives one message of the library; message is never null and valid only during the call.
 * It may be called from several threads at once and with the lifecycle lock held. */
typedef void (*quorin_stub_logging_callback)(int32_t level, const quorin_wchar_t* message);

/* A message is emitted when its level is at least the logging level (initially NONE: nothing).
 * The callback is initially quorin_stub_default_logging_function; null switches output off.
 * The default writes one line per message to standard error:
 * "YYYY-MM-DD hh:mm:ss.mmm UTC [thread] level   [quorin] message". */
QUORIN_API void quorin_stub_set_logging_level(int32_t level);
QUORIN_API void quorin_stub_set_logging_callback(quorin_stub_logging_callback callback);
QUORIN_API void quorin_stub_default_logging_function(int32_t level, const quorin_wchar_t* message);

/* ---- Configuration ------------------------------------------------------------------------
 * Variables are "name=value" texts, read when quorin_initialize loads the agent. Names compare
 * without regard to ASCII case. Known names: agentactive, agentlibrary, loglevelsdk, home;
 * every other variable is passed on to the agent. A variable wins over the environment
 * variable of the same option (CV_AGENTACTIVE, CV_AGENTLIBRARY, CV_LOGLEVELSDK, CV_HOME).
 * Command-line arguments beginning exactly with "--cv_" are variables:
 * "--cv_home=/opt/agent" sets home. */

/* replace != 0 overwrites an existing variable; otherwise it yields ENTRY_EXISTS.
 * A null or empty text is ignored (0); a text without '=' is INVALID_ARGUMENT. */
QUORIN_API quorin_status_t quorin_stub_set_variable(const quorin_wchar_t* text, int32_t replace);
/* Empties the variable store. Initialization and shutdown never do. */
QUORIN_API void quorin_stub_free_variables(void);
/* 1 when argument begins with "--cv_", else 0. */
QUORIN_API int32_t quorin_stub_is_sdk_cmdline_arg(const quorin_wchar_t* argument);
/* Sets the variable of one "--cv_" argument; other arguments are ignored (0). */
QUORIN_API quorin_status_t quorin_stub_process_cmdline_arg(const quorin_wchar_t* argument,
                                                           int32_t replace);
/* Walks argv[1..argc-1]; every argument is processed. Returns the first failure other than
 * ENTRY_EXISTS, else ENTRY_EXISTS if one occurred, else 0. */
QUORIN_API quorin_status_t quorin_stub_process_cmdline_args(int32_t argc,
                                                            quorin_wchar_t* const* argv,
                                                            int32_t replace);
/* Removes the "--cv_" arguments from argv, keeping the order of the others; freed slots
 * point to an empty string. *argc becomes the new count. A negative count is refused. */
QUORIN_API quorin_status_t quorin_stub_strip_sdk_cmdline_args(int32_t* argc, quorin_wchar_t** argv);

/* ---- Lifecycle ----------------------------------------------------------------------------
 * Initialization and shutdown nest: each successful quorin_initialize needs one
 * quorin_shutdown; the last one releases the agent and unloads its module. Forwarded calls
 * must not overlap the shutdown that releases the agent. In a fork child that was forked
 * while another thread was inside these calls, they return QUORIN_STATUS_FORK_CHILD.
 * Neither may be called from DllMain nor from a module's static constructors or destructors:
 * initialization loads a module and an agent may start a thread, the release may wait for
 * one, and under the system's loader lock both can deadlock. A process that exits without
 * the last quorin_shutdown leaves the agent as it is, on every system: it waits for nothing
 * and frees nothing, and what it has queued (spans, lines) is not delivered. Call
 * quorin_shutdown before the process exits to deliver it. */

QUORIN_API quorin_status_t quorin_initialize(void);
/* As quorin_initialize; the flags reach the agent as one of its additional options. */
QUORIN_API quorin_status_t quorin_initialize_2(uint32_t flags);
/* NOT_INITIALIZED when nothing was initialized. */
QUORIN_API quorin_status_t quorin_shutdown(void);
/* The agent module's version text; never null, empty while no version is known. */
QUORIN_API const quorin_wchar_t* quorin_agent_get_version_string(void);
/* found: an agent module was loaded; compatible: its library interface was obtained.
 * After a failed initialization these tell how far it went. Either pointer may be null. */
QUORIN_API void quorin_stub_get_agent_load_info(int32_t* found, int32_t* compatible);

typedef struct quorin_stub_version {
    int32_t major;
    int32_t minor;
    int32_t patch;
} quorin_stub_version;

/* The stub's own version: 1.7.1. */
QUORIN_API void quorin_stub_get_version(quorin_stub_version* version);

/* ---- Core tracing API ----------------------------------------------------------------------
 * Every function below forwards to the agent with its arguments unchanged; their meaning is
 * the agent's contract (the library converts and checks nothing). Without an agent: creates
 * return the handle 0, status results are QUORIN_STATUS_NOT_INITIALIZED, the rest do nothing,
 * and the output writers fill their buffers with an empty answer (see each). */

typedef uint64_t quorin_handle_t;

/* Callbacks handed to the agent; they belong to the agent, not to the library's own log. */
typedef void (*quorin_agent_logging_callback)(const char* message);

/* Without an agent: 3. */
QUORIN_API int32_t quorin_agent_get_current_state(void);
/* Without an agent: -1. */
QUORIN_API int32_t quorin_agent_get_fork_state(void);
QUORIN_API void quorin_agent_set_logging_callback(quorin_agent_logging_callback callback);
QUORIN_API quorin_status_t
quorin_agent_set_warning_callback(quorin_agent_logging_callback callback);
QUORIN_API quorin_status_t
quorin_agent_set_verbose_callback(quorin_agent_logging_callback callback);

/* Tracers. */
QUORIN_API void quorin_tracer_start(quorin_handle_t tracer);
QUORIN_API void quorin_tracer_end(quorin_handle_t tracer);
QUORIN_API void quorin_tracer_error_p(quorin_handle_t tracer, const void* error_class,
                                      const void* error_message);

/* Tag exchange. Without an agent: the string tag is empty (buffer[0] = 0 when it has room,
 * *required_size = 1), the byte tag is empty (*required_size = 0); the result is 0. */
QUORIN_API size_t quorin_tracer_get_outgoing_corvantis_string_tag(quorin_handle_t tracer,
                                                                  char* buffer, size_t buffer_size,
                                                                  size_t* required_size);
QUORIN_API size_t quorin_tracer_get_outgoing_corvantis_byte_tag(quorin_handle_t tracer,
                                                                unsigned char* buffer,
                                                                size_t buffer_size,
                                                                size_t* required_size);
QUORIN_API void quorin_tracer_set_incoming_corvantis_string_tag_p(quorin_handle_t tracer,
                                                                  const void* tag);
QUORIN_API void quorin_tracer_set_incoming_corvantis_byte_tag(quorin_handle_t tracer,
                                                              const unsigned char* tag,
                                                              size_t tag_size);

/* Remote calls. */
QUORIN_API quorin_handle_t quorin_outgoingremotecalltracer_create_p(const void* service_method,
                                                                    const void* service_name,
                                                                    const void* service_endpoint,
                                                                    int32_t channel_type,
                                                                    const void* channel_endpoint);
QUORIN_API void quorin_outgoingremotecalltracer_set_protocol_name_p(quorin_handle_t tracer,
                                                                    const void* protocol_name);
QUORIN_API quorin_handle_t quorin_incomingremotecalltracer_create_p(const void* service_method,
                                                                    const void* service_name,
                                                                    const void* service_endpoint);
QUORIN_API void quorin_incomingremotecalltracer_set_protocol_name_p(quorin_handle_t tracer,
                                                                    const void* protocol_name);

/* Databases. */
QUORIN_API quorin_handle_t quorin_databaseinfo_create_p(const void* name, const void* vendor,
                                                        int32_t channel_type,
                                                        const void* channel_endpoint);
QUORIN_API void quorin_databaseinfo_delete(quorin_handle_t database_info);
QUORIN_API quorin_handle_t quorin_databaserequesttracer_create_sql_p(const void* database_info,
                                                                     const void* statement);
QUORIN_API void quorin_databaserequesttracer_set_returned_row_count(quorin_handle_t tracer,
                                                                    int32_t row_count);
QUORIN_API void quorin_databaserequesttracer_set_round_trip_count(quorin_handle_t tracer,
                                                                  int32_t round_trip_count);

/* Incoming web requests. */
QUORIN_API quorin_handle_t quorin_webapplicationinfo_create_p(const void* web_server_name,
                                                              const void* application_id,
                                                              const void* context_root);
QUORIN_API void quorin_webapplicationinfo_delete(quorin_handle_t web_application_info);
QUORIN_API quorin_handle_t quorin_incomingwebrequesttracer_create_p(
    const void* web_application_info, const void* url, const void* method);
QUORIN_API void quorin_incomingwebrequesttracer_set_remote_address_p(quorin_handle_t tracer,
                                                                     const void* remote_address);
QUORIN_API void quorin_incomingwebrequesttracer_add_request_headers_p(quorin_handle_t tracer,
                                                                      const void* names,
                                                                      const void* values,
                                                                      const void* count);
QUORIN_API void quorin_incomingwebrequesttracer_add_parameters_p(quorin_handle_t tracer,
                                                                 const void* names,
                                                                 const void* values,
                                                                 const void* count);
QUORIN_API void quorin_incomingwebrequesttracer_add_response_headers_p(quorin_handle_t tracer,
                                                                       const void* names,
                                                                       const void* values,
                                                                       const void* count);
QUORIN_API void quorin_incomingwebrequesttracer_set_status_code(quorin_handle_t tracer,
                                                                int32_t status_code);

/* Custom request attributes. */
QUORIN_API void quorin_customrequestattribute_add_integers_p(const void* keys, const void* values,
                                                             const void* count);
QUORIN_API void quorin_customrequestattribute_add_floats_p(const void* keys, const void* values,
                                                           const void* count);
QUORIN_API void quorin_customrequestattribute_add_strings_p(const void* keys, const void* values,
                                                            const void* count);

/* In-process links. Without an agent: an empty link (*required_size = 0), result 0. */
QUORIN_API size_t quorin_inprocesslink_create(uint64_t buffer, uint64_t buffer_size,
                                              size_t* required_size);
QUORIN_API quorin_handle_t quorin_inprocesslinktracer_create(uint64_t link, uint64_t link_size);

/* Outgoing web requests. */
QUORIN_API quorin_handle_t quorin_outgoingwebrequesttracer_create_p(const void* url,
                                                                    const void* method);
QUORIN_API void quorin_outgoingwebrequesttracer_add_request_headers_p(quorin_handle_t tracer,
                                                                      const void* names,
                                                                      const void* values,
                                                                      const void* count);
QUORIN_API void quorin_outgoingwebrequesttracer_add_response_headers_p(quorin_handle_t tracer,
                                                                       const void* names,
                                                                       const void* values,
                                                                       const void* count);
QUORIN_API void quorin_outgoingwebrequesttracer_set_status_code(quorin_handle_t tracer,
                                                                int32_t status_code);

/* Custom services. */
QUORIN_API quorin_handle_t quorin_customservicetracer_create_p(const void* service_method,
                                                               const void* service_name);

/* Messaging. */
QUORIN_API quorin_handle_t quorin_messagingsysteminfo_create_p(const void* vendor_name,
                                                               const void* destination_name,
                                                               int32_t destination_type,
                                                               int32_t channel_type,
                                                               const void* channel_endpoint);
QUORIN_API void quorin_messagingsysteminfo_delete(quorin_handle_t messaging_system_info);
QUORIN_API quorin_handle_t quorin_outgoingmessagetracer_create(uint64_t messaging_system_info);
QUORIN_API void quorin_outgoingmessagetracer_set_vendor_message_id_p(quorin_handle_t tracer,
                                                                     const void* message_id);
QUORIN_API void quorin_outgoingmessagetracer_set_correlation_id_p(quorin_handle_t tracer,
                                                                  const void* correlation_id);
QUORIN_API quorin_handle_t
quorin_incomingmessagereceivetracer_create(uint64_t messaging_system_info);
QUORIN_API quorin_handle_t
quorin_incomingmessageprocesstracer_create(uint64_t messaging_system_info);
QUORIN_API void quorin_incomingmessageprocesstracer_set_vendor_message_id_p(quorin_handle_t tracer,
                                                                            const void* message_id);
QUORIN_API void quorin_incomingmessageprocesstracer_set_correlation_id_p(
    quorin_handle_t tracer, const void* correlation_id);

/* The current trace context as 8-bit hex texts. Without an agent: 32 '0' digits for the trace
 * id when trace_id_size > 32, 16 for the span id when span_id_size > 16, else an empty text;
 * the result is QUORIN_STATUS_NOT_INITIALIZED. */
QUORIN_API quorin_status_t quorin_tracecontext_get_current(char* trace_id, size_t trace_id_size,
                                                           char* span_id, size_t span_id_size);

/* ---- Extension APIs -------------------------------------------------------------------------
 * Metrics forward from the first successful quorin_initialize on. Span, techtype, tracer_ext
 * and serverless forward only after their enabling function succeeded, and must be enabled
 * again after every quorin_initialize that loaded the agent anew. Enabling before
 * initialization returns QUORIN_STATUS_NOT_INITIALIZED. Without the agent or the extension:
 * creates and quorin_ex_tracer_start_2 return 0, the rest do nothing. Enabling must not
 * overlap quorin_initialize or quorin_shutdown. */

QUORIN_API quorin_status_t quorin_ex_api_enable_serverless(void);
QUORIN_API quorin_status_t quorin_ex_api_enable_span(void);
QUORIN_API quorin_status_t quorin_ex_api_enable_techtype(void);
QUORIN_API quorin_status_t quorin_ex_api_enable_tracer_ext(void);

/* Metrics. */
QUORIN_API void quorin_metric_delete(quorin_handle_t metric);
QUORIN_API quorin_handle_t quorin_integercountermetric_create_p(const void* metric_group,
                                                                const void* metric_key,
                                                                const void* unit);
QUORIN_API quorin_handle_t quorin_floatcountermetric_create_p(const void* metric_group,
                                                              const void* metric_key,
                                                              const void* unit);
QUORIN_API quorin_handle_t quorin_integergaugemetric_create_p(const void* metric_group,
                                                              const void* metric_key,
                                                              const void* unit);
QUORIN_API quorin_handle_t quorin_floatgaugemetric_create_p(const void* metric_group,
                                                            const void* metric_key,
                                                            const void* unit);
QUORIN_API quorin_handle_t quorin_integerstatisticsmetric_create_p(const void* metric_group,
                                                                   const void* metric_key,
                                                                   const void* unit);
QUORIN_API quorin_handle_t quorin_floatstatisticsmetric_create_p(const void* metric_group,
                                                                 const void* metric_key,
                                                                 const void* unit);
QUORIN_API void quorin_integercountermetric_increase_by_p(quorin_handle_t metric, int64_t value,
                                                          const void* dimension);
QUORIN_API void quorin_floatcountermetric_increase_by_p(quorin_handle_t metric, double value,
                                                        const void* dimension);
QUORIN_API void quorin_integergaugemetric_set_value_p(quorin_handle_t metric, int64_t value,
                                                      const void* dimension);
QUORIN_API void quorin_floatgaugemetric_set_value_p(quorin_handle_t metric, double value,
                                                    const void* dimension);
QUORIN_API void quorin_integerstatisticsmetric_add_value_p(quorin_handle_t metric, int64_t value,
                                                           const void* dimension);
QUORIN_API void quorin_floatstatisticsmetric_add_value_p(quorin_handle_t metric, double value,
                                                         const void* dimension);

/* Spans. */
QUORIN_API quorin_handle_t quorin_ex_spantracer_create(int32_t span_kind);
QUORIN_API void quorin_ex_spantracer_set_ids_p(quorin_handle_t span, const void* a, const void* b,
                                               const void* c);
QUORIN_API void quorin_ex_spantracer_set_integers_p(quorin_handle_t span, const void* keys,
                                                    const void* values, const void* count);
QUORIN_API void quorin_ex_spantracer_set_doubles_p(quorin_handle_t span, const void* keys,
                                                   const void* values, const void* count);
QUORIN_API void quorin_ex_spantracer_set_floats_p(quorin_handle_t span, const void* keys,
                                                  const void* values, const void* count);
QUORIN_API void quorin_ex_spantracer_set_bools_p(quorin_handle_t span, const void* keys,
                                                 const void* values, const void* count);
QUORIN_API void quorin_ex_spantracer_set_strings_p(quorin_handle_t span, const void* keys,
                                                   const void* values, const void* count);
QUORIN_API void quorin_ex_spantracer_set_operationname_p(quorin_handle_t span,
                                                         const void* operation_name);

/* Process technology types. */
QUORIN_API void quorin_ex_agent_add_process_technology_p(int32_t technology_type,
                                                         const void* edition, const void* version);

/* Second tracer start and timed end. */
QUORIN_API uint64_t quorin_ex_tracer_start_2(quorin_handle_t tracer, uint64_t a, uint64_t b);
QUORIN_API void quorin_ex_tracer_end_timed(quorin_handle_t tracer, uint64_t end_time);

/* Serverless: asks the agent to send its data now. */
QUORIN_API void quorin_ex_agent_force_send_data_now(void);

#ifdef __cplusplus
}
#endif

#endif /* QUORIN_H */
