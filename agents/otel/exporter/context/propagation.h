// A caller's trace context from the headers of an incoming request, in the forms the
// propagators name: W3C traceparent with its tracestate, B3 in one header ("b3") or in several
// ("X-B3-TraceId", "X-B3-SpanId", "X-B3-Sampled", "X-B3-Flags").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "trace_context.h"

namespace otel {

enum class propagator : uint8_t { tracecontext, b3, b3multi };
inline constexpr propagator all_propagators[] = {propagator::tracecontext, propagator::b3,
                                                 propagator::b3multi};
// Its name in OTEL_PROPAGATORS.
inline const char* propagator_name(propagator form) {
    switch (form) {
        case propagator::b3:
            return "b3";
        case propagator::b3multi:
            return "b3multi";
        case propagator::tracecontext:
            break;
    }
    return "tracecontext";
}

// The W3C tracestate of these header values, combined as one list, in the form that is kept:
// its list-members without the blanks around them and without empty members. "" when the
// list is malformed (a member that is not key=value, a key or value out of form, a key twice,
// more than 32 members). A list of more than 512 characters loses its members of more than
// 128 characters, then members from its end, until it fits.
std::string kept_trace_state(std::span<const std::string_view> values);

// The B3 forms; nothing when malformed or without ids (a sampling decision alone). A trace id
// of 16 hex digits is the low half of the trace id. Sampled ("1", "d", X-B3-Flags "1") gives
// flags 01; not sampled or deferred, 00.
std::optional<span_context> parse_b3_single(std::string_view value);
std::optional<span_context> parse_b3_multi(std::string_view trace_id, std::string_view span_id,
                                           std::string_view sampled, std::string_view flags);

// The headers of one request that the propagators read, noted one by one (names in any case,
// the other headers ignored), then read in the propagators' order.
class propagation_headers {
  public:
    void note(std::string_view name, std::string_view value);

    // The context of the first form in `order` that the headers carry well-formed, with the
    // trace state (only a traceparent brings one).
    std::optional<span_context> extract(std::span<const propagator> order,
                                        std::string* trace_state) const;

  private:
    // A header given more than once is malformed, but for tracestate, whose values join.
    struct single {
        std::string_view value;
        uint32_t count = 0;
        std::string_view get() const { return count == 1 ? value : std::string_view(); }
    };
    static constexpr size_t trace_state_value_limit = 32;

    single traceparent_, b3_, b3_trace_, b3_span_, b3_sampled_, b3_flags_;
    std::string_view trace_state_[trace_state_value_limit];
    size_t trace_state_count_ = 0;  // past the limit: too many to be well-formed
};

}  // namespace otel
