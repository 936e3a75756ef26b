// The doctor's answer to "my traces do not show up": the OpenTelemetry agent's settings as the
// agent resolves them, with where each came from, then one test span and one metric data point
// sent to the configured endpoints through the agent's own transport, each with what happened
// on the way and a verdict.
#pragma once

// Prints the report; returns true when both requests arrived.
bool print_otel_report();
