#include <cstdint>

#include "session.h"
#include "text.h"

namespace console {

call::call(void* context, const char* function) : lock_(the_session().mutex), function_(function) {
    if (context != &the_session()) {
        warn(format("called with an agent context that is not this agent's (%p)", context));
        valid_ = false;
    } else if (!the_session().active()) {
        warn("called while the agent is not initialized");
        valid_ = false;
    }
}

call::~call() {
    session& state = the_session();
    lock_.unlock();
    // The callbacks run without the lock: they may call into the API again.
    if (auto verbose = state.verbose_callback.load()) {
        const std::string message = std::string(function_) + detail_;
        verbose(message.c_str());
    }
    for (const std::string& message : warnings_) {
        if (auto warning = state.warning_callback.load()) warning(message.c_str());
        if (auto logging = state.logging_callback.load()) logging(message.c_str());
    }
}

void call::warn(const std::string& message) {
    std::string text = std::string(function_) + ": " + message;
    the_session().write_line("# warning: " + text);
    warnings_.push_back(std::move(text));
}

object* call::find(quorin_handle_t handle, object_kind kind, const char* role) {
    if (handle == 0) {
        warn(format("the %s handle is 0 (no object)", role));
        return nullptr;
    }
    object* found = state().find(handle);
    if (found == nullptr) {
        warn(format("unknown %s handle %llu", role, static_cast<unsigned long long>(handle)));
        return nullptr;
    }
    if (found->kind != kind) {
        warn(format("handle %llu is a %s, not a %s", static_cast<unsigned long long>(handle),
                    object_kind_name(found->kind), role));
        return nullptr;
    }
    return found;
}

tracer_record* call::tracer(quorin_handle_t handle, std::initializer_list<tracer_kind> kinds) {
    object* found = find(handle, object_kind::tracer, "tracer");
    if (found == nullptr) return nullptr;
    if (kinds.size() == 0) return &found->tracer;
    for (tracer_kind kind : kinds) {
        if (found->tracer.kind == kind) return &found->tracer;
    }
    warn(format("tracer %llu is of kind '%s', not '%s'", static_cast<unsigned long long>(handle),
                tracer_kind_name(found->tracer.kind), tracer_kind_name(*kinds.begin())));
    return nullptr;
}

std::string call::text(const void* value, const char* role, bool required) {
    if (value == nullptr) {
        if (required) warn(format("the %s is a null pointer", role));
        return {};
    }
    return printable_text(static_cast<const char*>(value));
}

bool call::count(const void* value, uint64_t* count) {
    *count = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
    if (*count <= array_limit) return true;
    warn(format("count %llu is more than %llu: the call is ignored",
                static_cast<unsigned long long>(*count),
                static_cast<unsigned long long>(array_limit)));
    return false;
}

}  // namespace console
