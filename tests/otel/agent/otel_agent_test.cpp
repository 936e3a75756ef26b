// The OpenTelemetry agent through the real library, against the OTLP receiver: what the
// application reports arrives as spans and metric points after the conventions, the trace
// context crosses processes and threads, sampling, settings, and a collector that is away or
// never answers.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "otel_agent_fixture.h"
#include "support/scoped_state.h"

namespace otel_test {
namespace {

#ifdef _WIN32
constexpr bool windows = true;
#else
constexpr bool windows = false;
#endif
constexpr const char* sampled_parent = "00-0af7651916cd43dd8448eb211c80319c-b7ad6b7169203331-01";
constexpr const char* unsampled_parent = "00-0af7651916cd43dd8448eb211c80319c-b7ad6b7169203331-00";

std::string outgoing_tag(quorin_handle_t tracer) {
    char tag[128] = {};
    size_t required = 0;
    quorin_tracer_get_outgoing_corvantis_string_tag(tracer, tag, sizeof tag, &required);
    return tag;
}

void expect_attributes(const received_span& span, const fields& expected) {
    for (const auto& [key, value] : expected) {
        const auto found = span.attributes.find(key);
        EXPECT_TRUE(found != span.attributes.end() && found->second == value)
            << span.name << ": " << key << " is '"
            << (found == span.attributes.end() ? "(none)" : found->second) << "', not '" << value
            << "'";
    }
}

// A shop's request as an application reports it: an incoming request that calls a service
// (with the tag in a header), queries a database, sends a message and fails in a payment.
struct shop_run {
    std::string client_tag, context_trace, context_span;
};

shop_run serve_order() {
    shop_run run;
    const quorin_handle_t app = quorin_webapplicationinfo_create_p("demo-server", "shop", "/");
    const quorin_handle_t db =
        quorin_databaseinfo_create_p("orders", "PostgreSQL", 1, "db.local:5432");
    const quorin_handle_t mq =
        quorin_messagingsysteminfo_create_p("Apache Kafka", "order-events", 0, 1, "mq.local:9092");
    static const char* const names[] = {"Host", "Accept"};
    static const char* const values[] = {"shop.example:8080", "text/html"};
    static const char* const keys[] = {"cart.items"};
    static const int64_t items[] = {3};
    const quorin_handle_t request =
        quorin_incomingwebrequesttracer_create_p(BY_VALUE(app), "/orders?id=7", "POST");
    quorin_incomingwebrequesttracer_set_remote_address_p(request, "192.0.2.10:51234");
    quorin_incomingwebrequesttracer_add_request_headers_p(request, names, values, BY_VALUE(2));
    quorin_tracer_start(request);
    quorin_customrequestattribute_add_integers_p(keys, items, BY_VALUE(1));
    char trace_id[33], span_id[17];
    EXPECT_EQ(quorin_tracecontext_get_current(trace_id, sizeof trace_id, span_id, sizeof span_id),
              0u);
    run.context_trace = trace_id;
    run.context_span = span_id;

    const quorin_handle_t call =
        quorin_outgoingwebrequesttracer_create_p("https://stock.local:8443/items?id=17", "GET");
    quorin_tracer_start(call);
    run.client_tag = outgoing_tag(call);
    quorin_outgoingwebrequesttracer_set_status_code(call, 503);
    quorin_tracer_end(call);

    const quorin_handle_t query =
        quorin_databaserequesttracer_create_sql_p(BY_VALUE(db), "select * from orders");
    quorin_tracer_start(query);
    quorin_databaserequesttracer_set_returned_row_count(query, 4);
    quorin_tracer_end(query);

    const quorin_handle_t message = quorin_outgoingmessagetracer_create(mq);
    quorin_tracer_start(message);
    quorin_outgoingmessagetracer_set_vendor_message_id_p(message, "m-1");
    quorin_outgoingmessagetracer_set_correlation_id_p(message, "order-7");
    quorin_tracer_end(message);

    const quorin_handle_t payment = quorin_customservicetracer_create_p("charge", "PaymentService");
    quorin_tracer_start(payment);
    quorin_tracer_error_p(payment, "PaymentDeclined", "card expired");
    quorin_tracer_end(payment);

    quorin_incomingwebrequesttracer_set_status_code(request, 402);
    quorin_tracer_end(request);
    quorin_webapplicationinfo_delete(app);
    quorin_databaseinfo_delete(db);
    quorin_messagingsysteminfo_delete(mq);
    return run;
}

TEST_F(otel_agent_test, ShopRequestArrivesAsSpansAfterTheConventions) {
    initialize();
    const shop_run run = serve_order();
    const auto spans = shutdown_and_receive_spans();
    ASSERT_EQ(spans.size(), 5u);

    const received_span server = span_named(spans, "POST");
    EXPECT_EQ(server.service, "shop");  // the web application names the service
    // Who sends: the library, on this host, in this process.
    fields resource = server.resource;
    EXPECT_FALSE(resource["host.name"].empty());
    EXPECT_EQ(resource["telemetry.sdk.name"] + " " + resource["telemetry.sdk.language"] + " " +
                  resource["telemetry.sdk.version"] + " " + resource["os.type"],
              std::string("quorin cpp ") + QUORIN_VERSION + (windows ? " windows" : " linux"));
    EXPECT_EQ(server.kind, 2);
    EXPECT_EQ(server.parent, "");
    EXPECT_EQ(server.trace, run.context_trace);
    EXPECT_EQ(server.span, run.context_span);
    EXPECT_EQ(server.status, 0);  // a 4xx answer is no failure of the server
    const fields expected_server = {{"http.request.method", "POST"},
                                    {"url.path", "/orders"},
                                    {"url.query", "id=7"},
                                    {"server.address", "shop.example"},
                                    {"server.port", "8080"},
                                    {"client.address", "192.0.2.10"},
                                    {"client.port", "51234"},
                                    {"http.request.header.host", "shop.example:8080"},
                                    {"http.request.header.accept", "text/html"},
                                    {"http.response.status_code", "402"},
                                    {"cart.items", "3"}};
    expect_attributes(server, expected_server);

    const received_span client = span_named(spans, "GET");
    EXPECT_EQ(client.kind, 3);
    EXPECT_EQ(client.status, 2);  // a 5xx answer fails the call
    EXPECT_EQ(client.attributes.at("url.full"), "https://stock.local:8443/items?id=17");
    EXPECT_EQ(client.attributes.at("server.port"), "8443");
    // The tag the called service receives names exactly this span.
    EXPECT_EQ(run.client_tag, "00-" + client.trace + "-" + client.span + "-01");

    const received_span query = span_named(spans, "SELECT orders");
    EXPECT_EQ(query.kind, 3);
    const fields expected_query = {{"db.system", "postgresql"},
                                   {"db.namespace", "orders"},
                                   {"db.query.text", "select * from orders"},
                                   {"db.response.returned_rows", "4"},
                                   {"server.address", "db.local"},
                                   {"server.port", "5432"}};
    expect_attributes(query, expected_query);

    const received_span message = span_named(spans, "send order-events");
    EXPECT_EQ(message.kind, 4);
    const fields expected_message = {{"messaging.system", "kafka"},
                                     {"messaging.destination.name", "order-events"},
                                     {"messaging.message.id", "m-1"},
                                     {"messaging.message.conversation_id", "order-7"}};
    expect_attributes(message, expected_message);

    const received_span payment = span_named(spans, "PaymentService.charge");
    EXPECT_EQ(payment.kind, 1);
    EXPECT_EQ(payment.status, 2);
    EXPECT_EQ(payment.status_message, "card expired");
    ASSERT_EQ(payment.events.size(), 1u);
    EXPECT_EQ(payment.events[0].first, "exception");
    EXPECT_EQ(payment.events[0].second, (fields{{"exception.type", "PaymentDeclined"},
                                                {"exception.message", "card expired"}}));

    for (const received_span* child : {&client, &query, &message, &payment}) {
        EXPECT_EQ(child->trace, server.trace);
        EXPECT_EQ(child->parent, server.span);
    }
}

TEST_F(otel_agent_test, TraceContextCrossesProcessesAndThreads) {
    initialize();
    // An incoming traceparent continues the caller's trace under its span.
    const quorin_handle_t continued =
        quorin_incomingremotecalltracer_create_p("lookup", "Catalog", "rmi://catalog");
    quorin_incomingremotecalltracer_set_protocol_name_p(continued, "Java RMI");
    quorin_tracer_set_incoming_corvantis_string_tag_p(continued, sampled_parent);
    quorin_tracer_start(continued);
    // The byte tag carries the same and round-trips into another tracer.
    unsigned char bytes[64];
    size_t required = 0;
    const size_t length =
        quorin_tracer_get_outgoing_corvantis_byte_tag(continued, bytes, sizeof bytes, &required);
    ASSERT_EQ(length, 29u);
    // An in-process link carries the context to another thread.
    unsigned char link[128];
    const size_t link_length =
        quorin_inprocesslink_create(reinterpret_cast<uintptr_t>(link), sizeof link, &required);
    ASSERT_GT(link_length, 0u);
    quorin_tracer_end(continued);

    const quorin_handle_t from_bytes =
        quorin_outgoingremotecalltracer_create_p("get", "Prices", "", 0, "");
    quorin_tracer_set_incoming_corvantis_byte_tag(from_bytes, bytes, length);
    quorin_tracer_start(from_bytes);
    quorin_tracer_end(from_bytes);
    std::thread([&] {
        const quorin_handle_t linked =
            quorin_inprocesslinktracer_create(reinterpret_cast<uintptr_t>(link), link_length);
        quorin_tracer_start(linked);
        quorin_tracer_end(linked);
    }).join();

    // An unsampled caller: nothing is exported, and the trace goes on unsampled.
    const quorin_handle_t unsampled = quorin_incomingwebrequesttracer_create_p(0, "/quiet", "GET");
    quorin_tracer_set_incoming_corvantis_string_tag_p(unsampled, unsampled_parent);
    quorin_tracer_start(unsampled);
    const quorin_handle_t inner = quorin_outgoingwebrequesttracer_create_p("http://x/", "GET");
    quorin_tracer_start(inner);
    const std::string inner_tag = outgoing_tag(inner);
    quorin_tracer_end(inner);
    quorin_tracer_end(unsampled);
    EXPECT_EQ(inner_tag.substr(0, 36), "00-0af7651916cd43dd8448eb211c80319c-");
    EXPECT_EQ(inner_tag.substr(52), "-00");

    // A span the application gave its ids keeps them.
    const quorin_handle_t given = quorin_ex_spantracer_create(0);
    quorin_ex_spantracer_set_operationname_p(given, "imported");
    quorin_ex_spantracer_set_ids_p(given, "11111111111111111111111111111111", "2222222222222222",
                                   "3333333333333333");
    quorin_tracer_start(given);
    quorin_tracer_end(given);

    const auto spans = shutdown_and_receive_spans();
    ASSERT_EQ(spans.size(), 4u);
    const received_span server = span_named(spans, "Catalog/lookup");
    EXPECT_EQ(server.kind, 2);
    EXPECT_EQ(server.trace, "0af7651916cd43dd8448eb211c80319c");
    EXPECT_EQ(server.parent, "b7ad6b7169203331");
    EXPECT_EQ(server.attributes.at("rpc.system"), "java_rmi");
    EXPECT_EQ(server.attributes.at("rpc.service"), "Catalog");
    for (const char* name : {"Prices/get", "in-process link"}) {
        const received_span child = span_named(spans, name);
        EXPECT_EQ(child.trace, server.trace) << name;
        EXPECT_EQ(child.parent, server.span) << name;
    }
    const received_span imported = span_named(spans, "imported");
    EXPECT_EQ(imported.trace + imported.span + imported.parent,
              "11111111111111111111111111111111"
              "2222222222222222"
              "3333333333333333");
}

TEST_F(otel_agent_test, RatioSamplerDropsUnsampledTracesAndFollowsSampledCallers) {
    set_option("otel_traces_sampler=parentbased_traceidratio");
    set_option("otel_traces_sampler_arg=0");
    initialize();
    for (int i = 0; i < 50; ++i) {
        const quorin_handle_t root = quorin_customservicetracer_create_p("tick", "Clock");
        quorin_tracer_start(root);
        EXPECT_EQ(outgoing_tag(root).substr(52), "-00");
        quorin_tracer_end(root);
    }
    const quorin_handle_t followed = quorin_incomingwebrequesttracer_create_p(0, "/", "GET");
    quorin_tracer_set_incoming_corvantis_string_tag_p(followed, sampled_parent);
    quorin_tracer_start(followed);
    quorin_tracer_end(followed);
    const auto spans = shutdown_and_receive_spans();
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].parent, "b7ad6b7169203331");
    // No web application names the service: the executable does.
    fields resource = spans[0].resource;
    EXPECT_EQ(spans[0].service, "unknown_service:" + resource["process.executable.name"]);
    EXPECT_EQ(spans[0].service.rfind("unknown_service:otel_agent_tests", 0), 0u);
}

