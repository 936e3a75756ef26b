// The spans the OpenTelemetry agent makes of finished tracers: names, kinds, the attributes of
// the conventions in the tracer's order, statuses and exception events, attribute limits, and
// spans that are filled again after a clear.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "span_mapping.h"

namespace {

using agent_core::attribute_key;
using agent_core::object_record;
using agent_core::tracer_kind;

std::map<std::string, std::string> text_attributes(const otel::otlp_span& span) {
    std::map<std::string, std::string> out;
    for (const otel::attribute& a : span.attributes()) {
        if (a.type == otel::value_type::string)
            out[std::string(span.text(a.key))] = span.text(a.text);
    }
    return out;
}

TEST(SpanMapping, HeaderAndParameterKeysOfAnyLength) {
    const std::string long_name = "X-" + std::string(300, 'Q');
    const std::string long_lower = "x-" + std::string(300, 'q');
    struct row {
        attribute_key key;
        std::string name, expected_key;
    };
    const row rows[] = {
        {attribute_key::request_header, "User-Agent", "http.request.header.user-agent"},
        {attribute_key::response_header, "Content-Type", "http.response.header.content-type"},
        {attribute_key::request_header, long_name, "http.request.header." + long_lower},
        {attribute_key::parameter, "Page", "quorin.http.request.parameter.Page"},
        {attribute_key::parameter, long_name, "quorin.http.request.parameter." + long_name},
    };
    object_record tracer;
    tracer.tracer = agent_core::tracer_kind::incoming_web_request;
    tracer.started = true;
    for (const row& r : rows) tracer.add_text(r.key, "value of " + r.name, r.name);
    otel::otlp_span span;
    otel_agent::fill_span(tracer, span);
    const auto attributes = text_attributes(span);
    for (const row& r : rows) {
        const auto found = attributes.find(r.expected_key);
        ASSERT_NE(found, attributes.end()) << r.expected_key;
        EXPECT_EQ(found->second, "value of " + r.name);
    }
}

// Everything of the span that its encoding says, one line each: "name kind status message",
// the span's attributes, then each event with its attributes.
std::string described(const otel::otlp_span& span) {
    std::string out = std::string(span.name()) + " " + std::to_string(static_cast<int>(span.kind)) +
                      " " + std::to_string(static_cast<int>(span.status)) + " " +
                      std::string(span.status_message()) + "\n";
    auto add = [&](const otel::attribute& a) {
        out.append(span.text(a.key)).append("=");
        switch (a.type) {
            case otel::value_type::string:
                out.append(span.text(a.text));
                break;
            case otel::value_type::integer:
                out.append("#").append(std::to_string(a.integer));
                break;
            case otel::value_type::floating:
                out.append("~").append(std::to_string(a.floating));
                break;
            case otel::value_type::boolean:
                out.append(a.boolean ? "true" : "false");
                break;
            case otel::value_type::string_array:
                out.append("[");
                span.for_each_element(a, [&](std::string_view e) { out.append(e).append(";"); });
                out.append("]");
                break;
        }
        out.append("\n");
    };
    for (const otel::attribute& a : span.attributes()) {
        if (a.owner == 0) add(a);
    }
    out.append("dropped " + std::to_string(span.dropped_attributes) + "\n");
    uint16_t owner = 0;
    for (const otel::event& e : span.events()) {
        out.append("event ").append(span.text(e.name)).append("\n");
        ++owner;
        for (const otel::attribute& a : span.attributes()) {
            if (a.owner == owner) add(a);
        }
    }
    return out;
}

void add_web_request(object_record& t) {
    t.add_text(attribute_key::web_server_name, "shop.example");
    t.add_text(attribute_key::application_id, "shop");
    t.add_text(attribute_key::context_root, "/");
    t.add_text(attribute_key::method, "GET");
    t.add_text(attribute_key::url, "/api/orders?id=42");
    t.add_text(attribute_key::request_header, "text/html", "Accept");
    t.add_text(attribute_key::request_header, "shop.example:8443", "HOST");
    t.add_text(attribute_key::request_header, "203.0.113.9", "X-Forwarded-For-Client");
    t.add_text(attribute_key::request_header, "other.example", "Host");
    t.add_text(attribute_key::parameter, "2", "Page");
    t.add_text(attribute_key::response_header, "text/plain", "Content-Type");
}

TEST(SpanMapping, TracersOfEachKindBecomeTheSpansOfTheConventions) {
    struct row {
        const char* title;
        tracer_kind kind;
        std::function<void(object_record&)> fill;
        uint32_t attribute_limit;
        std::string expected;
    };
    const row rows[] = {
        {"web request by its last status, server from the first Host header, headers of one name "
         "as one array",
         tracer_kind::incoming_web_request,
         [](object_record& t) {
             add_web_request(t);
             t.add_integer(attribute_key::status_code, 503);
             t.add_integer(attribute_key::status_code, 200);
         },
         128,
         "GET 2 0 \nquorin.web.application_id=shop\nquorin.web.context_root=/\n"
         "http.request.method=GET\nurl.path=/api/orders\nurl.query=id=42\n"
         "http.request.header.accept=text/html\n"
         "http.request.header.host=[shop.example:8443;other.example;]\n"
         "http.request.header.x-forwarded-for-client=203.0.113.9\n"
         "quorin.http.request.parameter.Page=2\n"
         "http.response.header.content-type=text/plain\n"
         "http.response.status_code=#200\nserver.address=shop.example\nserver.port=#8443\n"
         "dropped 0\n"},
        {"web request with an application error, server from its info, not ended",
         tracer_kind::incoming_web_request,
         [](object_record& t) {
             t.add_text(attribute_key::web_server_name, "shop.example");
             t.add_text(attribute_key::method, "POST");
             t.add_text(attribute_key::url, "http://shop.example/cart");
             t.add_integer(attribute_key::status_code, 200);
             t.has_error = true;
             t.error_type = "Timeout";
             t.error_message = "took 30 s";
             t.state = agent_core::end_state::not_ended;
         },
         128,
         "POST 2 2 took 30 s\nhttp.request.method=POST\nurl.path=/cart\nurl.scheme=http\n"
         "http.response.status_code=#200\nserver.address=shop.example\n"
         "quorin.tracer.not_ended=true\nerror.type=Timeout\ndropped 0\nevent exception\n"
         "exception.type=Timeout\nexception.message=took 30 s\n"},
        {"web request past the attribute limit", tracer_kind::incoming_web_request, add_web_request,
         4,
         "GET 2 0 \nquorin.web.application_id=shop\nquorin.web.context_root=/\n"
         "http.request.method=GET\nurl.path=/api/orders\ndropped 9\n"},
        {"outgoing web request failed by a 4xx", tracer_kind::outgoing_web_request,
         [](object_record& t) {
             t.add_text(attribute_key::method, "PUT");
             t.add_text(attribute_key::url, "https://api.example:8443/v1?x=1");
             t.add_integer(attribute_key::status_code, 404);
         },
         128,
         "PUT 3 2 \nhttp.request.method=PUT\nurl.full=https://api.example:8443/v1?x=1\n"
         "server.address=api.example\nserver.port=#8443\nurl.scheme=https\n"
         "http.response.status_code=#404\nerror.type=404\ndropped 0\n"},
        {"database request", tracer_kind::database_request,
         [](object_record& t) {
             t.add_text(attribute_key::database_name, "shop");
             t.add_text(attribute_key::database_vendor, "Postgres");
             t.add_channel(1, "db.local:5432");
             t.add_text(attribute_key::statement, "  select * from orders");
             t.add_integer(attribute_key::returned_rows, 3);
         },
         128,
         "SELECT shop 3 0 \ndb.namespace=shop\ndb.system=postgresql\nnetwork.transport=tcp\n"
         "server.address=db.local\nserver.port=#5432\ndb.query.text=  select * from orders\n"
         "db.operation.name=SELECT\ndb.response.returned_rows=#3\ndropped 0\n"},
        {"remote call", tracer_kind::outgoing_remote_call,
         [](object_record& t) {
             t.add_text(attribute_key::service_name, "Cart");
             t.add_text(attribute_key::service_method, "Add");
             t.add_text(attribute_key::protocol_name, "gRPC");
         },
         128, "Cart/Add 3 0 \nrpc.service=Cart\nrpc.method=Add\nrpc.system=grpc\ndropped 0\n"},
        {"received message", tracer_kind::incoming_message_receive,
         [](object_record& t) { t.add_text(attribute_key::destination_name, "orders"); }, 128,
         "receive orders 5 0 \nmessaging.destination.name=orders\n"
         "messaging.operation.type=receive\ndropped 0\n"},
        {"span of the application's kind, typed attributes", tracer_kind::span,
         [](object_record& t) {
             t.operation_name = "checkout";
             t.add_integer(attribute_key::span_kind, 3);  // set again: the last wins
             t.add_integer(attribute_key::span_kind, 1);
             t.add_integer(attribute_key::span_attribute, 2, "items");
             t.add({attribute_key::custom, agent_core::value_type::boolean, "paid", {}, 1, 0});
             t.add({attribute_key::span_attribute,
                    agent_core::value_type::floating,
                    "total",
                    {},
                    0,
                    1.5});
         },
         128, "checkout 2 0 \nitems=#2\npaid=true\ntotal=~1.500000\ndropped 0\n"},
        {"web request without attributes", tracer_kind::incoming_web_request, [](object_record&) {},
         128, "incoming web request 2 0 \ndropped 0\n"},
    };
    // One span for every row, cleared in between as the exporter's pool does.
    otel::otlp_span span;
    for (const row& r : rows) {
        object_record tracer;
        tracer.tracer = r.kind;
        tracer.started = true;
        r.fill(tracer);
        span.clear();
        span.limits.attributes = r.attribute_limit;
        otel_agent::fill_span(tracer, span);
        EXPECT_EQ(described(span), r.expected) << r.title;
        // Filled again, the span keeps its memory and grows no further.
        const size_t bytes = span.content_bytes();
        span.clear();
        span.limits.attributes = r.attribute_limit;
        otel_agent::fill_span(tracer, span);
        EXPECT_EQ(described(span), r.expected) << r.title;
        EXPECT_EQ(span.content_bytes(), bytes) << r.title;
    }
}

}  // namespace
