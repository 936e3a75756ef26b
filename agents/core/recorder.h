// The recording core of an agent module: the objects behind the handles, the nesting of the
// tracers on each thread, the application's callbacks, and the module's lifecycle. The slots
// decode each call and act through it; the module's output receives what happened. One
// recorder per module; the agent context handed to the library is its address.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kept_at_exit.h"
#include "object_table.h"
#include "output.h"
#include "thread_state.h"
#include "wall_clock.h"

namespace agent_core {

class call;

class recorder {
  public:
    // The module's entry points. configure and close bracket the module's use; begin and
    // release one initialization of the agent.
    bool configure(const std::vector<agent_option>& options, std::string* error);
    void close();
    void begin(const session_info& info);
    // Ends what is open (as not ended), reports what never started, forgets every object.
    void release(void* context);

    bool active() const { return agent_bound.load(std::memory_order_acquire); }
    // Whether this process is a fork child of a process in which the agent was initialized.
    bool forked_child() const { return forked_child_.load(std::memory_order_relaxed); }
    agent_output& output() const {
        static agent_output& module = module_output();
        return module;
    }

    // Publishes a new object; 0 (with a warning) when too many are alive. This and the next
    // two are inline, in recorder_inline.h: every call's path goes through them.
    quorin_handle_t publish(call& c, record_ptr&& record);
    // Starts the tracer: under its explicit parent, else under the thread's innermost open
    // tracer, else as the root of a new trace, at start_us (0: now, when it is recorded). The
    // tracer is unlocked on return.
    void start(call& c, object_table::locked&& tracer, uint64_t start_us);
    // Removes the object from the table and gives its record; the object's index goes to the
    // calling thread's spares.
    record_ptr remove(call& c, object_table::locked&& object);
    // Removes the tracer and hands it to the output.
    void end(call& c, object_table::locked&& tracer, uint64_t end_us);
    // The calling thread's innermost open tracer, or null.
    const nesting_entry* current(call& c);
    // For outputs: whether a tracer has not ended yet.
    bool tracer_open(quorin_handle_t handle) const { return objects.live(handle); }
    // For outputs: a notice of their own (about settings, about sending) for the application's
    // warning and logging callbacks, from any thread. While neither is set the first
    // pending_limit notices wait until the application sets one.
    void notify(const std::string& text);
    void deliver_pending_notices();
    static constexpr size_t pending_limit = 32;

    // Fork handlers (POSIX).
    void prepare_fork();
    void after_fork_in_parent();
    void after_fork_in_child(uint64_t seed);

    object_table objects;
    thread_table threads;
    std::atomic<quorin_agent_logging_callback> logging_callback{nullptr};
    std::atomic<quorin_agent_logging_callback> warning_callback{nullptr};
    std::atomic<quorin_agent_logging_callback> verbose_callback{nullptr};

  private:
    void finish();
    void refuse_publish(call& c);
    void report_depth(call& c, quorin_handle_t handle);
    // An incoming web request's context from its request headers, when they carry one. This
    // and the next are out of the start's common path.
    [[gnu::noinline]] void adopt_headers(object_record& tracer);
    // A tracer started inside `outer` takes its trace state.
    [[gnu::noinline]] void inherit_trace_state(object_record& tracer, const nesting_entry& outer);

    void deliver(const std::string& text);

    std::mutex lifecycle_;
    std::mutex notices_;
    std::vector<std::string> pending_;
    std::atomic<bool> forked_child_{false};
};

inline bool recorded(const record_fields& tracer) { return recorded(tracer.context); }

// The trace state of a tracer's trace, "" when it carries none.
std::string_view trace_state_of(const object_record& tracer);
// Gives the tracer that trace state ("": none).
void set_trace_state(object_record& tracer, std::string_view state);
// A string tag or link as its context and the trace state after it (agent_output).
struct tag_parts {
    std::string_view context;
    std::string_view state;
};
tag_parts split_tag(std::string_view tag);

// The module's one recorder, defined with the core.
extern kept_at_exit<recorder> recorder_instance;
inline recorder& the_recorder() { return recorder_instance.value; }

// Microseconds since 1970-01-01 UTC, from the core's wall clock.
inline uint64_t now_microseconds() { return wall_clock_microseconds(); }

}  // namespace agent_core
