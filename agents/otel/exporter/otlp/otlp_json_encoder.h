// The OTLP JSON encoding of the export requests, one request a line: the form a collector's
// file exporter writes and its JSON file receiver reads. Field names in lowerCamelCase, trace
// and span ids as lower-case hex, 64-bit integers as decimal strings, enums as numbers; the
// fields are those the protobuf encoders (otlp_encoder.h) send, so both decode to the same
// message. The text replaces what `out` held, without a line end.
#pragma once

#include <span>
#include <string>

#include "otlp_encoder.h"
#include "otlp_model.h"

namespace otel {

// `pause`, when given, is called after every slice of spans written, as by the protobuf
// encoder (encode_slice).
void encode_trace_json(const resource& origin, const instrumentation_scope& scope,
                       std::span<const otlp_span* const> spans, std::string& out,
                       void (*pause)() = nullptr);

void encode_metrics_json(const resource& origin, const instrumentation_scope& scope,
                         std::span<const otlp_metric> metrics, std::string& out);

}  // namespace otel
