// Settings: the agent's options before OTEL_* variables before defaults, signal-specific
// before generic, and what an unusable value gives; the parsers behind them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "otel_platform.h"
#include "settings.h"

namespace {

using environment_map = std::map<std::string, std::string>;

otel::settings_result resolve(std::vector<std::u16string> options, environment_map environment) {
    std::vector<std::u16string_view> views(options.begin(), options.end());
    return otel::resolve_settings(views, [&](const char* name) -> std::optional<std::string> {
        const auto found = environment.find(name);
        if (found == environment.end()) return std::nullopt;
        return found->second;
    });
}

struct endpoint_row {
    const char* what;
    std::vector<std::u16string> options;
    environment_map environment;
    const char* traces;
    const char* metrics;
};

TEST(OtelSettings, EndpointsFollowTheOrderOfSources) {
    const endpoint_row rows[] = {
        {"defaults", {}, {}, "http://localhost:4318/v1/traces", "http://localhost:4318/v1/metrics"},
        {"generic variable gets the signal path",
         {},
         {{"OTEL_EXPORTER_OTLP_ENDPOINT", "http://collector:4318"}},
         "http://collector:4318/v1/traces",
         "http://collector:4318/v1/metrics"},
        {"generic variable with a base path and a slash",
         {},
         {{"OTEL_EXPORTER_OTLP_ENDPOINT", "https://example.test/otlp/"}},
         "https://example.test/otlp/v1/traces",
         "https://example.test/otlp/v1/metrics"},
        {"signal variable used as is, before the generic one",
         {},
         {{"OTEL_EXPORTER_OTLP_ENDPOINT", "http://generic:1"},
          {"OTEL_EXPORTER_OTLP_TRACES_ENDPOINT", "http://traces:2/custom"}},
         "http://traces:2/custom",
         "http://generic:1/v1/metrics"},
        {"the agent's option before every variable",
         {u"otel_endpoint=http://option:3"},
         {{"OTEL_EXPORTER_OTLP_ENDPOINT", "http://generic:1"},
          {"OTEL_EXPORTER_OTLP_METRICS_ENDPOINT", "http://metrics:2/m"}},
         "http://option:3/v1/traces",
         "http://option:3/v1/metrics"},
        {"option names ignore ASCII case; signal option as is",
         {u"OTEL_Metrics_Endpoint=http://m:5/x", u"otel_endpoint=http://o:4"},
         {},
         "http://o:4/v1/traces",
         "http://m:5/x"},
        {"an empty variable counts as unset",
         {},
         {{"OTEL_EXPORTER_OTLP_TRACES_ENDPOINT", ""}},
         "http://localhost:4318/v1/traces",
         "http://localhost:4318/v1/metrics"},
        {"IPv6 host and default port",
         {u"otel_endpoint=http://[::1]:80"},
         {},
         "http://[::1]/v1/traces",
         "http://[::1]/v1/metrics"},
        {"the signal path goes before the generic endpoint's query",
         {},
         {{"OTEL_EXPORTER_OTLP_ENDPOINT", "http://collector:4318/otlp?tenant=a"}},
         "http://collector:4318/otlp/v1/traces?tenant=a",
         "http://collector:4318/otlp/v1/metrics?tenant=a"},
    };
    for (const endpoint_row& row : rows) {
        const auto result = resolve(row.options, row.environment);
        EXPECT_EQ(result.error, "") << row.what;
        EXPECT_EQ(result.values.traces_endpoint.text(), row.traces) << row.what;
        EXPECT_EQ(result.values.metrics_endpoint.text(), row.metrics) << row.what;
    }
}

TEST(OtelSettings, AnEndpointThatIsNoUrlIsAnErrorNamingIt) {
    const auto from_option = resolve({u"otel_endpoint=collector:4318"}, {});
    EXPECT_NE(from_option.error.find("option otel_endpoint 'collector:4318'"), std::string::npos)
        << from_option.error;
    const auto from_variable = resolve({}, {{"OTEL_EXPORTER_OTLP_TRACES_ENDPOINT", "ftp://x"}});
    EXPECT_NE(from_variable.error.find("OTEL_EXPORTER_OTLP_TRACES_ENDPOINT 'ftp://x'"),
              std::string::npos)
        << from_variable.error;
}

TEST(OtelSettings, NumbersAndSamplerFallBackToTheDefaultWithAWarning) {
    const auto good = resolve({u"otel_timeout=2500", u"otel_bsp_max_queue_size=100",
                               u"otel_traces_sampler=parentbased_traceidratio"},
                              {{"OTEL_EXPORTER_OTLP_TIMEOUT", "1"},
                               {"OTEL_BSP_SCHEDULE_DELAY", "250"},
                               {"OTEL_BSP_MAX_EXPORT_BATCH_SIZE", "50"},
                               {"OTEL_METRIC_EXPORT_INTERVAL", "1000"},
                               {"OTEL_TRACES_SAMPLER_ARG", "0.25"}});
    EXPECT_TRUE(good.warnings.empty()) << good.warnings.front();
    EXPECT_EQ(good.values.timeout.count(), 2500);
    EXPECT_EQ(good.values.schedule_delay.count(), 250);
    EXPECT_EQ(good.values.max_queue_size, 100u);
    EXPECT_EQ(good.values.max_export_batch_size, 50u);
    EXPECT_EQ(good.values.metric_interval.count(), 1000);
    EXPECT_EQ(good.values.sampler.kind, otel::sampler_kind::parent_based_trace_id_ratio);
    EXPECT_DOUBLE_EQ(good.values.sampler.ratio, 0.25);

    const auto bad = resolve({u"otel_timeout=soon", u"otel_bsp_max_queue_size=0",
                              u"otel_traces_sampler=jaeger_remote", u"otel_unknown=1"},
                             {{"OTEL_TRACES_SAMPLER_ARG", "1.5"},
                              {"OTEL_BSP_MAX_EXPORT_BATCH_SIZE", "4096"},
                              {"OTEL_BSP_EXPORT_TIMEOUT", "-1"}});
    EXPECT_EQ(bad.error, "");
    EXPECT_EQ(bad.values.timeout.count(), 10000);
    EXPECT_EQ(bad.values.max_queue_size, 2048u);
    EXPECT_EQ(bad.values.max_export_batch_size, 2048u);  // clamped to the queue
    EXPECT_EQ(bad.values.sampler.kind, otel::sampler_kind::parent_based_always_on);
    EXPECT_DOUBLE_EQ(bad.values.sampler.ratio, 1.0);
    const char* named[] = {"'soon'",
                           "otel_bsp_max_queue_size '0'",
                           "'jaeger_remote'",
                           "'otel_unknown'",
                           "OTEL_TRACES_SAMPLER_ARG '1.5'",
                           "4096",
                           "OTEL_BSP_EXPORT_TIMEOUT '-1'"};
    ASSERT_EQ(bad.warnings.size(), std::size(named));
    for (const char* text : named) {
        bool found = false;
        for (const std::string& w : bad.warnings) found = found || w.find(text) != w.npos;
        EXPECT_TRUE(found) << text;
    }
}

// The resource's attributes by key, their values as text.
std::map<std::string, std::string> by_key(const otel::resource& resource) {
    std::map<std::string, std::string> out;
    for (const otel::key_value& kv : resource.attributes) {
        out[kv.key] = kv.type == otel::value_type::integer ? std::to_string(kv.integer) : kv.text;
    }
    return out;
}

TEST(OtelSettings, ServiceNameAndResourceAttributes) {
    const std::string fallback = "unknown_service:" + otel::executable_name();
    struct row {
        std::vector<std::u16string> options;
        environment_map environment;
        std::string service;  // empty: the fallback
        bool configured;
    };
    const row rows[] = {
        {{}, {}, "", false},
        {{}, {{"OTEL_RESOURCE_ATTRIBUTES", "service.name=from-list"}}, "from-list", true},
        {{},
         {{"OTEL_RESOURCE_ATTRIBUTES", "service.name=from-list"}, {"OTEL_SERVICE_NAME", "env"}},
         "env",
         true},
        {{u"otel_resource_attributes=service.name=opt-list"},
         {{"OTEL_SERVICE_NAME", "env"}},
         "opt-list",
         true},
        {{u"otel_service_name=opt"},
         {{"OTEL_SERVICE_NAME", "env"}, {"OTEL_RESOURCE_ATTRIBUTES", "service.name=x"}},
         "opt",
         true},
        // An empty name from any source is none: the next source, else the fallback.
        {{u"otel_resource_attributes=service.name="}, {{"OTEL_SERVICE_NAME", "env"}}, "env", true},
        {{u"otel_service_name="}, {{"OTEL_RESOURCE_ATTRIBUTES", "service.name= "}}, "", false},
    };
    for (const row& r : rows) {
        const auto result = resolve(r.options, r.environment);
        ASSERT_FALSE(result.values.resource.attributes.empty());
        EXPECT_EQ(result.values.resource.attributes[0].key, "service.name");
        EXPECT_EQ(result.values.resource.attributes[0].text,
                  r.service.empty() ? fallback : r.service);
        EXPECT_EQ(result.values.service_name_configured, r.configured) << r.service;
    }

    // Who sends, unless configured otherwise, every detected attribute too; the option's list
    // wins per key over the variable's; keys and values are percent-decoded.
    const auto merged =
        resolve({u"otel_resource_attributes=team=b%20team,zone=%E2%82%AC,process.pid=7,"
                 u"service.instance.id=i-1"},
                {{"OTEL_RESOURCE_ATTRIBUTES",
                  "team=a, host.name = web-1 ,broken,=x,bad=%G1,%74ier=2,host.arch=a,host.id=h,"
                  "os.name=n,os.version=v,os.description=d,service.instance.id=i,container.id=c,"
                  "process.owner=o,process.command=p"}});
    std::map<std::string, std::string> expected = {
        {"service.name", fallback},
        {"telemetry.sdk.name", "quorin"},
        {"telemetry.sdk.language", "cpp"},
        {"telemetry.sdk.version", QUORIN_VERSION},
        {"host.name", "web-1"},
        {"process.pid", "7"},
        {"process.executable.name", otel::executable_name()},
        {"os.type", otel::os_type()},
        {"team", "b team"},
        {"zone", "\xE2\x82\xAC"},
        {"tier", "2"},
        {"host.arch", "a"},
        {"host.id", "h"},
        {"os.name", "n"},
        {"os.version", "v"},
        {"os.description", "d"},
        {"service.instance.id", "i-1"},
        {"container.id", "c"},
        {"process.owner", "o"},
        {"process.command", "p"},
    };
    EXPECT_EQ(by_key(merged.values.resource), expected);
    // A fork child keeps a configured instance id.
    EXPECT_EQ(merged.values.resource.detected_instance_id, "");
    EXPECT_EQ(merged.warnings.size(), 3u);  // broken, =x, bad=%G1

    // Texts that are not UTF-8 would make a collector refuse every request: left out, warned
    // about in printable text.
    const auto ill_formed = resolve({}, {{"OTEL_RESOURCE_ATTRIBUTES", "bad=%FF%FE,raw=\xE9,ok=1"},
                                         {"OTEL_SERVICE_NAME", "caf\xE9\x01"}});
    const auto kept = by_key(ill_formed.values.resource);
    EXPECT_EQ(kept.at("service.name"), fallback);
    EXPECT_EQ(kept.at("ok"), "1");
    EXPECT_EQ(kept.count("bad") + kept.count("raw"), 0u);
    ASSERT_EQ(ill_formed.warnings.size(), 3u);
    EXPECT_NE(ill_formed.warnings[2].find("'caf\uFFFD\uFFFD'"), std::string::npos)
        << ill_formed.warnings[2];
}

TEST(OtelSettings, MessagesShowWhereASecretIsButNeverTheSecret) {
    // Each row hides "S3CRET" where a secret can be; the messages must name the place.
    struct row {
        std::vector<std::u16string> options;
        environment_map environment;
        std::vector<const char*> shown;  // in the messages
    };
    const row rows[] = {
        {{},
         {{"OTEL_EXPORTER_OTLP_HEADERS",
           "ok=S3CRET,Authorization: Basic S3CRET=,S3CRET,x-api-key=%ZZS3CRET,x-k=S3CRET%0A"}},
         {"item 2 has a key", "item 3 is not key=value", "item 4 (key 'x-api-key') has a malformed",
          "item 5 (key 'x-k') has control"}},
        {{u"otel_headers=,=S3CRET", u"otel_headers: x-api-key S3CRET"},
         {},
         {"item 2 has no key", "an option with an unusual name"}},
        {{}, {{"OTEL_RESOURCE_ATTRIBUTES", "a=%FFS3CRET"}}, {"item 1 (key 'a') is not UTF-8"}},
        {{},
         {{"OTEL_EXPORTER_OTLP_TRACES_ENDPOINT", "https://a:b/S3CRET@h#S3CRET?S3CRET"}},
         {"OTEL_EXPORTER_OTLP_TRACES_ENDPOINT 'https://***@h#***'"}},
        {{u"otel_endpoint=S3CRET@collector"}, {}, {"'***@collector'"}},
    };
    for (const row& r : rows) {
        const auto result = resolve(r.options, r.environment);
        std::string all = result.error;
        for (const std::string& w : result.warnings) all += "\n" + w;
        SCOPED_TRACE(all);
        EXPECT_EQ(all.find("S3CRET"), std::string::npos);
        for (const char* text : r.shown) EXPECT_NE(all.find(text), std::string::npos) << text;
    }
}

TEST(OtelSettings, HeadersAreDecodedAndUnsafeOnesLeftOut) {
    const auto result =
        resolve({}, {{"OTEL_EXPORTER_OTLP_HEADERS",
                      "api-key=secret%3D%3D,x-tenant = a b ,bad name=1,x-inject=a%0D%0AHost: evil,"
                      "x-tab=a%09b"}});
    const std::vector<otel::key_value_text> expected = {
        {"api-key", "secret=="}, {"x-tenant", "a b"}, {"x-tab", "a\tb"}};
    EXPECT_EQ(result.values.headers, expected);
    EXPECT_EQ(result.warnings.size(), 2u);
    // The option replaces the variable's whole list.
    EXPECT_EQ(
        resolve({u"otel_headers=a=1"}, {{"OTEL_EXPORTER_OTLP_HEADERS", "b=2"}}).values.headers,
        (std::vector<otel::key_value_text>{{"a", "1"}}));
}

TEST(OtelSettings, UrlParser) {
    struct row {
        const char* text;
        const char* parsed;  // null: refused
    };
    const row rows[] = {
        {"http://h", "http://h/"},
        {"HTTPS://Example.test:443/a?b=c", "https://Example.test/a?b=c"},
        {"http://h:8080?x", "http://h:8080/?x"},
        {"http://127.0.0.1:4318/v1/traces", "http://127.0.0.1:4318/v1/traces"},
        {"http://[fe80::1%25eth0]:1/", nullptr},  // zone ids are not supported
        {"http://[::1]:65535/", "http://[::1]:65535/"},
        {"localhost:4318", nullptr},
        {"http://", nullptr},
        {"http://:80/", nullptr},
        {"http://h:0/", nullptr},
        {"http://h:65536/", nullptr},
        {"http://h:/", nullptr},
        {"http://h: 1/", nullptr},
        {"http://user:pw@h/", nullptr},
        {"http://h/a b", nullptr},
        {"http://h/#frag", nullptr},
        {"http://h\r\nX: y/", nullptr},
        {"file:///etc/passwd", nullptr},
        {"http://[::1/", nullptr},
    };
    for (const row& r : rows) {
        const auto parsed = otel::parse_url(r.text);
        if (r.parsed == nullptr) {
            EXPECT_FALSE(parsed) << r.text;
        } else {
            ASSERT_TRUE(parsed) << r.text;
            EXPECT_EQ(parsed->text(), r.parsed);
        }
    }
}

// The operator settings as one line: per signal compression, own headers and timeout, and
// exporters unless the default; then temporality, the agent switched off, attribute limits
// (span/event/value length), the file.
std::string operator_settings(const otel::settings& s) {
    std::string out;
    for (const otel::signal_settings* signal : {&s.traces, &s.metrics}) {
        out += signal->compression == otel::compression::gzip ? "gzip" : "none";
        for (const auto& h : signal->headers.value_or(std::vector<otel::key_value_text>{})) {
            out += "," + h.key + "=" + h.value;
        }
        if (signal->timeout) out += ",t" + std::to_string(signal->timeout->count());
        if (!signal->otlp || signal->console) {
            out += ",x:";
            if (signal->otlp) out += "otlp";
            if (signal->console) out += "+console";
        }
        out += " ";
    }
    const char* temporalities[] = {"cumulative", "delta", "lowmemory"};
    out += temporalities[static_cast<int>(s.metrics_temporality)];
    if (!s.disabled_by.empty()) out += " off:" + s.disabled_by;
    const otel::span_limits& l = s.span_limits;
    const auto add = [&](char separator, uint64_t number) {
        out += separator;
        out += std::to_string(number);
    };
    add(' ', l.attributes);
    add('/', l.event_attributes);
    add('/', l.value_length);
    if (!s.file.path.empty()) {
        out += " file:";
        out += s.file.path;
        add('/', s.file.max_bytes);
        add('/', s.file.old_files);
    }
    if (s.self_metrics) out += " self-metrics";
    // The propagators when not the default.
    if (s.propagators != std::vector<otel::propagator>{otel::propagator::tracecontext}) {
        out += " propagators:";
        for (const otel::propagator p : s.propagators) {
            out += otel::propagator_name(p);
            out += p == s.propagators.back() ? "" : ",";
        }
    }
    return out;
}

// "a=1|b=2" as the options, and as the environment.
std::vector<std::u16string> options_of(std::string_view text) {
    std::vector<std::u16string> out;
    for (size_t at = 0; at < text.size();) {
        const size_t bar = std::min(text.find('|', at), text.size());
        out.emplace_back(text.begin() + at, text.begin() + bar);
        at = bar + 1;
    }
    return out;
}
environment_map environment_of(std::string_view text) {
    environment_map out;
    for (const std::u16string& item : options_of(text)) {
        const std::string narrow(item.begin(), item.end());
        out[narrow.substr(0, narrow.find('='))] = narrow.substr(narrow.find('=') + 1);
    }
    return out;
}

TEST(OtelSettings, OperatorSettingsFollowTheOrderOfSources) {
    constexpr const char* none = "none none cumulative 128/128/4294967295";
    struct row {
        const char* options;
        const char* environment;
        const char* expected;
        const char* warning;  // what the one warning holds; "" for none
    };
    const row rows[] = {
        {"", "", none, ""},
        // Compression: the signal's option, the generic option, the signal's variable, the
        // generic variable; a bad generic value is reported once.
        {"", "OTEL_EXPORTER_OTLP_COMPRESSION=GZIP|OTEL_EXPORTER_OTLP_METRICS_COMPRESSION=none",
         "gzip none cumulative 128/128/4294967295", ""},
        {"otel_traces_compression=gzip|otel_compression=none",
         "OTEL_EXPORTER_OTLP_METRICS_COMPRESSION=gzip", "gzip none cumulative 128/128/4294967295",
         ""},
        {"otel_compression=zstd", "", none, "otel_compression 'zstd' is not one of none, gzip"},
        // A signal's headers and timeout replace the generic ones, unless a generic option
        // comes first; 0 is no limit.
        {"",
         "OTEL_EXPORTER_OTLP_HEADERS=a=1|OTEL_EXPORTER_OTLP_TRACES_HEADERS=b=2|"
         "OTEL_EXPORTER_OTLP_METRICS_TIMEOUT=0",
         "none,b=2 none,t0 cumulative 128/128/4294967295", ""},
        {"otel_headers=a=1|otel_metrics_headers=m=3|otel_timeout=50",
         "OTEL_EXPORTER_OTLP_TRACES_HEADERS=b=2|OTEL_EXPORTER_OTLP_TRACES_TIMEOUT=70",
         "none none,m=3 cumulative 128/128/4294967295", ""},
        {"otel_traces_timeout=soon", "", none, "'soon' is not a whole number of milliseconds"},
        {"", "OTEL_EXPORTER_OTLP_METRICS_PROTOCOL=grpc", none,
         "OTEL_EXPORTER_OTLP_METRICS_PROTOCOL 'grpc' is not supported; http/protobuf is used"},
        {"otel_metrics_temporality_preference=delta",
         "OTEL_EXPORTER_OTLP_METRICS_TEMPORALITY_PREFERENCE=cumulative",
         "none none delta 128/128/4294967295", ""},
        // Attribute limits: the span's before the generic one, which events take as well.
        {"",
         "OTEL_ATTRIBUTE_COUNT_LIMIT=10|OTEL_SPAN_ATTRIBUTE_COUNT_LIMIT=20|"
         "OTEL_ATTRIBUTE_VALUE_LENGTH_LIMIT=0",
         "none none cumulative 20/10/0", ""},
        {"otel_attribute_count_limit=5", "OTEL_SPAN_ATTRIBUTE_COUNT_LIMIT=20",
         "none none cumulative 5/5/4294967295", ""},
        // Only "true", in any case, switches the agent off.
        {"", "OTEL_SDK_DISABLED= True ",
         "none none cumulative off:OTEL_SDK_DISABLED=True 128/128/4294967295", ""},
        {"otel_sdk_disabled=false", "OTEL_SDK_DISABLED=true", none, ""},
        // Propagators: the option before the variable, in their order, once each; the forms
        // this agent does not read are named.
        {"otel_propagators=b3multi, B3 ,b3", "OTEL_PROPAGATORS=tracecontext",
         "none none cumulative 128/128/4294967295 propagators:b3multi,b3", ""},
        {"", "OTEL_PROPAGATORS=none", "none none cumulative 128/128/4294967295 propagators:", ""},
        {"", "OTEL_PROPAGATORS=tracecontext,baggage,xray", none,
         "OTEL_PROPAGATORS names baggage, xray, which this agent does not support; they are "
         "ignored"},
        // The agent's own metrics: an option only, off unless "true".
        {"otel_self_metrics=TRUE", "", "none none cumulative 128/128/4294967295 self-metrics", ""},
        {"otel_self_metrics=yes", "", none, "otel_self_metrics 'yes' is neither true nor false"},
        {"otel_propagators=ottrace,b3", "",
         "none none cumulative 128/128/4294967295 propagators:b3",
         "option otel_propagators names ottrace, which this agent does not know"},
        // Exporters: lists in any case, the option before the variable; none alone sends
        // nowhere; names not known are left out, and a list of nothing else keeps otlp.
        {"", "OTEL_TRACES_EXPORTER= Console , OTLP|OTEL_METRICS_EXPORTER=none",
         "none,x:otlp+console none,x: cumulative 128/128/4294967295", ""},
        {"otel_metrics_exporter=console", "OTEL_METRICS_EXPORTER=otlp",
         "none none,x:+console cumulative 128/128/4294967295", ""},
        {"", "OTEL_TRACES_EXPORTER=zipkin,none", "none,x: none cumulative 128/128/4294967295",
         "OTEL_TRACES_EXPORTER names 'zipkin', which is not an exporter of this agent"},
        {"otel_metrics_exporter=prometheus", "", none, "'prometheus', which is not an exporter"},
        // The file and its rotation: options only, with their bounds.
        {"otel_file=spans.jsonl|otel_file_max_size=8192|otel_file_old_files=0", "",
         "none none cumulative 128/128/4294967295 file:spans.jsonl/8192/0", ""},
        {"otel_file=a b.jsonl|otel_file_max_size=100", "",
         "none none cumulative 128/128/4294967295 file:a b.jsonl/104857600/3",
         "option otel_file_max_size '100' is not a whole number of bytes from 4096"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.options) + " " + r.environment);
        const auto result = resolve(options_of(r.options), environment_of(r.environment));
        EXPECT_EQ(operator_settings(result.values), r.expected);
        ASSERT_EQ(result.warnings.size(), *r.warning == 0 ? 0u : 1u);
        if (*r.warning != 0) {
            EXPECT_NE(result.warnings[0].find(r.warning), std::string::npos) << result.warnings[0];
        }
    }
}

}  // namespace

