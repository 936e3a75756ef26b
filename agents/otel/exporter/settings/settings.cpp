#include "settings.h"

#include <algorithm>

#include "otel_platform.h"
#include "redaction.h"
#include "resource_detection.h"
#include "utf.h"

namespace otel {

namespace {

constexpr std::string_view default_endpoint = "http://localhost:4318";
constexpr std::string_view default_service_name = "unknown_service";

std::string to_utf8(std::u16string_view text) {
    std::string out(utf16_to_utf8(text.data(), text.size(), nullptr, 0), '\0');
    utf16_to_utf8(text.data(), text.size(), out.data(), out.size());
    return out;
}

// A value with where it came from, for the messages.
struct found {
    std::string value;
    std::string origin;
};

// The agent's option names; each setting reads the first of its sources that is set.
constexpr std::string_view option_names[] = {
    "otel_endpoint",
    "otel_traces_endpoint",
    "otel_metrics_endpoint",
    "otel_headers",
    "otel_service_name",
    "otel_resource_attributes",
    "otel_timeout",
    "otel_bsp_schedule_delay",
    "otel_bsp_export_timeout",
    "otel_bsp_max_queue_size",
    "otel_bsp_max_export_batch_size",
    "otel_max_queue_bytes",
    "otel_traces_sampler",
    "otel_traces_sampler_arg",
    "otel_propagators",
    "otel_metric_export_interval",
    "otel_redact_headers",
    "otel_self_metrics",
    "otel_certificate",
    "otel_client_certificate",
    "otel_client_key",
    "otel_traces_certificate",
    "otel_traces_client_certificate",
    "otel_traces_client_key",
    "otel_metrics_certificate",
    "otel_metrics_client_certificate",
    "otel_metrics_client_key",
    "otel_compression",
    "otel_traces_compression",
    "otel_metrics_compression",
    "otel_traces_headers",
    "otel_metrics_headers",
    "otel_traces_timeout",
    "otel_metrics_timeout",
    "otel_protocol",
    "otel_traces_protocol",
    "otel_metrics_protocol",
    "otel_metrics_temporality_preference",
    "otel_attribute_value_length_limit",
    "otel_attribute_count_limit",
    "otel_span_attribute_count_limit",
    "otel_sdk_disabled",
    "otel_traces_exporter",
    "otel_metrics_exporter",
    "otel_file",
    "otel_file_max_size",
    "otel_file_old_files",
};

class sources {
  public:
    sources(std::span<const std::u16string_view> options, const environment_reader& environment,
            std::vector<std::string>& warnings, std::vector<setting_origin>* origins)
        : environment_(environment), origins_(origins) {
        for (std::u16string_view option : options) {
            const std::string text = to_utf8(option);
            const size_t equals = text.find('=');
            const std::string name = text.substr(0, equals);
            const bool known =
                std::any_of(std::begin(option_names), std::end(option_names),
                            [&](std::string_view n) { return equal_ignore_ascii_case(n, name); });
            if (!known || equals == std::string::npos) {
                // The name alone, and only when it looks like one: the value may be a header
                // or a URL with credentials, and a name without '=' may hold a value too.
                const bool plain_name = std::all_of(name.begin(), name.end(), [](char c) {
                    const char lower = ascii_lower(c);
                    return (lower >= 'a' && lower <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-' || c == '.';
                });
                warnings.push_back((plain_name ? "the option '" + name + "'"
                                               : std::string("an option with an unusual name")) +
                                   " is not a setting of the OpenTelemetry agent; it is ignored");
                continue;
            }
            options_.push_back({text.substr(equals + 1), name});  // a later one wins
        }
    }

    std::optional<found> option(std::string_view name) const {
        for (auto it = options_.rbegin(); it != options_.rend(); ++it) {
            if (equal_ignore_ascii_case(it->origin, name) && !it->value.empty()) {
                return found{it->value, "option " + std::string(name)};
            }
        }
        return std::nullopt;
    }
    std::optional<found> variable(const char* name) const {
        if (name == nullptr) return std::nullopt;
        auto value = environment_(name);
        if (!value || value->empty()) return std::nullopt;
        return found{std::move(*value), name};
    }
    // The option, else the variable.
    std::optional<found> either(std::string_view option_name, const char* variable_name) const {
        if (auto value = option(option_name)) return value;
        return variable(variable_name);
    }
    // Records that `setting` took its value from `source`, when origins are wanted.
    void taken(std::string_view setting, const std::optional<found>& source) const {
        if (origins_ != nullptr && source) {
            origins_->push_back({std::string(setting), source->origin});
        }
    }

  private:
    const environment_reader& environment_;
    std::vector<setting_origin>* origins_;
    std::vector<found> options_;  // origin holds the name as given
};

std::string describe(const found& source) {
    return source.origin + " '" + printable(source.value) + "'";
}

void resolve_endpoint(const sources& from, const char* signal_option, const char* signal_variable,
                      std::string_view signal_path, url& out, std::string& error) {
    struct candidate {
        std::optional<found> source;
        bool append;
    };
    const candidate candidates[] = {
        {from.option(signal_option), false},
        {from.option("otel_endpoint"), true},
        {from.variable(signal_variable), false},
        {from.variable("OTEL_EXPORTER_OTLP_ENDPOINT"), true},
    };
    for (const candidate& c : candidates) {
        if (!c.source) continue;
        const auto parsed = parse_url(trim(c.source->value));
        if (!parsed) {
            if (error.empty()) {
                error = "the OTLP endpoint " + c.source->origin + " '" +
                        redact_url(c.source->value) + "' is not an http:// or https:// URL" +
                        " without user info";
            }
            return;
        }
        out = c.append ? append_signal_path(*parsed, signal_path) : *parsed;
        from.taken(signal_option, c.source);
        return;
    }
    out = append_signal_path(*parse_url(default_endpoint), signal_path);
}

template <typename value_type>
void resolve_number(const sources& from, std::string_view option_name, const char* variable,
                    uint64_t minimum, uint64_t maximum, const char* unit, value_type& out,
                    std::vector<std::string>& warnings) {
    const auto source = from.either(option_name, variable);
    if (!source) return;
    if (const auto value = parse_unsigned(source->value, minimum, maximum)) {
        out = value_type(*value);
        from.taken(option_name, source);
        return;
    }
    warnings.push_back(describe(*source) + " is not a whole number of " + unit + " from " +
                       std::to_string(minimum) + " to " + std::to_string(maximum) +
                       "; the default is used");
}

void resolve_sampler(const sources& from, sampler& out, std::vector<std::string>& warnings) {
    if (const auto source = from.either("otel_traces_sampler", "OTEL_TRACES_SAMPLER")) {
        std::string name(trim(source->value));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        if (const auto kind = sampler_kind_from_name(name)) {
            out.kind = *kind;
        } else {
            warnings.push_back(describe(*source) + " is not a sampler this agent knows " +
                               "(always_on, always_off, traceidratio, parentbased_always_on, " +
                               "parentbased_always_off, parentbased_traceidratio); the " +
                               "default parentbased_always_on is used");
        }
    }
    if (const auto source = from.either("otel_traces_sampler_arg", "OTEL_TRACES_SAMPLER_ARG")) {
        if (const auto ratio = parse_ratio(source->value)) {
            out.ratio = *ratio;
        } else {
            warnings.push_back(describe(*source) +
                               " is not a ratio from 0 to 1; the default 1.0 is used");
        }
    }
}

void resolve_propagators(const sources& from, std::vector<propagator>& out,
                         std::vector<std::string>& warnings) {
    const auto source = from.either("otel_propagators", "OTEL_PROPAGATORS");
    if (!source) return;
    from.taken("otel_propagators", source);
    static constexpr std::string_view unsupported[] = {"baggage", "jaeger", "xray"};
    out.clear();
    std::string not_supported, unknown;
    auto list = [](std::string& names, std::string_view name) {
        names += (names.empty() ? "" : ", ") + std::string(name);
    };
    std::string_view rest = source->value;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        std::string name(trim(rest.substr(0, comma)));
        rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
        std::transform(name.begin(), name.end(), name.begin(), ascii_lower);
        const auto form = std::find_if(std::begin(all_propagators), std::end(all_propagators),
                                       [&](propagator p) { return propagator_name(p) == name; });
        if (form != std::end(all_propagators)) {
            if (std::find(out.begin(), out.end(), *form) == out.end()) out.push_back(*form);
        } else if (std::find(std::begin(unsupported), std::end(unsupported), name) !=
                   std::end(unsupported)) {
            list(not_supported, name);
        } else if (!name.empty() && name != "none") {
            list(unknown, printable(name));
        }
    }
    if (!not_supported.empty()) {
        warnings.push_back(
            source->origin + " names " + not_supported + ", which this agent does not support; " +
            (not_supported.find(',') == std::string::npos ? "it is" : "they are") + " ignored");
    }
    if (!unknown.empty()) {
        warnings.push_back(source->origin + " names " + unknown +
                           ", which this agent does not know (tracecontext, b3, b3multi, none); " +
                           "ignored");
    }
}

void merge_attributes(const std::vector<key_value_text>& items, std::vector<key_value>& out) {
    for (const key_value_text& item : items) {
        auto same = std::find_if(out.begin(), out.end(),
                                 [&](const key_value& kv) { return kv.key == item.key; });
        if (same != out.end()) {
            *same = key_value::of(item.key, item.value);  // a text now, whatever it was
        } else {
            out.push_back(key_value::of(item.key, item.value));
        }
    }
}

// Who sends: the configured attributes may override each of these.
std::vector<key_value> described_process(const std::string& executable,
                                         const std::string& instance_id) {
    std::vector<key_value> described = {
        key_value::of("telemetry.sdk.name", std::string("quorin")),
        key_value::of("telemetry.sdk.language", std::string("cpp")),
        key_value::of("telemetry.sdk.version", std::string(QUORIN_VERSION)),
        key_value::of("host.name", printable(host_name())),
        key_value::of("process.pid", static_cast<int64_t>(current_process_id())),
        key_value::of("process.executable.name", executable),
        key_value::of("os.type", std::string(os_type())),
    };
    std::erase_if(described, [](const key_value& kv) {
        return kv.type == value_type::string && kv.text.empty();
    });
    for (key_value& kv : detected_attributes(read_host_facts(), instance_id)) {
        described.push_back(std::move(kv));
    }
    return described;
}

void resolve_resource(const sources& from, settings& out, std::vector<std::string>& warnings) {
    const std::string executable = printable(executable_name());
    const std::string instance_id = new_instance_id();
    std::vector<key_value> attributes = described_process(executable, instance_id);
    // Reads one list into the attributes (a later list wins per key); its service.name apart.
    auto add_list = [&](const std::optional<found>& source, std::optional<std::string>& name) {
        if (!source) return;
        std::vector<std::string> problems;
        auto items = parse_key_value_list(source->value, key_value_use::attribute, &problems);
        for (const std::string& p : problems) {
            warnings.push_back(source->origin + ": the " + p + "; it is left out");
        }
        for (auto it = items.begin(); it != items.end();) {
            if (it->key == "service.name") {
                name = it->value;
                it = items.erase(it);
            } else {
                ++it;
            }
        }
        merge_attributes(items, attributes);
    };
    std::optional<std::string> variable_list_name, option_list_name;
    add_list(from.variable("OTEL_RESOURCE_ATTRIBUTES"), variable_list_name);
    add_list(from.option("otel_resource_attributes"), option_list_name);

    // The agent's options before the environment; a dedicated name before the list's. An
    // empty name from any of them counts as none.
    std::optional<found> name_variable = from.variable("OTEL_SERVICE_NAME");
    if (name_variable && !well_formed_utf8(name_variable->value)) {
        warnings.push_back(describe(*name_variable) + " is not UTF-8 text; it is ignored");
        name_variable.reset();
    }
    const std::optional<found> name_option = from.option("otel_service_name");
    const std::optional<std::string> candidates[] = {
        name_option ? std::optional(name_option->value) : std::nullopt,
        option_list_name,
        name_variable ? std::optional(name_variable->value) : std::nullopt,
        variable_list_name,
    };
    const auto named = std::find_if(std::begin(candidates), std::end(candidates),
                                    [](const auto& name) { return name && !name->empty(); });
    out.service_name_configured = named != std::end(candidates);
    std::string service_name(default_service_name);
    if (out.service_name_configured) {
        service_name = **named;
        constexpr const char* named_by[] = {"option otel_service_name",
                                            "option otel_resource_attributes", "OTEL_SERVICE_NAME",
                                            "OTEL_RESOURCE_ATTRIBUTES"};
        from.taken("otel_service_name", found{{}, named_by[named - std::begin(candidates)]});
    } else if (!executable.empty()) {
        service_name.append(1, ':').append(executable);
    }
    out.resource.attributes.clear();
    out.resource.attributes.push_back(key_value::of("service.name", std::move(service_name)));
    for (key_value& kv : attributes) out.resource.attributes.push_back(std::move(kv));
    const bool instance_detected = std::any_of(
        out.resource.attributes.begin(), out.resource.attributes.end(), [&](const key_value& kv) {
            return kv.key == "service.instance.id" && kv.text == instance_id;
        });
    out.resource.detected_instance_id = instance_detected ? instance_id : "";
}

std::vector<key_value_text> read_headers(const found& source, std::vector<std::string>& warnings) {
    std::vector<std::string> problems;
    auto headers = parse_key_value_list(source.value, key_value_use::header, &problems);
    for (const std::string& p : problems) {
        warnings.push_back(source.origin + ": the header " + p + "; it is left out");
    }
    return headers;
}

void resolve_headers(const sources& from, settings& out, std::vector<std::string>& warnings) {
    if (const auto source = from.either("otel_headers", "OTEL_EXPORTER_OTLP_HEADERS")) {
        out.headers = read_headers(*source, warnings);
        from.taken("otel_headers", source);
    }
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    return out;
}

// A setting of one signal ("traces", "compression") is read from the signal's option, the
// generic option, the signal's variable, the generic variable. The signal's own value: the
// first two of those that are the signal's, when no generic one comes before them.
std::optional<found> signal_own(const sources& from, std::string_view signal,
                                std::string_view setting) {
    const std::string option = "otel_" + std::string(signal) + "_" + std::string(setting);
    const std::string variable = "OTEL_EXPORTER_OTLP_" + upper(signal) + "_" + upper(setting);
    if (auto value = from.option(option)) return value;
    if (from.option("otel_" + std::string(setting))) return std::nullopt;
    return from.variable(variable.c_str());
}

std::optional<found> signal_source(const sources& from, std::string_view signal,
                                   std::string_view setting) {
    if (auto value = signal_own(from, signal, setting)) return value;
    return from.either("otel_" + std::string(setting),
                       ("OTEL_EXPORTER_OTLP_" + upper(setting)).c_str());
}

// A generic value is read for each signal, and reported once.
void warn_once(std::vector<std::string>& warnings, std::string warning) {
    if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) {
        warnings.push_back(std::move(warning));
    }
}

// The value of a setting that names one of a few choices, in any case; nothing (with a
// warning that the first choice, the default, is used) for anything else.
std::optional<size_t> choice(const found& source, std::span<const std::string_view> choices,
                             std::vector<std::string>& warnings) {
    const std::string_view given = trim(source.value);
    for (size_t i = 0; i < choices.size(); ++i) {
        if (equal_ignore_ascii_case(given, choices[i])) return i;
    }
    std::string known;
    for (std::string_view c : choices) known += (known.empty() ? "" : ", ") + std::string(c);
    warn_once(warnings, describe(source) + " is not one of " + known + "; " +
                            std::string(choices[0]) + " is used");
    return std::nullopt;
}

void resolve_signal(const sources& from, std::string_view signal, signal_settings& out,
                    std::vector<std::string>& warnings) {
    constexpr std::string_view compressions[] = {"none", "gzip"};
    if (const auto source = signal_source(from, signal, "compression")) {
        if (const auto index = choice(*source, compressions, warnings)) {
            out.compression = static_cast<compression>(*index);
            from.taken("otel_" + std::string(signal) + "_compression", source);
        }
    }
    if (const auto source = signal_source(from, signal, "protocol");
        source && !equal_ignore_ascii_case(trim(source->value), "http/protobuf")) {
        warn_once(warnings, describe(*source) + " is not supported; http/protobuf is used");
    }
    // These replace the generic headers and timeouts for the signal.
    if (const auto source = signal_own(from, signal, "headers")) {
        out.headers = read_headers(*source, warnings);
        from.taken("otel_" + std::string(signal) + "_headers", source);
    }
    if (const auto source = signal_own(from, signal, "timeout")) {
        constexpr uint64_t hour_ms = 3600 * 1000;
        if (const auto value = parse_unsigned(source->value, 0, hour_ms)) {
            out.timeout = milliseconds(*value);
        } else {
            warnings.push_back(describe(*source) + " is not a whole number of milliseconds " +
                               "from 0 (no limit) to " + std::to_string(hour_ms) +
                               "; the generic timeout is used");
        }
    }
}

// A list of exporters ("otlp,console"); none sends the signal nowhere but to the file. Names
// this agent does not know are left out with a warning; a list of nothing else keeps the
// default, otlp.
void resolve_exporters(const sources& from, std::string_view signal, signal_settings& out,
                       std::vector<std::string>& warnings) {
    const std::string option = "otel_" + std::string(signal) + "_exporter";
    const auto source = from.either(option, ("OTEL_" + upper(signal) + "_EXPORTER").c_str());
    if (!source) return;
    bool otlp = false, console = false, known = false;
    std::string_view rest = source->value;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string_view name = trim(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (equal_ignore_ascii_case(name, "otlp")) {
            otlp = known = true;
        } else if (equal_ignore_ascii_case(name, "console")) {
            console = known = true;
        } else if (equal_ignore_ascii_case(name, "none")) {
            known = true;
        } else if (!name.empty()) {
            warnings.push_back(source->origin + " names '" + printable(name) +
                               "', which is not an exporter of this agent (otlp, console, " +
                               "none); it is left out");
        }
    }
    if (!known) return;
    out.otlp = otlp;
    out.console = console;
    from.taken(option, source);
}

// The file of OTLP JSON lines: the agent's options only.
void resolve_file(const sources& from, file_settings& out, std::vector<std::string>& warnings) {
    if (const auto source = from.option("otel_file")) {
        out.path = source->value;
        from.taken("otel_file", source);
    }
    resolve_number(from, "otel_file_max_size", nullptr, 4096, uint64_t{1} << 50, "bytes",
                   out.max_bytes, warnings);
    resolve_number(from, "otel_file_old_files", nullptr, 0, 100, "files", out.old_files, warnings);
}

// The generic count limit holds for events' attributes too; the span's own one only for the
// span's. Each is the option, else the variable; the span's before the generic one.
void resolve_attribute_limits(const sources& from, span_limits& out,
                              std::vector<std::string>& warnings) {
    constexpr uint64_t most = 1u << 20;
    resolve_number(from, "otel_attribute_count_limit", "OTEL_ATTRIBUTE_COUNT_LIMIT", 0, most,
                   "attributes", out.event_attributes, warnings);
    out.attributes = out.event_attributes;
    const auto span_option = from.option("otel_span_attribute_count_limit");
    if (span_option || !from.option("otel_attribute_count_limit")) {
        resolve_number(from, "otel_span_attribute_count_limit", "OTEL_SPAN_ATTRIBUTE_COUNT_LIMIT",
                       0, most, "attributes", out.attributes, warnings);
    }
    resolve_number(from, "otel_attribute_value_length_limit", "OTEL_ATTRIBUTE_VALUE_LENGTH_LIMIT",
                   0, uint64_t{UINT32_MAX} - 1, "bytes", out.value_length, warnings);
}

// Per-signal settings, metric temporality, attribute limits and the switch that turns the agent
// off.
void resolve_operator_settings(const sources& from, settings& s,
                               std::vector<std::string>& warnings) {
    resolve_signal(from, "traces", s.traces, warnings);
    resolve_signal(from, "metrics", s.metrics, warnings);
    resolve_exporters(from, "traces", s.traces, warnings);
    resolve_exporters(from, "metrics", s.metrics, warnings);
    resolve_file(from, s.file, warnings);
    resolve_attribute_limits(from, s.span_limits, warnings);
    if (const auto source = from.either("otel_metrics_temporality_preference",
                                        "OTEL_EXPORTER_OTLP_METRICS_TEMPORALITY_PREFERENCE")) {
        constexpr std::string_view preferences[] = {"cumulative", "delta", "lowmemory"};
        if (const auto index = choice(*source, preferences, warnings)) {
            s.metrics_temporality = static_cast<temporality_preference>(*index);
        }
    }
    // "true" in any case switches the agent off; anything else leaves it on.
    if (const auto source = from.either("otel_sdk_disabled", "OTEL_SDK_DISABLED");
        source && equal_ignore_ascii_case(trim(source->value), "true")) {
        s.disabled_by =
            (source->origin.starts_with("option ") ? source->origin.substr(7) : source->origin) +
            "=" + std::string(trim(source->value));
    }
}

// The TLS files of one signal ("traces", "metrics"): each the signal's option, the generic
// option, the signal's variable, the generic variable. Files that cannot be used are named in a
// warning now; the requests then fail with the same reason rather than go without them.
void resolve_tls(const sources& from, const std::string& signal, tls_files& out,
                 std::vector<std::string>& warnings) {
    auto upper = [](std::string text) {
        for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        return text;
    };
    std::string origins;
    auto take = [&](const std::string& name, std::string& path) {
        std::optional<found> source = from.option("otel_" + signal + "_" + name);
        if (!source) source = from.option("otel_" + name);
        if (!source)
            source = from.variable(upper("OTEL_EXPORTER_OTLP_" + signal + "_" + name).c_str());
        if (!source) source = from.variable(upper("OTEL_EXPORTER_OTLP_" + name).c_str());
        if (!source) return;
        path = std::string(trim(source->value));
        origins += (origins.empty() ? "" : ", ") + source->origin;
        from.taken("otel_" + signal + "_" + name, source);
    };
    take("certificate", out.certificate);
    take("client_certificate", out.client_certificate);
    take("client_key", out.client_key);
    if (out.empty()) return;
    const std::string problem = tls_files_problem(out);
    if (problem.empty()) return;
    std::string warning =
        problem + " (" + origins + "); requests that need it are not sent until it can be used";
    if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) {
        warnings.push_back(std::move(warning));
    }
}

}  // namespace

