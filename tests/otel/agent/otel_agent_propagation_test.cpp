// The caller's trace context from the headers of an incoming web request, in each form the
// propagators read, and the trace state that goes with it: what the collector decodes.
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "otel_agent_fixture.h"

namespace otel_test {
namespace {

using headers = std::vector<std::pair<std::string, std::string>>;

const std::string caller_trace = "4bf92f3577b34da6a3ce929d0e0e4736";
const std::string caller_span = "00f067aa0ba902b7";
// A traceparent header's value. (Appended in steps: a literal in front of a string trips a
// false overlap warning of GCC 12.)
std::string w3c(const std::string& trace, const std::string& span, const char* flags) {
    return std::string("00-").append(trace).append("-").append(span).append("-").append(flags);
}
const std::string traceparent = w3c(caller_trace, caller_span, "01");
const std::string b3_ids = caller_trace + "-" + caller_span;
constexpr const char* new_trace = "";  // the request starts a trace of its own

std::string outgoing_tag(quorin_handle_t tracer) {
    char tag[128] = {};
    size_t required = 0;
    quorin_tracer_get_outgoing_corvantis_string_tag(tracer, tag, sizeof tag, &required);
    return tag;
}

void add_headers(quorin_handle_t tracer, const headers& given, bool incoming = true) {
    std::vector<const char*> names, values;
    for (const auto& [name, value] : given) {
        names.push_back(name.c_str());
        values.push_back(value.c_str());
    }
    if (names.empty()) return;
    (incoming ? quorin_incomingwebrequesttracer_add_request_headers_p
              : quorin_outgoingwebrequesttracer_add_request_headers_p)(
        tracer, names.data(), values.data(), BY_VALUE(names.size()));
}

// "k0=vv,k1=vv,...": count members of length characters each.
std::string members(int count, size_t length = 6) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        std::string member = std::string("k").append(std::to_string(i)).append("=");
        member += std::string(length - member.size(), 'v');
        if (i > 0) out += ',';
        out += member;
    }
    return out;
}

struct propagation_row {
    const char* what;
    std::string propagators;  // "" for the default
    headers given;
    std::string tag;    // an incoming string tag before the start, "" for none
    std::string trace;  // the span's trace ("": a new one)
    std::string parent;
    std::string flags;        // of the request's outgoing tag; "00": no span is sent
    std::string trace_state;  // of the span
};

