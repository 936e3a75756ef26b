// Request bodies of OTLP/HTTP with protobuf content: ExportTraceServiceRequest and
// ExportMetricsServiceRequest, each with one resource and one instrumentation scope. The body
// replaces what `out` held; its capacity is kept for the next batch.
#pragma once

#include <span>
#include <string>

#include "otlp_model.h"

namespace otel {

void encode_trace_request(const resource& origin, const instrumentation_scope& scope,
                          std::span<const otlp_span* const> spans, std::string& out);

void encode_metrics_request(const resource& origin, const instrumentation_scope& scope,
                            std::span<const otlp_metric> metrics, std::string& out);

}  // namespace otel
