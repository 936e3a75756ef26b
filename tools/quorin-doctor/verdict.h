// The doctor's one-line verdict on one test request: what went wrong, most likely, and what to
// change. The same on every system: the transport has already put its error in a failure_kind.
#pragma once

#include <cstdint>
#include <string>

#include "http_transport.h"

struct request_facts {
    otel::failure_kind failure = otel::failure_kind::none;
    bool answered = false;  // an HTTP answer came
    int status = 0;
    uint64_t rejected = 0;  // items the collector's partial success rejected
    std::string scheme;     // of the endpoint: "http" or "https"
    uint16_t port = 0;
    bool certificate_seen = false;  // the server presented a certificate
    bool ca_file = false;           // a CA file was given
    bool proxy = false;             // a proxy is configured for this endpoint
    std::string detail;             // the transport's error text, for what the kinds leave open
};

struct verdict {
    bool arrived = false;
    std::string text;
};

verdict judge(const request_facts& facts);