TEST_F(otel_agent_test, RatioSamplerBetweenNoneAndAllDecidesEachTrace) {
    set_option("otel_traces_sampler=traceidratio");
    set_option("otel_traces_sampler_arg=0.5");
    initialize();
    int sampled = 0;
    for (int i = 0; i < 64; ++i) {
        const quorin_handle_t root = quorin_customservicetracer_create_p("tick", "Clock");
        quorin_tracer_start(root);
        if (outgoing_tag(root).substr(52) == "-01") ++sampled;
        quorin_tracer_end(root);
    }
    EXPECT_GT(sampled, 0);
    EXPECT_LT(sampled, 64);
    EXPECT_EQ(shutdown_and_receive_spans().size(), static_cast<size_t>(sampled));
}

TEST_F(otel_agent_test, MetricsArriveWithTheirDimensionsWhenDataIsSent) {
    initialize();
    const quorin_handle_t orders = quorin_integercountermetric_create_p("shop", "orders", "count");
    const quorin_handle_t depth = quorin_floatgaugemetric_create_p("shop", "depth", "messages");
    const quorin_handle_t latency =
        quorin_integerstatisticsmetric_create_p("shop", "latency", "ms");
    quorin_integercountermetric_increase_by_p(orders, 2, "web");
    quorin_integercountermetric_increase_by_p(orders, 3, "web");
    quorin_integercountermetric_increase_by_p(orders, 1, nullptr);
    quorin_floatgaugemetric_set_value_p(depth, 1.5, "orders");
    for (int64_t value : {10, 20, 30})
        quorin_integerstatisticsmetric_add_value_p(latency, value, "db");
    quorin_ex_agent_force_send_data_now();  // sends without waiting for the interval

    std::vector<received_point> points = points_in(receiver_->requests());
    auto point = [&](const std::string& metric, const std::string& dimension) {
        for (const received_point& p : points) {
            const auto found = p.attributes.find("dimension");
            const std::string value = found == p.attributes.end() ? "" : found->second;
            if (p.metric == metric && value == dimension) return p;
        }
        ADD_FAILURE() << metric << " with dimension '" << dimension << "'";
        return received_point{};
    };
    EXPECT_EQ(point("shop.orders", "web").value, "5");
    EXPECT_TRUE(point("shop.orders", "web").monotonic);
    EXPECT_EQ(point("shop.orders", "").value, "1");
    EXPECT_TRUE(point("shop.orders", "").attributes.empty());
    EXPECT_EQ(point("shop.depth", "orders").type, "gauge");
    EXPECT_EQ(point("shop.depth", "orders").value, "1.5");
    EXPECT_EQ(point("shop.latency", "db").type, "histogram");
    EXPECT_EQ(point("shop.latency", "db").value, "3");
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
}

