// The exporter over HTTPS against the receiver's TLS ports: a private CA, the system's CAs, a
// CA file that cannot be used, and client certificates; what fails says why and sends nothing.
#include <gtest/gtest.h>

#include "exporter_support.h"

namespace {

using namespace std::chrono_literals;

TEST(OtelExporterTls, TrustsOnlyTheGivenCaAndSendsTheClientCertificate) {
    REQUIRE_RECEIVER(rx);
    struct row {
        const char* what;
        bool mutual;         // the port that requires a client certificate
        const char* server;  // the certificate the other port serves
        const char *ca, *client_certificate, *client_key;
        const char* error;  // in the warning when nothing arrives; "" when the spans arrive
    };
    const row rows[] = {
        {"the CA given", false, "server", "ca.crt", "", "", ""},
        {"the system's CAs", false, "server", "", "", "", "certificate"},
        {"a CA that did not issue it", false, "server", "client-ca.crt", "", "", "certificate"},
        {"the CA's, for another host", false, "other", "ca.crt", "", "", "certificate"},
        {"the CA's, expired", false, "expired", "ca.crt", "", "", "certificate"},
        {"the CA's, through an intermediate", false, "chained", "ca.crt", "", "", ""},
        // Copies of the CA file's certificate (its name and serial number) with keys of their own.
        {"a forged root", false, "forged-root", "ca.crt", "", "", "certificate"},
        {"a forged intermediate", false, "forged-intermediate", "intermediate.crt", "", "",
         "certificate"},
        {"a CA file that does not exist", false, "server", "absent.crt", "", "",
         "absent.crt' cannot be read"},
        {"a CA file with no certificate", false, "server", "client.key", "", "", "no PEM"},
        {"client certificate, PKCS#8 key", true, "server", "ca.crt", "client.crt", "client.key",
         ""},
        {"client certificate, PKCS#1 key", true, "server", "ca.crt", "client.crt", "client-rsa.key",
         ""},
        {"no client certificate", true, "server", "ca.crt", "", "", "certificate"},
        // Not the certificate's key, and on Windows of a kind the agent cannot load.
        {"an EC key", true, "server", "ca.crt", "client.crt", "client-ec.key", " key"},
        {"a key without its certificate", true, "server", "ca.crt", "", "client.key",
         "without its certificate"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        rx.reset();
        rx.tls_certificate(r.server);
        auto options = otel_test::options_for(rx, 1s);
        options.traces_endpoint = *otel::parse_url(rx.tls_base(r.mutual) + "/v1/traces");
        auto file = [&](const char* name) { return *name != 0 ? rx.tls_file(name) : ""; };
        options.traces_tls = {file(r.ca), file(r.client_certificate), file(r.client_key)};
        std::vector<std::string> warnings;
        options.warn = [&](const std::string& text) { warnings.push_back(text); };
        otel::exporter exporter(options);
        exporter.start();
        ASSERT_TRUE(otel_test::queue_span(exporter, "over tls"));
        exporter.flush();
        exporter.shutdown();

        const bool arrives = *r.error == 0;
        EXPECT_EQ(otel_test::delivered_span_names(rx.requests()).size(), arrives ? 1u : 0u);
        EXPECT_EQ(exporter.stats().spans_exported, arrives ? 1u : 0u);
        if (!arrives) {
            ASSERT_FALSE(warnings.empty());
            EXPECT_NE(warnings.back().find(r.error), std::string::npos) << warnings.back();
        }
    }
}

}  // namespace
