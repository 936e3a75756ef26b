// Shared by the exporter tests: options aimed at the receiver, and spans handed over as the
// agent hands them, unmade, for the exporter thread to make.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "exporter.h"
#include "receiver_client.h"

namespace otel_test {

// Sends only when flushed (a long schedule delay), retries within milliseconds, and makes the
// spans of what queue_span hands over.
otel::exporter_options options_for(const receiver& rx,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Counted over the whole program: spans made while their source was being handed over (on
// the producer's thread, which should never pay for that), and sources let go by the exporter.
struct source_counts {
    std::atomic<int> made_while_submitting{0};
    std::atomic<int> released{0};
};
extern source_counts sources;

// Hands the exporter a span named `name` whose source claims `bytes` of memory; false when it
// was dropped.
bool queue_span(otel::exporter& exporter, const std::string& name, size_t bytes = 100);

// How often each span name arrived in requests the receiver answered with 200.
std::map<std::string, int> delivered_span_names(const std::vector<received_request>& requests);
// The same over all requests, whatever the answer.
std::map<std::string, int> received_span_names(const std::vector<received_request>& requests);

}  // namespace otel_test
