// The tests' side of the OTLP receiver (tests/otel/receiver): its address comes from
// QUORIN_OTEL_RECEIVER (http://127.0.0.1:PORT, set by the test script that starts it), the
// address of its control port, which stays up while the OTLP port is down, from
// QUORIN_OTEL_RECEIVER_CONTROL (else the OTLP port serves control too); its HTTPS ports
// from QUORIN_OTEL_RECEIVER_TLS and QUORIN_OTEL_RECEIVER_MTLS (client certificate required),
// and the folder of their certificates from QUORIN_OTEL_RECEIVER_TLS_DIR.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "setting_parsers.h"

namespace otel_test {

struct received_request {
    std::string path;
    int status = 0;      // what the receiver answered; 0 for a closed or hung connection
    size_t bytes = 0;    // the body as it came
    size_t decoded = 0;  // the body after gunzip
    std::map<std::string, std::string> headers;  // every header, names in lower case
    std::map<std::string, std::string> fields;   // "resourceSpans.0.scopeSpans.0.spans.0.name"

    std::string field(const std::string& name) const;  // "" when absent
    // The number of entries of a repeated field: count("resourceSpans.0.scopeSpans.0.spans").
    size_t count(const std::string& prefix) const;
};

class receiver {
  public:
    // Nothing when the receiver's address is not set.
    static std::optional<receiver> from_environment();

    otel::url endpoint(const std::string& path) const;  // on the receiver
    std::string base() const { return base_; }
    // https://localhost:PORT of the HTTPS port, or of the one that requires a client
    // certificate; a failed expectation and "" when the test script did not say.
    std::string tls_base(bool client_certificate_required) const;
    // The first HTTPS port serves the certificate NAME ("other": for another host, "expired")
    // to new connections until reset.
    void tls_certificate(const std::string& name);
    // The port that requires a client certificate negotiates at most `version` ("TLSv1.2")
    // until reset.
    void mtls_max_version(const std::string& version);
    // A file of the certificates' folder ("ca.crt", "client.key", ...) as this system names it.
    std::string tls_file(const std::string& name) const;

    void reset();
    // One answer per line for the next OTLP requests: "503 retry-after=0", "400", "hang", ...
    void script(const std::string& lines);
    std::vector<received_request> requests();
    std::string errors();  // undecodable requests, "" when none
    // The OTLP port refuses connections from when down returns until up returns; reset
    // brings it up as well. Open connections close after the answer they are writing.
    void down();
    void up();
    // Requests that reached the port the receiver's scripted redirects point to.
    int redirected();

  private:
    std::string control(const std::string& what, const std::string& body = {});
    std::string base_;
    std::string control_base_;
};

}  // namespace otel_test

// In a test: the receiver, or the test is skipped (the test script fails a run with skips).
#define REQUIRE_RECEIVER(name)                                           \
    auto name##_found = otel_test::receiver::from_environment();         \
    if (!name##_found)                                                   \
        GTEST_SKIP() << "QUORIN_OTEL_RECEIVER is not set (scripts/test " \
                        "starts the receiver)";                          \
    otel_test::receiver& name = *name##_found;                           \
    name.reset()
