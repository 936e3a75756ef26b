// The console's lines: one per finished tracer (without its indentation, which depends on
// where it is printed), one per metric update.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "object_record.h"

namespace console {

// "<kind>  <title>  <duration>  name=value ...  (N attributes dropped)  error <class>: <message>";
// a tracer that did not end normally shows "(not ended)" or "(never started)" for its duration.
std::string trace_line(const agent_core::object_record& tracer);
// "metric <kind> <group>/<key> <operation> <value> [unit]  [dimension=...]".
std::string metric_line(const agent_core::metric_event& event);

std::string duration_text(uint64_t start_us, uint64_t end_us);
// The value as it appears after "name=": quoted when empty or when it holds a space or a quote.
std::string quoted_if_needed(std::string_view value);

}  // namespace console
