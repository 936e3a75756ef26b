#include "otel_report.h"

#include <chrono>
#include <cstdio>

#include "collector_answer.h"
#include "config/options.h"
#include "export_request.h"
#include "gzip.h"
#include "id_generator.h"
#include "option_report.h"
#include "otel_platform.h"
#include "otlp_encoder.h"
#include "redaction.h"
#include "settings.h"
#include "verdict.h"

namespace {

using otel::settings;

std::string origin_of(const std::vector<otel::setting_origin>& origins, const std::string& name) {
    for (auto it = origins.rbegin(); it != origins.rend(); ++it) {
        if (it->setting != name) continue;
        if (it->origin.starts_with("option ")) {
            return "option " + it->origin.substr(7) + " (--cv_" + it->origin.substr(7) +
                   " or a quorin variable)";
        }
        return "variable " + it->origin;
    }
    return "default";
}

void print_setting(const char* label, const std::string& value, const std::string& origin) {
    std::printf("  %-26s %s  from %s\n", label, value.c_str(), origin.c_str());
}

// Header names only: their values are secrets.
std::string header_names(const std::vector<otel::key_value_text>& headers) {
    if (headers.empty()) return "(none)";
    std::string text;
    for (const auto& header : headers) {
        text += (text.empty() ? "" : ", ") + otel::printable(header.key) + "=<hidden>";
    }
    return text;
}

void print_settings(const settings& s, const std::vector<otel::setting_origin>& origins) {
    print_setting("traces endpoint", otel::redact_url(s.traces_endpoint.text()),
                  origin_of(origins, "otel_traces_endpoint"));
    print_setting("metrics endpoint", otel::redact_url(s.metrics_endpoint.text()),
                  origin_of(origins, "otel_metrics_endpoint"));
    print_setting("headers", header_names(s.headers), origin_of(origins, "otel_headers"));
    const struct {
        const char* signal;
        const otel::signal_settings& own;
        const otel::tls_files& tls;
    } signals[] = {{"traces", s.traces, s.traces_tls}, {"metrics", s.metrics, s.metrics_tls}};
    for (const auto& signal : signals) {
        const std::string prefix = std::string("otel_") + signal.signal + "_";
        const std::string label = std::string(signal.signal) + " ";
        if (signal.own.headers) {
            print_setting((label + "headers").c_str(), header_names(*signal.own.headers),
                          origin_of(origins, prefix + "headers"));
        }
        const std::pair<const char*, const std::string&> files[] = {
            {"certificate", signal.tls.certificate},
            {"client_certificate", signal.tls.client_certificate},
            {"client_key", signal.tls.client_key}};
        for (const auto& [name, path] : files) {
            print_setting((label + name).c_str(), path.empty() ? "(none)" : "'" + path + "'",
                          origin_of(origins, prefix + name));
        }
        print_setting((label + "compression").c_str(),
                      signal.own.compression == otel::compression::gzip ? "gzip" : "none",
                      origin_of(origins, prefix + "compression"));
        std::string exporters = signal.own.otlp ? "otlp" : "";
        if (signal.own.console) exporters += exporters.empty() ? "console" : ",console";
        print_setting((label + "exporter").c_str(), exporters.empty() ? "none" : exporters,
                      origin_of(origins, prefix + "exporter"));
    }
    print_setting("file", s.file.path.empty() ? "(none)" : "'" + otel::printable(s.file.path) + "'",
                  origin_of(origins, "otel_file"));
    print_setting("timeout", std::to_string(s.timeout.count()) + " ms",
                  origin_of(origins, "otel_timeout"));
    print_setting("service.name", otel::printable(s.resource.attributes.front().text),
                  origin_of(origins, "otel_service_name"));
    std::string propagators;
    for (const otel::propagator p : s.propagators) {
        if (!propagators.empty()) propagators += ',';
        propagators += otel::propagator_name(p);
    }
    print_setting("propagators", propagators.empty() ? "none" : propagators,
                  origin_of(origins, "otel_propagators"));
    print_setting("self metrics", s.self_metrics ? "on (otel.sdk.*)" : "off",
                  origin_of(origins, "otel_self_metrics"));
}

uint64_t unix_nano_now() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

std::string test_span_body(const settings& s, const otel::instrumentation_scope& scope) {
    otel::id_generator ids;
    otel::otlp_span span;
    span.trace = ids.new_trace_id();
    span.span = ids.new_span_id();
    span.set_name("quorin-doctor test span");
    span.end_unix_nano = unix_nano_now();
    span.start_unix_nano = span.end_unix_nano - 1000000;
    const otel::otlp_span* spans[] = {&span};
    std::string body;
    otel::encode_trace_request(s.resource, scope, spans, body);
    return body;
}

std::string test_metric_body(const settings& s, const otel::instrumentation_scope& scope) {
    otel::otlp_metric metric;
    metric.name = "quorin_doctor.test";
    metric.description = "one test data point of quorin-doctor";
    otel::number_point point;
    point.time_unix_nano = unix_nano_now();
    point.start_unix_nano = point.time_unix_nano - 1000000;
    point.integer = 1;
    metric.numbers.push_back(std::move(point));
    std::string body;
    otel::encode_metrics_request(s.resource, scope, {&metric, 1}, body);
    return body;
}

std::string collector_says(const otel::http_response& response, uint64_t& rejected) {
    if (response.status >= 200 && response.status < 300) {
        const auto part = otel::read_partial_success(response.body);
        if (!part) return "no partial success (all accepted)";
        rejected = part->rejected;
        return "partial success: " + std::to_string(part->rejected) + " rejected" +
               (part->message.empty() ? "" : ": " + part->message);
    }
    const std::string message = otel::read_status_message(response.body);
    return message.empty() ? "no message" : "message: " + message;
}

void print_tls(const otel::connection_info& info) {
    std::printf("  TLS          %s\n",
                info.tls_protocol.empty() ? "(protocol not known)" : info.tls_protocol.c_str());
    std::printf("  certificate  subject %s\n", otel::printable(info.certificate_subject).c_str());
    std::printf("               issuer  %s\n", otel::printable(info.certificate_issuer).c_str());
    std::printf("               %s\n", info.trusted_by.empty()
                                           ? "not trusted"
                                           : ("trusted by " + info.trusted_by).c_str());
}

// Sends one request, on a connection of its own (so that each shows its handshake), and prints
// what happened; true when it arrived.
bool send_test(const char* what, const otel::url& target, const otel::signal_settings& own,
               const settings& s, const otel::tls_files& tls, std::string body) {
    std::printf("\n%s to %s\n", what, otel::redact_url(target.text()).c_str());
    // The request the agent would send: the same builder, the same options.
    const otel::exporter_options agent = otel::exporter_options::from(s);
    otel::gzip_compressor gzip;
    otel::http_request request =
        otel::export_request(agent, own, target, tls, otel::pack_body(gzip, own, body),
                             std::chrono::steady_clock::now() + otel::export_timeout(agent, own));
    request.report_connection = true;
    otel::http_transport transport;
    const otel::http_response response = transport.post(request);
    const otel::connection_info info = response.connection.value_or(otel::connection_info{});

    const auto proxy = otel::configured_proxy(target);
    if (proxy)
        std::printf("  proxy        %s (from %s)\n", proxy->proxy.c_str(), proxy->from.c_str());
    if (!info.remote_address.empty()) {
        std::printf("  address      %s port %u\n", info.remote_address.c_str(),
                    unsigned{info.remote_port});
    } else {
        std::printf("  address      (none reached)\n");
    }
    std::printf("  time         %.0f ms\n", info.seconds * 1000);
    if (!info.certificate_subject.empty()) {
        print_tls(info);
    } else if (target.scheme == "https") {
        std::printf("  TLS          no certificate received\n");
    } else {
        std::printf("  TLS          none (http://)\n");
    }
    uint64_t rejected = 0;
    if (response.status != 0) {
        std::printf("  HTTP status  %d\n", response.status);
        std::printf("  collector    %s\n", collector_says(response, rejected).c_str());
    } else {
        std::printf("  error        %s\n", response.error.c_str());
    }
    request_facts facts;
    facts.failure = info.failure;
    facts.answered = response.status != 0;
    facts.status = response.status;
    facts.rejected = rejected;
    facts.scheme = target.scheme;
    facts.port = target.port;
    facts.certificate_seen = !info.certificate_subject.empty();
    facts.ca_file = !tls.certificate.empty();
    facts.proxy = proxy.has_value();
    facts.detail = response.error;
    const verdict result = judge(facts);
    std::printf("  verdict      %s\n", result.text.c_str());
    return result.arrived;
}

}  // namespace

