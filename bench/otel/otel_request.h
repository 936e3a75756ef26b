// The traced incoming web request that the OpenTelemetry agent's benchmarks and gates measure:
// create, start, two header calls, the status code, end.
#pragma once

#include "quorin.h"

// Not inlined, so that a profiler can single out the requests (callgrind --toggle-collect).
[[gnu::noinline]] void one_request(quorin_handle_t web_application);