settings_result resolve_settings(std::span<const std::u16string_view> options,
                                 const environment_reader& environment,
                                 std::vector<setting_origin>* origins) {
    settings_result result;
    settings& s = result.values;
    std::vector<std::string>& warnings = result.warnings;
    const sources from(options, environment, warnings, origins);

    resolve_endpoint(from, "otel_traces_endpoint", "OTEL_EXPORTER_OTLP_TRACES_ENDPOINT",
                     "v1/traces", s.traces_endpoint, result.error);
    resolve_endpoint(from, "otel_metrics_endpoint", "OTEL_EXPORTER_OTLP_METRICS_ENDPOINT",
                     "v1/metrics", s.metrics_endpoint, result.error);
    resolve_headers(from, s, warnings);
    resolve_tls(from, "traces", s.traces_tls, warnings);
    resolve_tls(from, "metrics", s.metrics_tls, warnings);
    resolve_resource(from, s, warnings);

    constexpr uint64_t hour_ms = 3600 * 1000;
    resolve_number(from, "otel_timeout", "OTEL_EXPORTER_OTLP_TIMEOUT", 1, hour_ms, "milliseconds",
                   s.timeout, warnings);
    milliseconds batch_export_timeout{30000};
    resolve_number(from, "otel_bsp_export_timeout", "OTEL_BSP_EXPORT_TIMEOUT", 1, hour_ms,
                   "milliseconds", batch_export_timeout, warnings);
    s.timeout = std::min(s.timeout, batch_export_timeout);
    resolve_number(from, "otel_bsp_schedule_delay", "OTEL_BSP_SCHEDULE_DELAY", 1, hour_ms,
                   "milliseconds", s.schedule_delay, warnings);
    resolve_number(from, "otel_bsp_max_queue_size", "OTEL_BSP_MAX_QUEUE_SIZE", 1, 1u << 20, "spans",
                   s.max_queue_size, warnings);
    resolve_number(from, "otel_bsp_max_export_batch_size", "OTEL_BSP_MAX_EXPORT_BATCH_SIZE", 1,
                   1u << 20, "spans", s.max_export_batch_size, warnings);
    resolve_number(from, "otel_max_queue_bytes", nullptr, 4096, uint64_t{1} << 40, "bytes",
                   s.max_queue_bytes, warnings);
    resolve_number(from, "otel_metric_export_interval", "OTEL_METRIC_EXPORT_INTERVAL", 1,
                   24 * hour_ms, "milliseconds", s.metric_interval, warnings);
    if (s.max_export_batch_size > s.max_queue_size) {
        warnings.push_back("the export batch size " + std::to_string(s.max_export_batch_size) +
                           " exceeds the queue size " + std::to_string(s.max_queue_size) +
                           "; batches of the queue size are sent");
        s.max_export_batch_size = s.max_queue_size;
    }
    resolve_sampler(from, s.sampler, warnings);
    resolve_propagators(from, s.propagators, warnings);
    if (const auto source = from.option("otel_redact_headers")) s.redact_headers = source->value;
    if (const auto source = from.option("otel_self_metrics")) {
        from.taken("otel_self_metrics", source);
        std::string value(trim(source->value));
        std::transform(value.begin(), value.end(), value.begin(), ascii_lower);
        if (value == "true" || value == "false") {
            s.self_metrics = value == "true";
        } else {
            warnings.push_back(describe(*source) + " is neither true nor false; the agent's own " +
                               "metrics stay off");
        }
    }
    resolve_operator_settings(from, s, warnings);
    return result;
}

}  // namespace otel
