#include "trace_line.h"

#include "text.h"

namespace console {

std::string duration_text(uint64_t start_us, uint64_t end_us) {
    const uint64_t elapsed = end_us > start_us ? end_us - start_us : 0;
    return format("%llu.%03llu ms", static_cast<unsigned long long>(elapsed / 1000),
                  static_cast<unsigned long long>(elapsed % 1000));
}

std::string trace_line(const tracer_record& tracer, uint64_t end_us, const char* state) {
    std::string line(2 + 2 * static_cast<size_t>(tracer.depth), ' ');
    line += tracer_kind_name(tracer.kind);
    if (!tracer.title.empty()) line += "  " + tracer.title;
    line += "  ";
    if (state != nullptr) {
        line += format("(%s)", state);
    } else if (!tracer.started) {
        line += "(never started)";
    } else {
        line += duration_text(tracer.start_us, end_us);
    }
    for (const attribute& entry : tracer.attributes) {
        line += "  " + entry.name + "=" + quoted_if_needed(entry.value);
    }
    if (!tracer.error.empty()) line += "  error " + tracer.error;
    return line;
}

}  // namespace console
