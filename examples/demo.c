/* A small shop that serves three simulated requests and reports them through quorin.
 *
 *   quorin_demo [--cv_<option>=<value>]...
 *
 * With an agent (for instance --cv_home=<agent home>) the agent receives the traces; without
 * one every quorin call is a no-op and the shop works the same.
 *
 * The console agent's argument conventions apply: texts are UTF-8 and NUL-terminated, and
 * numbers handed in a pointer-sized argument (counts, info handles) travel by value. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quorin.h"
#include "wide_arguments.h"

/* A count or handle in a pointer-sized argument. */
#define BY_VALUE(n) ((const void*)(uintptr_t)(n))
#define COUNT_OF(array) (sizeof(array) / sizeof(array)[0])

enum { CHANNEL_TCP_IP = 1, DESTINATION_QUEUE = 0 };

struct shop {
    quorin_handle_t web_application;
    quorin_handle_t database;
    quorin_handle_t messaging;
    quorin_handle_t orders_placed;
    quorin_handle_t queue_depth;
    int queued_messages;
};

static void print_status(const char* what, quorin_status_t status) {
    quorin_wchar_t text[256];
    const quorin_wchar_t* c;
    quorin_stub_xstrerror(status, text, COUNT_OF(text));
    printf("demo: %s: ", what);
    for (c = text; *c != 0; ++c) putchar(*c < 0x80 ? (char)*c : '?');
    putchar('\n');
    fflush(stdout);
}

static int query_orders(const struct shop* shop, int customer) {
    quorin_handle_t query = quorin_databaserequesttracer_create_sql_p(
        BY_VALUE(shop->database), "SELECT id, total FROM orders WHERE customer_id = ?");
    const int rows = customer % 5 + 1;
    quorin_tracer_start(query);
    quorin_databaserequesttracer_set_returned_row_count(query, rows);
    quorin_databaserequesttracer_set_round_trip_count(query, 1);
    quorin_tracer_end(query);
    return rows;
}

static void check_stock(void) {
    static const char* const request_names[] = {"Accept", "X-Trace-Tag"};
    static const char* const response_names[] = {"Content-Type"};
    static const char* const response_values[] = {"application/json"};
    const char* request_values[2];
    char tag[128];
    size_t required = 0;
    quorin_handle_t call =
        quorin_outgoingwebrequesttracer_create_p("http://inventory.local/stock?item=17", "GET");
    quorin_tracer_start(call);
    /* The tag travels to the called service in a header, so its trace continues this one. */
    quorin_tracer_get_outgoing_corvantis_string_tag(call, tag, sizeof tag, &required);
    request_values[0] = "application/json";
    request_values[1] = tag;
    quorin_outgoingwebrequesttracer_add_request_headers_p(call, request_names, request_values,
                                                          BY_VALUE(COUNT_OF(request_names)));
    quorin_outgoingwebrequesttracer_add_response_headers_p(call, response_names, response_values,
                                                           BY_VALUE(COUNT_OF(response_names)));
    quorin_outgoingwebrequesttracer_set_status_code(call, 200);
    quorin_tracer_end(call);
}

static void publish_order_event(struct shop* shop, const char* order_id) {
    quorin_handle_t message = quorin_outgoingmessagetracer_create(shop->messaging);
    quorin_tracer_start(message);
    quorin_outgoingmessagetracer_set_vendor_message_id_p(message, "msg-0001");
    quorin_outgoingmessagetracer_set_correlation_id_p(message, order_id);
    quorin_tracer_end(message);
    quorin_integergaugemetric_set_value_p(shop->queue_depth, ++shop->queued_messages, "orders");
}

static quorin_handle_t begin_request(const struct shop* shop, const char* method, const char* url) {
    static const char* const header_names[] = {"Host", "User-Agent"};
    static const char* const header_values[] = {"shop.example", "demo-client/1.0"};
    quorin_handle_t request =
        quorin_incomingwebrequesttracer_create_p(BY_VALUE(shop->web_application), url, method);
    quorin_incomingwebrequesttracer_set_remote_address_p(request, "192.0.2.10:51234");
    quorin_incomingwebrequesttracer_add_request_headers_p(request, header_names, header_values,
                                                          BY_VALUE(COUNT_OF(header_names)));
    quorin_tracer_start(request);
    return request;
}