TEST_F(otel_agent_test, IncomingRequestContinuesTheTraceItsHeadersCarry) {
    const std::string large_member = std::string("big=").append(200, 'x');
    const propagation_row rows[] = {
        {"traceparent and tracestate",
         "",
         {{"traceparent", traceparent}, {"tracestate", "rojo=00f067aa0ba902b7,congo=t61rcWkgMzE"}},
         "",
         caller_trace,
         caller_span,
         "01",
         "rojo=00f067aa0ba902b7,congo=t61rcWkgMzE"},
        {"names in any case, blanks and empty members",
         "tracecontext",
         {{"TraceParent", traceparent}, {"TRACESTATE", " rojo=1 ,,  congo=a b "}},
         "",
         caller_trace,
         caller_span,
         "01",
         "rojo=1,congo=a b"},
        {"tracestate in two headers joins",
         "",
         {{"traceparent", traceparent}, {"tracestate", "a=1"}, {"tracestate", "t@sys=2"}},
         "",
         caller_trace,
         caller_span,
         "01",
         "a=1,t@sys=2"},
        {"flags 00: the caller's decision holds",
         "",
         {{"traceparent", w3c(caller_trace, caller_span, "00")}},
         "",
         caller_trace,
         caller_span,
         "00",
         ""},
        {"upper-case hex",
         "",
         {{"traceparent", w3c("4BF92F3577B34DA6A3CE929D0E0E4736", caller_span, "01")}},
         "",
         new_trace,
         "",
         "01",
         ""},
        {"version ff",
         "",
         {{"traceparent", "ff" + traceparent.substr(2)}},
         "",
         new_trace,
         "",
         "01",
         ""},
        {"zero trace id",
         "",
         {{"traceparent", w3c(std::string(32, '0'), caller_span, "01")}},
         "",
         new_trace,
         "",
         "01",
         ""},
        {"two traceparents",
         "",
         {{"traceparent", traceparent}, {"traceparent", traceparent}},
         "",
         new_trace,
         "",
         "01",
         ""},
        {"tracestate without traceparent",
         "",
         {{"tracestate", "a=1"}},
         "",
         new_trace,
         "",
         "01",
         ""},
        {"tracestate key in upper case",
         "",
         {{"traceparent", traceparent}, {"tracestate", "Rojo=1"}},
         "",
         caller_trace,
         caller_span,
         "01",
         ""},
        {"tracestate key twice",
         "",
         {{"traceparent", traceparent}, {"tracestate", "a=1,b=2"}, {"tracestate", "a=3"}},
         "",
         caller_trace,
         caller_span,
         "01",
         ""},
        {"tracestate member without '='",
         "",
         {{"traceparent", traceparent}, {"tracestate", "a=1,b"}},
         "",
         caller_trace,
         caller_span,
         "01",
         ""},
        {"32 tracestate members",
         "",
         {{"traceparent", traceparent}, {"tracestate", members(32)}},
         "",
         caller_trace,
         caller_span,
         "01",
         members(32)},
        {"33 tracestate members",
         "",
         {{"traceparent", traceparent}, {"tracestate", members(33)}},
         "",
         caller_trace,
         caller_span,
         "01",
         ""},
        {"over 512 characters: the large member goes first",
         "",
         {{"traceparent", traceparent}, {"tracestate", large_member + "," + members(20, 16)}},
         "",
         caller_trace,
         caller_span,
         "01",
         members(20, 16)},
        {"over 512 characters: then members from the end",
         "",
         {{"traceparent", traceparent}, {"tracestate", members(31, 20)}},
         "",
         caller_trace,
         caller_span,
         "01",
         members(24, 20)},
        {"b3 single header",
         "b3",
         {{"B3", b3_ids + "-1-05e3ac9a4f6e3b90"}},
         "",
         caller_trace,
         caller_span,
         "01",
         ""},
        {"b3 with a 64-bit trace id",
         "b3",
         {{"b3", std::string("a3ce929d0e0e4736-").append(caller_span).append("-d")}},
         "",
         "0000000000000000a3ce929d0e0e4736",
         caller_span,
         "01",
         ""},
        {"b3 deferred", "b3", {{"b3", b3_ids}}, "", caller_trace, caller_span, "00", ""},
        {"b3 not sampled", "b3", {{"b3", b3_ids + "-0"}}, "", caller_trace, caller_span, "00", ""},
        {"b3 decision without ids", "b3", {{"b3", "1"}}, "", new_trace, "", "01", ""},
        {"b3 unknown sampling state", "b3", {{"b3", b3_ids + "-x"}}, "", new_trace, "", "01", ""},
        {"b3 five parts",
         "b3",
         {{"b3", b3_ids + "-1-05e3ac9a4f6e3b90-1"}},
         "",
         new_trace,
         "",
         "01",
         ""},
        {"b3multi",
         "b3multi",
         {{"X-B3-TraceId", caller_trace}, {"X-B3-SpanId", caller_span}, {"X-B3-Sampled", "1"}},
         "",
         caller_trace,
         caller_span,
         "01",
         ""},
        {"b3multi debug flag",
         "b3multi",
         {{"x-b3-traceid", caller_trace}, {"x-b3-spanid", caller_span}, {"x-b3-flags", "1"}},
         "",
         caller_trace,
         caller_span,
         "01",
         ""},
        {"b3multi without span id",
         "b3multi",
         {{"X-B3-TraceId", caller_trace}, {"X-B3-Sampled", "1"}},
         "",
         new_trace,
         "",
         "01",
         ""},
        {"b3multi sampled neither 0 nor 1",
         "b3multi",
         {{"X-B3-TraceId", caller_trace}, {"X-B3-SpanId", caller_span}, {"X-B3-Sampled", "yes"}},
         "",
         new_trace,
         "",
         "01",
         ""},
        {"the default reads no b3", "", {{"b3", b3_ids + "-1"}}, "", new_trace, "", "01", ""},
        {"the first form present wins",
         "b3,tracecontext",
         {{"traceparent", w3c(caller_trace, "1111111111111111", "01")},
          {"tracestate", "a=1"},
          {"b3", b3_ids + "-1"}},
         "",
         caller_trace,
         caller_span,
         "01",
         ""},
        {"a malformed form counts as absent",
         "B3, tracecontext",
         {{"traceparent", traceparent}, {"tracestate", "a=1"}, {"b3", b3_ids + "-1-x"}},
         "",
         caller_trace,
         caller_span,
         "01",
         "a=1"},
        {"none", "none", {{"traceparent", traceparent}}, "", new_trace, "", "01", ""},
        {"a tag wins over headers",
         "",
         {{"traceparent", w3c(caller_trace, "1111111111111111", "01")}, {"tracestate", "a=1"}},
         traceparent,
         caller_trace,
         caller_span,
         "01",
         ""},
        {"a tag with its trace state",
         "",
         {},
         traceparent + ";vendor=x y",
         caller_trace,
         caller_span,
         "01",
         "vendor=x y"},
        {"a tag with a malformed trace state",
         "",
         {},
         traceparent + ";vendor",
         caller_trace,
         caller_span,
         "01",
         ""},
    };
    for (const propagation_row& row : rows) {
        SCOPED_TRACE(row.what);
        receiver_->reset();
        set_option("otel_propagators=" + row.propagators);
        initialize();
        const quorin_handle_t request = quorin_incomingwebrequesttracer_create_p(0, "/row", "GET");
        add_headers(request, row.given);
        if (!row.tag.empty())
            quorin_tracer_set_incoming_corvantis_string_tag_p(request, row.tag.c_str());
        quorin_tracer_start(request);
        const std::string tag = outgoing_tag(request);
        quorin_tracer_end(request);
        const auto spans = shutdown_and_receive_spans();

        ASSERT_EQ(tag.size(), 55u);
        EXPECT_EQ(tag.substr(53), row.flags);
        if (row.trace.empty()) {
            EXPECT_NE(tag.substr(3, 32), caller_trace);
        } else {
            EXPECT_EQ(tag.substr(3, 32), row.trace);
        }
        if (row.flags == "00") {
            EXPECT_TRUE(spans.empty());
            continue;
        }
        ASSERT_EQ(spans.size(), 1u);
        EXPECT_EQ(spans[0].trace, tag.substr(3, 32));
        EXPECT_EQ(spans[0].span, tag.substr(36, 16));
        EXPECT_EQ(spans[0].parent, row.parent);
        EXPECT_EQ(spans[0].trace_state, row.trace_state);
    }
}