bool print_otel_report() {
    // The agent receives the options that are not the library's own; its settings are those
    // named otel_*.
    options_record record{-1, 0, nullptr, {}};
    options_resolve(&record);
    std::vector<std::u16string> texts;
    for (uint64_t i = 0; i < record.additional_options.count; ++i) {
        std::u16string text(reinterpret_cast<const char16_t*>(record.additional_options.items[i]));
        if (text.size() > 5 && equal_ignore_ascii_case(utf8(text.substr(0, 5).c_str()), "otel_")) {
            texts.push_back(std::move(text));
        }
    }
    options_reset(&record);
    const std::vector<std::u16string_view> views(texts.begin(), texts.end());
    std::vector<otel::setting_origin> origins;
    const otel::settings_result resolved =
        otel::resolve_settings(views, &otel::read_process_environment, &origins);
    const settings& s = resolved.values;

    std::printf(
        "OpenTelemetry settings (an option wins over a variable, a variable over the "
        "default):\n");
    print_settings(s, origins);
    for (const std::string& warning : resolved.warnings) {
        std::printf("  warning: %s\n", warning.c_str());
    }
    if (!s.disabled_by.empty()) {
        std::printf("\nThe agent is switched off by %s: it sends nothing.\n",
                    s.disabled_by.c_str());
        return false;
    }
    if (!resolved.error.empty()) {
        std::printf("  error: %s; the agent does not start\n", resolved.error.c_str());
        return false;
    }

    const otel::instrumentation_scope scope{"quorin-doctor", QUORIN_VERSION};
    const bool span_arrived = send_test("Test span", s.traces_endpoint, s.traces, s, s.traces_tls,
                                        test_span_body(s, scope));
    const bool metric_arrived = send_test("Test metric", s.metrics_endpoint, s.metrics, s,
                                          s.metrics_tls, test_metric_body(s, scope));
    return span_arrived && metric_arrived;
}
