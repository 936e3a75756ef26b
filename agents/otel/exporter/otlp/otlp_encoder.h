// Request bodies of OTLP/HTTP with protobuf content: ExportTraceServiceRequest and
// ExportMetricsServiceRequest, each with one resource and one instrumentation scope. The body
// replaces what `out` held; its capacity is kept for the next batch.
#pragma once

#include <span>
#include <string>

#include "otlp_model.h"

namespace otel {

// `pause`, when given, is called after every slice of spans written (see encode_slice), so that
// a large batch is encoded in short pieces.
inline constexpr size_t encode_slice = 64;
void encode_trace_request(const resource& origin, const instrumentation_scope& scope,
                          std::span<const otlp_span* const> spans, std::string& out,
                          void (*pause)() = nullptr);

void encode_metrics_request(const resource& origin, const instrumentation_scope& scope,
                            std::span<const otlp_metric> metrics, std::string& out);

}  // namespace otel
