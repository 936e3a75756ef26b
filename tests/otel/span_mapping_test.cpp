// The keys the OpenTelemetry agent gives the application's headers and parameters: a prefix
// and the application's name, the header names in lower case, however long the name is.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "module/span_mapping.h"

namespace {

using agent_core::attribute_key;

std::map<std::string, std::string> text_attributes(const otel::span_record& span) {
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
    const agent_core::record_ptr tracer = agent_core::new_record(agent_core::object_kind::tracer);
    tracer->tracer = agent_core::tracer_kind::incoming_web_request;
    tracer->started = true;
    for (const row& r : rows) tracer->add_text(r.key, "value of " + r.name, r.name);
    otel::span_record span;
    otel_agent::fill_span(*tracer, span);
    const auto attributes = text_attributes(span);
    for (const row& r : rows) {
        const auto found = attributes.find(r.expected_key);
        ASSERT_NE(found, attributes.end()) << r.expected_key;
        EXPECT_EQ(found->second, "value of " + r.name);
    }
}

}  // namespace
