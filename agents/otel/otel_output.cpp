#include "otel_output.h"

#include <chrono>
#include <cstring>

#include "utf.h"

#include "otel_platform.h"
#include "recorder.h"
#include "span_mapping.h"
#include "text_parts.h"
#include "trace_context.h"

namespace otel_agent {

namespace {

constexpr std::string_view option_prefix = "otel_";

uint64_t unix_nano_now() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count());
}

void notify(const std::string& text) { agent_core::the_recorder().notify(text); }

// A finished tracer's record goes to the exporter as it is, as an opaque span source: the
// exporter thread makes the span of it through this maker, and the application's thread does
// not pay for that.
otel::span_source* as_source(agent_core::object_record* record) {
    return reinterpret_cast<otel::span_source*>(record);
}
const agent_core::object_record& record_of(const otel::span_source& source) {
    return reinterpret_cast<const agent_core::object_record&>(source);
}

class record_span_maker final : public otel::span_maker {
  public:
    size_t bytes(const otel::span_source& source) const override {
        return record_of(source).memory_bytes();
    }
    void fill(const otel::span_source& source, otel::otlp_span& span) const override {
        auto& output = static_cast<otel_output&>(agent_core::module_output());
        span.limits = output.span_limits();
        output.report_left_out(fill_span(record_of(source), span, output.mapping()));
    }
    void release(otel::span_source* source) const override {
        agent_core::record_ptr(reinterpret_cast<agent_core::object_record*>(source));
    }
};
constinit const record_span_maker record_spans;

otel::span_context to_otel(const agent_core::trace_context& context) {
    otel::span_context out;
    std::memcpy(out.trace.bytes, context.trace.bytes, sizeof out.trace.bytes);
    std::memcpy(out.span.bytes, context.span.bytes, sizeof out.span.bytes);
    out.flags = context.flags;
    return out;
}

}  // namespace

bool otel_output::configure(const std::vector<agent_core::agent_option>& options,
                            std::string* error) {
    // The agent receives every option that is not the library's own (its home, say): only
    // those of this agent are settings.
    std::vector<std::u16string> texts;
    for (const agent_core::agent_option& option : options) {
        if (option.name.size() <= option_prefix.size() ||
            !equal_ignore_ascii_case(std::string_view(option.name).substr(0, option_prefix.size()),
                                     option_prefix)) {
            continue;
        }
        std::u16string text(utf8_to_utf16(option.name.data(), option.name.size(), nullptr, 0),
                            u'\0');
        utf8_to_utf16(option.name.data(), option.name.size(), text.data(), text.size());
        text += u'=';
        if (option.received_value != nullptr) text += option.received_value;
        texts.push_back(std::move(text));
    }
    const std::vector<std::u16string_view> views(texts.begin(), texts.end());
    otel::settings_result resolved = otel::resolve_settings(views, &otel::read_process_environment);
    switched_off_ = !resolved.values.disabled_by.empty();
    if (switched_off_) {
        // Nothing else is reported: the application runs as without an agent.
        *error = "disabled by " + resolved.values.disabled_by;
        return false;
    }
    if (!resolved.error.empty()) {
        *error = resolved.error;
        return false;
    }
    // Until the application sets a warning or logging callback these wait for it.
    for (const std::string& warning : resolved.warnings) notify("OpenTelemetry agent: " + warning);
    settings_ = std::move(resolved.values);
    mapping_ = mapping_options::from(settings_.redact_headers);
    root_flags.store(settings_.sampler.new_trace_answer(), std::memory_order_relaxed);
    return true;
}

otel_output::~otel_output() {
    // A module unloaded without its close: its exporter thread may still run, so neither it
    // nor what it uses is touched.
    if (exporter_.load() != nullptr || retiring_.load() != nullptr || stopping_.load() != 0) {
        (void)metrics_.release();
    }
}

void otel_output::close() {
    stop_exporter();
    stop(retiring_.exchange(nullptr));
}

void otel_output::report_left_out(uint32_t reasons) {
    reasons &= otel::otlp_span::settled_shadowed | otel::otlp_span::settled_empty_key;
    // Each reason once a session; the usual span has none and touches nothing shared.
    if (reasons == 0 || (reported_.load(std::memory_order_relaxed) & reasons) == reasons) return;
    const uint32_t fresh = reasons & ~reported_.fetch_or(reasons);
    if ((fresh & otel::otlp_span::settled_shadowed) != 0) {
        notify(
            "OpenTelemetry agent: an attribute the application set has the name of one the "
            "agent sets; the agent's is sent");
    }
    if ((fresh & otel::otlp_span::settled_empty_key) != 0) {
        notify("OpenTelemetry agent: an attribute with an empty key is not sent");
    }
}

