// The agent's TLS settings through the real library: the CA and client certificate options
// reach the requests, and a CA file that cannot be read is named at initialize and leaves
// nothing sent without it.
#include <algorithm>
#include <memory>

#include "otel_agent_fixture.h"
#include "support/process_environment.h"
#include "support/scoped_state.h"

namespace otel_test {
namespace {

TEST_F(otel_agent_test, CaAndClientCertificateSettingsReachTheRequests) {
    struct row {
        bool mutual;  // the receiver's port that requires a client certificate
        std::vector<std::pair<const char*, const char*>> settings;  // option, else variable
        const char* warned;                                         // at initialize; "" for none
        bool arrives;
    };
    const row rows[] = {
        {false, {{"otel_certificate", "ca.crt"}}, "", true},
        {true,
         {{"otel_traces_certificate", "ca.crt"},
          {"OTEL_EXPORTER_OTLP_CLIENT_CERTIFICATE", "client.crt"},
          {"OTEL_EXPORTER_OTLP_TRACES_CLIENT_KEY", "client.key"}},
         "",
         true},
        {true, {{"otel_certificate", "ca.crt"}}, "", false},
        {false,
         {{"OTEL_EXPORTER_OTLP_TRACES_CERTIFICATE", "absent.crt"}},
         "absent.crt' cannot be read (OTEL_EXPORTER_OTLP_TRACES_CERTIFICATE)",
         false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.settings[0].first);
        reset_library_state();
        receiver_->reset();
        set_option("home=" + std::string(QUORIN_OTEL_AGENT_HOME));
        set_option("otel_endpoint=" + receiver_->tls_base(r.mutual));
        set_option("otel_timeout=1000");
        std::vector<std::unique_ptr<scoped_process_environment>> environment;
        for (const auto& [name, file] : r.settings) {
            const std::string path = receiver_->tls_file(file);
            if (name[0] == 'o') {
                set_option(std::string(name) + "=" + path);
            } else {
                environment.push_back(
                    std::make_unique<scoped_process_environment>(name, path.c_str()));
            }
        }
        initialize();
        capture_warnings();
        const quorin_handle_t request = quorin_customservicetracer_create_p("over tls", "tls");
        quorin_tracer_start(request);
        quorin_tracer_end(request);
        const auto spans = shutdown_and_receive_spans();
        EXPECT_EQ(spans.size(), r.arrives ? 1u : 0u);
        if (*r.warned != 0) {
            const auto heard = warnings();
            EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [&](const std::string& w) {
                return w.find(r.warned) != std::string::npos;
            })) << r.warned;
        }
    }
}

}  // namespace
}  // namespace otel_test