TEST(OtelSettings, TlsFilesFollowTheOrderOfSourcesAndAreCheckedAtOnce) {
    // None of the files exists: each signal warns of its first problem with the settings used.
    const auto ordered = resolve({u"otel_certificate=/o/ca", u"otel_traces_certificate=/ot/ca"},
                                 {{"OTEL_EXPORTER_OTLP_CERTIFICATE", "/v/ca"},
                                  {"OTEL_EXPORTER_OTLP_METRICS_CERTIFICATE", "/vm/ca"},
                                  {"OTEL_EXPORTER_OTLP_CLIENT_KEY", "/v/key"}});
    EXPECT_EQ(ordered.values.traces_tls.certificate, "/ot/ca");
    EXPECT_EQ(ordered.values.metrics_tls.certificate, "/o/ca");
    EXPECT_EQ(ordered.values.traces_tls.client_key, "/v/key");
    ASSERT_EQ(ordered.warnings.size(), 2u);
    EXPECT_NE(ordered.warnings[0].find("client key '/v/key' without its certificate"),
              std::string::npos)
        << ordered.warnings[0];
    EXPECT_NE(ordered.warnings[0].find("option otel_traces_certificate"), std::string::npos);
    EXPECT_NE(ordered.warnings[1].find("option otel_certificate"), std::string::npos);

    // A key file that is no PEM: named, its contents never shown; no files, no warning.
    const auto path = (std::filesystem::temp_directory_path() / "quorin-tls-settings.key");
    std::ofstream(path) << "S3CRET";
    const std::string name = path.string();
    const auto unusable = resolve({}, {{"OTEL_EXPORTER_OTLP_CLIENT_KEY", name},
                                       {"OTEL_EXPORTER_OTLP_CLIENT_CERTIFICATE", name}});
    std::filesystem::remove(path);
    ASSERT_EQ(unusable.warnings.size(), 1u);  // one for both signals
    EXPECT_NE(unusable.warnings[0].find("'" + name + "' holds no PEM"), std::string::npos);
    EXPECT_EQ(unusable.warnings[0].find("S3CRET"), std::string::npos);
    EXPECT_TRUE(resolve({}, {}).values.traces_tls.empty());
}

