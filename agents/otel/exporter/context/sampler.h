// Head sampling as OpenTelemetry defines it: the OTEL_TRACES_SAMPLER choices, with the
// trace-id ratio decided by the trace id alone, so every process of a trace agrees.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "trace_context.h"

namespace otel {

enum class sampler_kind {
    always_on,
    always_off,
    trace_id_ratio,
    // The parent-based kinds come last.
    parent_based_always_on,
    parent_based_always_off,
    parent_based_trace_id_ratio,
};

struct sampler {
    sampler_kind kind = sampler_kind::parent_based_always_on;
    double ratio = 1.0;

    // parent: the context continued from the caller or the enclosing span, if any. Inline:
    // every root span asks.
    bool should_sample(const trace_id& trace, const span_context* parent) const;
    // The answer for every new trace (no parent) when it does not depend on the trace id: 1
    // or 0; -1 when it does.
    int new_trace_answer() const;
};

// The OTEL_TRACES_SAMPLER names (always_on, traceidratio, parentbased_traceidratio, ...).
std::optional<sampler_kind> sampler_kind_from_name(std::string_view name);
inline bool trace_id_ratio_sample(const trace_id& trace, double ratio) {
    if (!(ratio > 0)) return false;  // also NaN
    if (ratio >= 1) return true;
    // The low 8 bytes as a big-endian number, halved, against ratio * 2^63.
    uint64_t low = 0;
    for (int i = 8; i < 16; ++i) low = low << 8 | trace.bytes[i];
    const auto bound = static_cast<uint64_t>(ratio * 9223372036854775808.0);
    return (low >> 1) < bound;
}

inline int sampler::new_trace_answer() const {
    switch (kind) {
        case sampler_kind::always_on:
        case sampler_kind::parent_based_always_on:
            return 1;
        case sampler_kind::always_off:
        case sampler_kind::parent_based_always_off:
            return 0;
        case sampler_kind::trace_id_ratio:
        case sampler_kind::parent_based_trace_id_ratio:
            if (!(ratio > 0)) return 0;  // also NaN
            return ratio >= 1 ? 1 : -1;
    }
    return 1;
}

inline bool sampler::should_sample(const trace_id& trace, const span_context* parent) const {
    if (parent != nullptr && kind >= sampler_kind::parent_based_always_on) return parent->sampled();
    const int fixed = new_trace_answer();
    return fixed >= 0 ? fixed != 0 : trace_id_ratio_sample(trace, ratio);
}

}  // namespace otel
