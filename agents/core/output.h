// What an agent module puts on the recording core: its output. The core decodes every call,
// keeps the objects and the nesting, and hands the output what happened, on the calling
// thread and outside every lock of the core: a finished tracer (with its parent), a metric
// update, a process technology, a warning. An output that is called from several threads at
// once guards its own state.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "record_life.h"
#include "trace_model.h"

namespace agent_core {

// One additional option of the agent ("name=value"), as UTF-8 and as received.
struct agent_option {
    std::string name;
    std::string value;
    const char16_t* received_value;  // the value as the library passed it (UTF-16)
};

struct session_info {
    uint32_t stub_version[4];
    std::string build_stamp;
};

class agent_output {
  public:
    virtual ~agent_output() = default;

    // The output does nothing with a tracer that never started or whose trace is not
    // recorded: the core keeps such a tracer's record for the thread instead of handing it on.
    const bool ignores_unrecorded;

    // "console agent 1.0.0": the module's version text; "console agent": its name in messages.
    virtual const char16_t* version() const = 0;
    virtual const char* name() const = 0;

    // The module's options, before the agent initializes; false (with a reason) refuses them.
    // close() is the module's shutdown.
    virtual bool configure(const std::vector<agent_option>& options, std::string* error) = 0;
    // After configure refused: true when the settings switch the agent off, which the module
    // answers as "not active" rather than as a failure.
    virtual bool switched_off() const { return false; }
    virtual void close() = 0;

    // The library initialized the agent; released it (after every open tracer was handed on).
    virtual void session_started(const session_info& info) = 0;
    virtual void session_ended() = 0;
    // After session_ended, once the core has let go of its lifecycle lock, with the
    // application's callbacks still set: what may wait (a last send to a collector), so that
    // a fork on another thread does not wait with it.
    virtual void after_session_ended() {}

    // A tracer ended, or was open or never started when the agent was released (see its
    // state). Its parent is in the record; the output owns the record from here on.
    virtual void tracer_ended(record_ptr tracer) = 0;
    virtual void metric_updated(const metric_event& event) = 0;
    virtual void process_technology_added(int32_t type, std::string_view edition,
                                          std::string_view version) = 0;
    virtual void send_requested() {}
    // The core's report on a call it could not interpret ("<function>: <what>"), or a notice.
    virtual void warning(std::string_view text) = 0;

    // The flags of a trace that a tracer begins (parent null) or continues from an in-process
    // link or an incoming tag: bit 0 says whether it is recorded. Tracers inside a tracer take
    // its flags.
    virtual uint8_t trace_flags(const trace_id& /*trace*/, const trace_context* parent) const {
        return parent != nullptr ? parent->flags : 1;
    }
    // The flags trace_flags gives every new trace (parent null) when they do not depend on the
    // trace, else -1; the output sets it before the agent initializes.
    std::atomic<int> root_flags{-1};

    // The form of the outgoing tags (binary: the byte tag) and of in-process links (the string
    // form); the default is the core's text "<trace id>-<span id>" for both. write_tag writes
    // at most tag_capacity bytes and returns their number; parse_tag sees a byte tag as sent.
    static constexpr size_t tag_capacity = 128;
    virtual size_t write_tag(const trace_context& context, bool binary, char* out) const;
    virtual bool parse_tag(std::string_view tag, bool binary, trace_context* context) const;
    // How the incoming tags look, for the warning on one that does not.
    virtual const char* tag_form() const { return "<32 hex digits>-<16 hex digits>"; }

    // A trace state beside the context: the vendors' entries a caller passes with its trace.
    // An incoming string tag and an in-process link carry it after the context, behind
    // trace_state_separator; every tracer inside a tracer takes the tracer's. keep_trace_state
    // gives the form the output keeps of one, or nothing (it keeps none, or the state is
    // malformed).
    static constexpr char trace_state_separator = ';';
    virtual void keep_trace_state(std::string_view /*given*/, std::string* kept) const {
        kept->clear();
    }

    // An incoming web request that starts without an incoming tag continues the caller's trace
    // from its request headers, when they carry a context the output reads (false: none),
    // with the trace state they carry. Asked only while reads_headers, which the output sets
    // before the agent initializes.
    virtual bool context_from_headers(const object_record& /*tracer*/, trace_context* /*context*/,
                                      std::string* /*state*/) const {
        return false;
    }
    std::atomic<bool> reads_headers{false};

    // Fork: before_fork takes the output's locks; the others release them.
    virtual void before_fork() {}
    virtual void after_fork_in_parent() {}
    virtual void after_fork_in_child() {}

  protected:
    explicit agent_output(bool ignores_unrecorded_tracers = false)
        : ignores_unrecorded(ignores_unrecorded_tracers) {}
};

// Defined by each agent module: the output the core records into.
agent_output& module_output();

}  // namespace agent_core