TEST(OtelSettings, OriginsNameTheSourceEachSetValueCameFrom) {
    const std::vector<std::u16string> options = {u"otel_endpoint=http://option:3",
                                                 u"otel_timeout=many"};
    const std::vector<std::u16string_view> views(options.begin(), options.end());
    std::vector<otel::setting_origin> origins;
    const auto result = otel::resolve_settings(
        views,
        [](const char* name) -> std::optional<std::string> {
            if (std::string_view(name) == "OTEL_EXPORTER_OTLP_TRACES_HEADERS") return "k=v";
            if (std::string_view(name) == "OTEL_SERVICE_NAME") return "shop";
            return std::nullopt;
        },
        &origins);
    EXPECT_EQ(result.values.traces_endpoint.text(), "http://option:3/v1/traces");
    std::map<std::string, std::string> by_setting;
    for (const auto& [setting, origin] : origins) by_setting[setting] = origin;
    // An unusable value (the timeout) falls back to its default and is no origin.
    const std::map<std::string, std::string> expected = {
        {"otel_traces_endpoint", "option otel_endpoint"},
        {"otel_metrics_endpoint", "option otel_endpoint"},
        {"otel_traces_headers", "OTEL_EXPORTER_OTLP_TRACES_HEADERS"},
        {"otel_service_name", "OTEL_SERVICE_NAME"},
    };
    EXPECT_EQ(by_setting, expected);
}