TEST_F(otel_agent_test, SettingsThatCannotBeUsed) {
    // An unusable value is reported (once the application listens) and the default used.
    set_option("otel_timeout=soon");
    initialize();
    capture_warnings();
    ASSERT_EQ(warnings().size(), 1u);
    EXPECT_NE(warnings()[0].find("option otel_timeout 'soon'"), std::string::npos) << warnings()[0];
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);

    // An endpoint that is no URL fails the initialize, with a message that names it.
    set_option("otel_endpoint=collector:4318");
    log_capture log(QUORIN_LOGLEVEL_SEVERE);
    EXPECT_EQ(quorin_initialize(), QUORIN_STATUS_GENERIC_ERROR);
    bool named = false;
    for (const std::u16string& text : log.texts()) {
        named =
            named || to_narrow(text).find("'collector:4318' is not an http:// or https:// URL") !=
                         std::string::npos;
    }
    EXPECT_TRUE(named);
}

TEST_F(otel_agent_test, WithoutACollectorCallsGoOnAndReleaseIsBounded) {
    struct row {
        const char* what;
        const char* answer;  // the receiver's; none: nothing listens
    };
    for (const row& r : {row{"connection refused", nullptr}, row{"never answered", "hang"},
                         row{"answered a byte a second", "200 trickle"},
                         row{"answered a chunk a second", "200 trickle chunked"}}) {
        SCOPED_TRACE(r.what);
        receiver_->reset();  // drops the connections left hanging
        if (r.answer == nullptr) {
            set_option("otel_endpoint=http://127.0.0.1:1");  // nothing listens
        } else {
            receiver_->script(std::string(r.answer) + " always");
        }
        // Longer than the second before the first byte of a trickle.
        set_option("otel_timeout=1500");
        set_option("otel_bsp_max_queue_size=100");
        initialize();
        capture_warnings();
        for (int i = 0; i < 1000; ++i) {
            const quorin_handle_t request = quorin_incomingwebrequesttracer_create_p(0, "/", "GET");
            quorin_tracer_start(request);
            quorin_tracer_end(request);
        }
        quorin_ex_agent_force_send_data_now();
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
        // A bound against hanging, not a measurement: the release gives up after the timeout.
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
        // The one summary at the end: every span is accounted for, none was sent.
        const auto texts = warnings();
        ASSERT_FALSE(texts.empty());
        unsigned sent = 1, dropped = 0, refused = 0, failed = 0;
        ASSERT_EQ(
            std::sscanf(texts.back().c_str(),
                        "OpenTelemetry export at shutdown: %u spans sent, %u dropped, %u refused, "
                        "%u not delivered",
                        &sent, &dropped, &refused, &failed),
            4)
            << texts.back();
        EXPECT_EQ(sent, 0u);
        EXPECT_EQ(dropped + refused + failed, 1000u);
        set_option("otel_endpoint=" + receiver_->base());
    }
    receiver_->reset();
}

}  // namespace
}  // namespace otel_test
