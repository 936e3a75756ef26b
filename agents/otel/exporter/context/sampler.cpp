#include "sampler.h"

namespace otel {

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