static void end_request(quorin_handle_t request, int status) {
    static const char* const names[] = {"Content-Type"};
    static const char* const values[] = {"application/json"};
    quorin_incomingwebrequesttracer_add_response_headers_p(request, names, values,
                                                           BY_VALUE(COUNT_OF(names)));
    quorin_incomingwebrequesttracer_set_status_code(request, status);
    quorin_tracer_end(request);
    printf("demo: served with status %d\n", status);
    fflush(stdout);
}

static void list_orders(const struct shop* shop) {
    static const char* const parameter_names[] = {"customer"};
    static const char* const parameter_values[] = {"42"};
    static const char* const keys[] = {"customer.tier"};
    static const char* const tiers[] = {"gold"};
    char trace_id[33], span_id[17];
    quorin_handle_t request = begin_request(shop, "GET", "/orders?customer=42");
    int rows;
    quorin_incomingwebrequesttracer_add_parameters_p(request, parameter_names, parameter_values,
                                                     BY_VALUE(1));
    quorin_customrequestattribute_add_strings_p(keys, tiers, BY_VALUE(1));
    quorin_tracecontext_get_current(trace_id, sizeof trace_id, span_id, sizeof span_id);
    printf("demo: GET /orders?customer=42 in trace %s, span %s\n", trace_id, span_id);
    rows = query_orders(shop, 42);
    printf("demo: found %d orders\n", rows);
    end_request(request, 200);
}

static void place_order(struct shop* shop) {
    static const char* const keys[] = {"cart.items"};
    const int64_t items[] = {3};
    quorin_handle_t request = begin_request(shop, "POST", "/orders");
    quorin_customrequestattribute_add_integers_p(keys, items, BY_VALUE(1));
    check_stock();
    query_orders(shop, 7);
    publish_order_event(shop, "order-1001");
    quorin_integercountermetric_increase_by_p(shop->orders_placed, 1, "web");
    end_request(request, 201);
}

static void pay_order(const struct shop* shop) {
    quorin_handle_t request = begin_request(shop, "POST", "/orders/1001/payment");
    quorin_handle_t payment = quorin_customservicetracer_create_p("charge", "PaymentService");
    quorin_tracer_start(payment);
    quorin_tracer_error_p(payment, "PaymentDeclined", "card expired");
    quorin_tracer_end(payment);
    end_request(request, 402);
}

static void open_shop(struct shop* shop) {
    shop->web_application = quorin_webapplicationinfo_create_p("demo-server", "shop", "/");
    shop->database =
        quorin_databaseinfo_create_p("orders", "demo-sql", CHANNEL_TCP_IP, "db.local:5432");
    shop->messaging = quorin_messagingsysteminfo_create_p(
        "demo-mq", "order-events", DESTINATION_QUEUE, CHANNEL_TCP_IP, "mq.local:5672");
    shop->orders_placed = quorin_integercountermetric_create_p("shop", "orders.placed", "count");
    shop->queue_depth = quorin_integergaugemetric_create_p("shop", "queue.depth", "messages");
    shop->queued_messages = 0;
}

static void close_shop(const struct shop* shop) {
    quorin_metric_delete(shop->queue_depth);
    quorin_metric_delete(shop->orders_placed);
    quorin_messagingsysteminfo_delete(shop->messaging);
    quorin_databaseinfo_delete(shop->database);
    quorin_webapplicationinfo_delete(shop->web_application);
}

int main(int argc, char** argv) {
    quorin_wchar_t** arguments = wide_arguments(argc, argv);
    struct shop shop;
    quorin_status_t status;
    if (arguments == NULL) {
        fprintf(stderr, "demo: cannot read the command line\n");
        return 1;
    }
    /* --cv_ arguments configure quorin (for instance --cv_home=..., --cv_loglevelsdk=info). */
    status = quorin_stub_process_cmdline_args(argc, arguments, 1);
    wide_arguments_free(argc, arguments);
    if (status != QUORIN_STATUS_OK) print_status("command line", status);

    status = quorin_initialize();
    print_status("quorin_initialize", status);

    open_shop(&shop);
    list_orders(&shop);
    place_order(&shop);
    pay_order(&shop);
    close_shop(&shop);

    print_status("quorin_shutdown", quorin_shutdown());
    quorin_stub_free_variables();
    return 0;
}