TEST_F(otel_agent_test, TraceStateStaysWithTheTraceInThisProcess) {
    initialize();
    const quorin_handle_t request = quorin_incomingwebrequesttracer_create_p(0, "/in", "GET");
    add_headers(request, {{"traceparent", traceparent}, {"tracestate", "rojo=1,congo=2"}});
    quorin_tracer_start(request);
    // What the application says of an outgoing request's headers does not change its context.
    const quorin_handle_t call = quorin_outgoingwebrequesttracer_create_p("http://next/", "GET");
    add_headers(call, {{"traceparent", "00-11111111111111111111111111111111-2222222222222222-01"}},
                false);
    quorin_tracer_start(call);
    const std::string call_tag = outgoing_tag(call);
    unsigned char link[1024];
    size_t required = 0;
    const size_t link_length =
        quorin_inprocesslink_create(reinterpret_cast<uintptr_t>(link), sizeof link, &required);
    ASSERT_EQ(link_length, required);
    quorin_tracer_end(call);
    quorin_tracer_end(request);
    std::thread([&] {
        const quorin_handle_t linked =
            quorin_inprocesslinktracer_create(reinterpret_cast<uintptr_t>(link), link_length);
        quorin_tracer_start(linked);
        const quorin_handle_t inner = quorin_ex_spantracer_create(0);
        quorin_ex_spantracer_set_operationname_p(inner, "inner");
        quorin_tracer_start(inner);
        quorin_tracer_end(inner);
        quorin_tracer_end(linked);
    }).join();
    // Another trace, begun here, has none.
    const quorin_handle_t other = quorin_incomingwebrequesttracer_create_p(0, "/other", "POST");
    quorin_tracer_start(other);
    quorin_tracer_end(other);

    const auto spans = shutdown_and_receive_spans();
    ASSERT_EQ(spans.size(), 5u);
    EXPECT_EQ(call_tag.substr(3, 32), caller_trace);
    for (const received_span& span : spans) {
        if (span.name == "POST") {
            EXPECT_NE(span.trace, caller_trace);
            EXPECT_EQ(span.trace_state, "");
            continue;
        }
        EXPECT_EQ(span.trace, caller_trace) << span.name;
        EXPECT_EQ(span.trace_state, "rojo=1,congo=2") << span.name;
    }
}

}  // namespace
}  // namespace otel_test
