#include "sampler.h"

namespace otel {

bool trace_id_ratio_sample(const trace_id& trace, double ratio) {
    if (!(ratio > 0)) return false;  // also NaN
    if (ratio >= 1) return true;
    // The low 8 bytes as a big-endian number, halved, against ratio * 2^63.
    uint64_t low = 0;
    for (int i = 8; i < 16; ++i) low = low << 8 | trace.bytes[i];
    const auto bound = static_cast<uint64_t>(ratio * 9223372036854775808.0);
    return (low >> 1) < bound;
}

std::optional<sampler_kind> sampler_kind_from_name(std::string_view name) {
    struct entry {
        std::string_view name;
        sampler_kind kind;
    };
    static constexpr entry names[] = {
        {"always_on", sampler_kind::always_on},
        {"always_off", sampler_kind::always_off},
        {"traceidratio", sampler_kind::trace_id_ratio},
        {"parentbased_always_on", sampler_kind::parent_based_always_on},
        {"parentbased_always_off", sampler_kind::parent_based_always_off},
        {"parentbased_traceidratio", sampler_kind::parent_based_trace_id_ratio},
    };
    for (const entry& e : names) {
        if (e.name == name) return e.kind;
    }
    return std::nullopt;
}

}  // namespace otel
