#include "recorder.h"

#include <algorithm>

#include "call.h"
#include "text.h"
#include "wall_clock.h"

namespace agent_core {

kept_at_exit<recorder> recorder_instance;

void thread_exited(thread_binding binding) {
    recorder& core = the_recorder();
    core.threads.exited(binding, core.objects);
}

bool recorder::configure(const std::vector<agent_option>& options, std::string* error) {
    std::lock_guard<std::mutex> hold(lifecycle_);
    return output().configure(options, error);
}

void recorder::close() {
    std::lock_guard<std::mutex> hold(lifecycle_);
    if (active()) finish();
    output().close();
}

void recorder::begin(const session_info& info) {
    register_fork_handlers();
    std::lock_guard<std::mutex> hold(lifecycle_);
    if (active()) finish();
    threads.set_seed(system_entropy());
    agent_bound.store(true, std::memory_order_release);
    output().session_started(info);
}

void recorder::release(void* context) {
    {
        std::lock_guard<std::mutex> hold(lifecycle_);
        if (context != this || !active()) {
            output().warning("release: not this agent's context, or not initialized");
            return;
        }
        finish();
        output().session_ended();
    }
    output().after_session_ended();
    quorin_agent_logging_callback logging = nullptr;
    {
        std::lock_guard<std::mutex> hold(lifecycle_);
        // Unless the agent was initialized again meanwhile.
        if (!active()) {
            logging = logging_callback.exchange(nullptr);
            warning_callback = nullptr;
            verbose_callback = nullptr;
        }
    }
    if (logging != nullptr) logging((std::string(output().name()) + " released").c_str());
    std::lock_guard<std::mutex> hold(notices_);
    pending_.clear();
}

void recorder::notify(const std::string& text) {
    {
        std::lock_guard<std::mutex> hold(notices_);
        if (warning_callback.load() == nullptr && logging_callback.load() == nullptr) {
            if (pending_.size() < pending_limit) pending_.push_back(text);
            return;
        }
    }
    deliver(text);
}

void recorder::deliver_pending_notices() {
    std::vector<std::string> pending;
    {
        std::lock_guard<std::mutex> hold(notices_);
        if (warning_callback.load() == nullptr && logging_callback.load() == nullptr) return;
        pending.swap(pending_);
    }
    for (const std::string& text : pending) deliver(text);
}

void recorder::deliver(const std::string& text) {
    // As for a call's warnings: what the callbacks call raises no further callbacks.
    thread_state& thread = threads.current();
    const uint64_t claim = thread.claim();
    const bool was_in_callback = thread.in_callback;
    thread.in_callback = true;
    if (auto warning = warning_callback.load()) warning(text.c_str());
    if (auto logging = logging_callback.load()) logging(text.c_str());
    if (thread.claim() == claim) thread.in_callback = was_in_callback;
}

void recorder::finish() {
    // Children started after their parents end first, so every tree is whole.
    std::vector<std::pair<uint64_t, quorin_handle_t>> open;
    objects.for_each([&](object_table::locked& object) {
        if (object->kind == object_kind::tracer && object->started && !object->from_parent) {
            open.emplace_back(object->sequence, object->handle);
        }
    });
    std::sort(open.rbegin(), open.rend());
    // The indexes go straight back to the table: every thread's spares go there below anyway.
    const auto keep_none = [](object_table&, uint32_t) { return false; };
    const uint64_t now = now_microseconds();
    for (const auto& [sequence, handle] : open) {
        record_ptr record = objects.find(handle).take(keep_none);
        record->state = end_state::not_ended;
        record->end_us = now;
        output().tracer_ended(std::move(record));
    }
    objects.for_each([&](object_table::locked& object) {
        const record_ptr record = object.take(keep_none);
        if (record->kind != object_kind::tracer || record->from_parent) return;
        output().warning(format("%s %llu was created but never started",
                                tracer_kind_name(record->tracer),
                                static_cast<unsigned long long>(record->handle)));
    });
    threads.free_all(objects);
    trim_record_pool();
    agent_bound.store(false, std::memory_order_release);
}

void recorder::refuse_publish(call& c) {
    c.warn(format("%u objects are alive already: no handle is given out", object_table::capacity));
}

void recorder::report_depth(call& c, quorin_handle_t handle) {
    c.thread().nesting.depth_reported = true;
    c.warn(
        format("tracers nest at most %u levels deep on one thread: tracer %llu and those "
               "started inside it are reported at that depth",
               tracer_nesting::depth_limit, static_cast<unsigned long long>(handle)));
}

const nesting_entry* recorder::current(call& c) { return c.thread().nesting.current(); }

void recorder::adopt_headers(object_record& tracer) {
    trace_context parent{};
    std::string state;
    if (!output().context_from_headers(tracer, &parent, &state)) return;
    // As an incoming tag would.
    tracer.explicit_parent = tracer.has_parent = true;
    tracer.context = parent;
    tracer.parent = parent.span;
    set_trace_state(tracer, state);
}

void recorder::inherit_trace_state(object_record& tracer, const nesting_entry& outer) {
    // The outer tracer is locked after the inner one; nothing locks them the other way round,
    // since the outer one has started and the inner one has not.
    if (object_table::locked outer_record = objects.find(outer.mark, outer.handle)) {
        set_trace_state(tracer, trace_state_of(*outer_record));
    }
}

std::string_view trace_state_of(const object_record& tracer) {
    if (!tracer.has_trace_state) return {};
    for (size_t i = tracer.attribute_count(); i-- > 0;) {
        const attribute_view entry = tracer.attribute(i);
        if (entry.key == attribute_key::trace_state) return entry.text;
    }
    return {};
}

void set_trace_state(object_record& tracer, std::string_view state) {
    tracer.has_trace_state = !state.empty() && tracer.add_text(attribute_key::trace_state, state);
}

tag_parts split_tag(std::string_view tag) {
    const size_t separator = tag.find(agent_output::trace_state_separator);
    if (separator == std::string_view::npos) return {tag, {}};
    return {tag.substr(0, separator), tag.substr(separator + 1)};
}

void recorder::prepare_fork() {
    lifecycle_.lock();
    threads.lock();
    objects.lock_all();
    threads.lock_spares();
    lock_record_pool();
    notices_.lock();
    output().before_fork();
}

void recorder::after_fork_in_parent() {
    output().after_fork_in_parent();
    notices_.unlock();
    unlock_record_pool();
    threads.unlock_spares();
    objects.unlock_all();
    threads.unlock();
    lifecycle_.unlock();
}

void recorder::after_fork_in_child(uint64_t seed) {
    output().after_fork_in_child();
    notices_.unlock();
    unlock_record_pool();
    threads.unlock_spares();
    objects.unlock_all();
    // Only the forking thread goes on in the child: it keeps its nesting, so that what it starts
    // continues the parent's traces, and draws ids that the parent does not. The tracers open
    // at the fork are the parent's to send: the child never hands them to its output.
    objects.for_each([](object_table::locked& object) {
        if (object->kind == object_kind::tracer && object->started) object->from_parent = true;
    });
    threads.keep_only_current(seed);
    threads.unlock();
    if (active()) forked_child_.store(true, std::memory_order_relaxed);
    lifecycle_.unlock();
}

}  // namespace agent_core
