// One printed line per finished tracer.
#pragma once

#include <cstdint>
#include <string>

#include "session.h"

namespace console {

// "<indent><kind>  <title>  <duration>  name=value ...  error <class>: <message>"; state, when
// given, replaces the duration (e.g. "not ended").
std::string trace_line(const tracer_record& tracer, uint64_t end_us, const char* state);

std::string duration_text(uint64_t start_us, uint64_t end_us);

}  // namespace console