void otel_output::session_started(const agent_core::session_info&) {
    stop_exporter();
    reported_.store(0);
    // The agent's counters and statistics are synchronous: lowmemory sends them as deltas too.
    metrics_->reset(settings_.metrics_temporality == otel::temporality_preference::cumulative
                        ? otel::temporality::cumulative
                        : otel::temporality::delta);
    service_named_.store(settings_.service_name_configured);
    try {
        otel::exporter_options options = otel::exporter_options::from(settings_);
        options.scope = {"quorin", QUORIN_VERSION};
        options.spans = &record_spans;
        options.warn = [](const std::string& text) { notify(text); };
        options.collect_metrics = [metrics = metrics_.get()](std::vector<otel::otlp_metric>& out) {
            metrics->collect(unix_nano_now(), out);
        };
        auto* started = new otel::exporter(std::move(options));
        started->start();
        exporter_.store(started, std::memory_order_release);
    } catch (const std::exception& e) {
        notify(std::string("OpenTelemetry agent: the exporter could not start (") + e.what() +
               "); nothing is sent");
    }
}

void otel_output::session_ended() {
    // Spans that end from now on are not sent; those queued are, in after_session_ended.
    stop(retiring_.exchange(exporter_.exchange(nullptr, std::memory_order_acq_rel)));
}

void otel_output::after_session_ended() { stop(retiring_.exchange(nullptr)); }

void otel_output::after_fork_in_child() {
    // The thread that would stop it is not in the child, nor is the exporter's thread.
    retiring_.store(nullptr);
    metrics_->forget_after_fork();
    metrics_->unlock();
}

void otel_output::stop_exporter() { stop(exporter_.exchange(nullptr, std::memory_order_acq_rel)); }

void otel_output::stop(otel::exporter* stopping) {
    // Waits at most the export timeout for what is queued.
    if (stopping == nullptr) return;
    stopping_.fetch_add(1);
    stopping->shutdown();
    delete stopping;
    stopping_.fetch_sub(1);
}

void otel_output::tracer_ended(agent_core::record_ptr tracer) {
    // Unsampled traces, and tracers that never ran, end here.
    if (!tracer->started || (tracer->context.flags & otel::trace_flag_sampled) == 0) return;
    otel::exporter* exporter = exporter_.load(std::memory_order_acquire);
    if (exporter == nullptr) return;
    if (!service_named_.load(std::memory_order_relaxed)) name_service(*exporter, *tracer);
    agent_core::object_record* record = tracer.release();
    // Once queued the record is the exporter's; a span that was dropped leaves it here.
    if (!exporter->submit_deferred(as_source(record))) tracer.reset(record);
}

void otel_output::name_service(otel::exporter& exporter, const agent_core::object_record& tracer) {
    const std::string_view application = application_name(tracer);
    if (application.empty()) return;
    try {
        exporter.name_service(application);
        service_named_.store(true, std::memory_order_relaxed);
    } catch (const std::exception&) {
        // Out of memory: a later span names it.
    }
}

void otel_output::metric_updated(const agent_core::metric_event& event) {
    std::string notice;
    try {
        metrics_->update(event, unix_nano_now(), &notice);
    } catch (const std::exception&) {
        return;
    }
    if (!notice.empty()) notify(notice);
}

void otel_output::send_requested() {
    if (otel::exporter* exporter = exporter_.load(std::memory_order_acquire)) exporter->flush();
}

uint8_t otel_output::trace_flags(const agent_core::trace_id& trace,
                                 const agent_core::trace_context* parent) const {
    otel::trace_id id;
    std::memcpy(id.bytes, trace.bytes, sizeof id.bytes);
    if (parent == nullptr) return settings_.sampler.should_sample(id, nullptr) ? 1 : 0;
    const otel::span_context caller = to_otel(*parent);
    const uint8_t others = parent->flags & ~otel::trace_flag_sampled;
    return others | (settings_.sampler.should_sample(id, &caller) ? 1 : 0);
}

size_t otel_output::write_tag(const agent_core::trace_context& context, bool binary,
                              char* out) const {
    static_assert(otel::traceparent_length <= tag_capacity &&
                  otel::binary_tag_length <= tag_capacity);
    if (binary) {
        otel::format_binary_tag(to_otel(context), reinterpret_cast<uint8_t*>(out));
        return otel::binary_tag_length;
    }
    otel::format_traceparent(to_otel(context), out);
    return otel::traceparent_length;
}

bool otel_output::parse_tag(std::string_view tag, bool binary,
                            agent_core::trace_context* context) const {
    const std::optional<otel::span_context> parsed =
        binary ? otel::parse_binary_tag(reinterpret_cast<const uint8_t*>(tag.data()), tag.size())
               : otel::parse_traceparent(tag);
    if (!parsed) return false;
    std::memcpy(context->trace.bytes, parsed->trace.bytes, sizeof context->trace.bytes);
    std::memcpy(context->span.bytes, parsed->span.bytes, sizeof context->span.bytes);
    context->flags = parsed->flags;
    return true;
}

}  // namespace otel_agent

agent_core::agent_output& agent_core::module_output() {
    static agent_core::kept_at_exit<otel_agent::otel_output> instance;
    return instance.value;
}
