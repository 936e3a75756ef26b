// The exporter over HTTPS against the receiver's TLS ports: a private CA, the system's CAs, a
// CA file that cannot be used, and client certificates; what fails says why, sends nothing and
// is not retried. A test script may plant the receiver's system-ca among the system's CAs
// (QUORIN_OTEL_PLANTED_SYSTEM_CA=1): a CA file must still be the only trust.
#include <gtest/gtest.h>

#include <cstdlib>

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
        const char* error;        // in the warning when nothing arrives; "" when the spans arrive
        bool tls12_only = false;  // the mutual port negotiates TLS 1.2 at most
        bool arrives_when_planted = false;  // trusted when system-ca is among the system's
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
        // A key that would make the TLS library ask for a pass phrase is refused beforehand.
        {"an encrypted PKCS#8 key", true, "server", "ca.crt", "client.crt", "client-encrypted.key",
         "client-encrypted.key' is encrypted"},
        {"an encrypted traditional key", true, "server", "ca.crt", "client.crt",
         "client-legacy-encrypted.key", "client-legacy-encrypted.key' is encrypted"},
        {"no client certificate, refused in a TLS 1.2 handshake", true, "server", "ca.crt", "", "",
         "handshake", true},
        {"a system CA, the CA file another", false, "system", "ca.crt", "", "", "certificate"},
        {"the system's CAs, system-ca planted", false, "system", "", "", "", "certificate", false,
         true},
    };
    const char* planted = std::getenv("QUORIN_OTEL_PLANTED_SYSTEM_CA");
    const bool system_ca_planted = planted != nullptr && std::string(planted) == "1";
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        rx.reset();
        rx.tls_certificate(r.server);
        if (r.tls12_only) rx.mtls_max_version("TLSv1.2");
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

        const bool arrives = *r.error == 0 || (r.arrives_when_planted && system_ca_planted);
        EXPECT_EQ(otel_test::delivered_span_names(rx.requests()).size(), arrives ? 1u : 0u);
        EXPECT_EQ(exporter.stats().spans_exported, arrives ? 1u : 0u);
        if (!arrives) {
            ASSERT_FALSE(warnings.empty());
            EXPECT_NE(warnings.back().find(r.error), std::string::npos) << warnings.back();
            EXPECT_EQ(exporter.stats().attempts, 1u) << "a refusal is retried";
        }
    }
}

}  // namespace
