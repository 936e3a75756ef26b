// The doctor's verdict on one test request: each cause an operator meets leads to the setting
// to change, and only a 2xx without rejected items counts as arrived.
#include <gtest/gtest.h>

#include "verdict.h"

namespace {

using otel::failure_kind;

TEST(DoctorVerdict, NamesTheLikelyCauseAndWhatToChange) {
    struct row {
        request_facts facts;
        bool arrived;
        const char* says;  // a part of the verdict
    };
    auto answer = [](int status, uint64_t rejected = 0) {
        request_facts f;
        f.answered = true;
        f.status = status;
        f.rejected = rejected;
        return f;
    };
    auto failed = [](failure_kind kind, const char* scheme, uint16_t port, bool certificate = false,
                     bool ca_file = false, bool proxy = false) {
        return request_facts{kind, false, 0, 0, scheme, port, certificate, ca_file, proxy, "x"};
    };
    const row rows[] = {
        {answer(200), true, "arrived"},
        {answer(204), true, "arrived"},
        {answer(200, 3), false, "rejected 3"},
        {answer(401), false, "OTEL_EXPORTER_OTLP_HEADERS"},
        {answer(403), false, "OTEL_EXPORTER_OTLP_HEADERS"},
        {answer(404), false, "base URL"},
        {answer(503), false, "unavailable"},
        {failed(failure_kind::connection_refused, "http", 4318), false, "nothing listens"},
        {failed(failure_kind::connection_refused, "http", 4318, false, false, true), false,
         "proxy"},
        {failed(failure_kind::name_not_resolved, "http", 4318), false, "host name"},
        {failed(failure_kind::tls_handshake, "https", 4318), false, "answers without TLS"},
        {failed(failure_kind::connection_broken, "https", 4318), false, "answers without TLS"},
        {failed(failure_kind::tls_handshake, "https", 443, true), false, "handshake fails: x"},
        {failed(failure_kind::not_http, "http", 4317), false, "use port 4318"},
        {failed(failure_kind::connection_broken, "http", 4317), false, "use port 4318"},
        {failed(failure_kind::connection_broken, "http", 4443), false, "use https://"},
        {failed(failure_kind::certificate_untrusted, "https", 4318, true), false,
         "system's CAs: give"},
        {failed(failure_kind::certificate_untrusted, "https", 4318, true, true), false,
         "not trusted by the CA file"},
        {failed(failure_kind::client_certificate, "https", 4318, true), false,
         "OTEL_EXPORTER_OTLP_CLIENT_CERTIFICATE"},
        {failed(failure_kind::timed_out, "http", 4318), false, "timeout"},
        {failed(failure_kind::other, "http", 4318), false, "failed: x"},
    };
    for (const row& r : rows) {
        const verdict v = judge(r.facts);
        SCOPED_TRACE(v.text);
        EXPECT_EQ(v.arrived, r.arrived);
        EXPECT_NE(v.text.find(r.says), std::string::npos) << r.says;
    }
}

}  // namespace
