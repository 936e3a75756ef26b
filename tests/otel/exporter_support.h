// Shared by the exporter tests: options aimed at the receiver and spans named for counting.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "exporter.h"
#include "receiver_client.h"

namespace otel_test {

// Sends only when flushed (a long schedule delay), retries within milliseconds.
otel::exporter_options options_for(const receiver& rx,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Queues a span named `name` through the exporter; false when it was dropped.
bool queue_span(otel::exporter& exporter, const std::string& name);

// How often each span name arrived in requests the receiver answered with 200.
std::map<std::string, int> delivered_span_names(const std::vector<received_request>& requests);
// The same over all requests, whatever the answer.
std::map<std::string, int> received_span_names(const std::vector<received_request>& requests);

}  // namespace otel_test
