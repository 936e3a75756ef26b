#include "call.h"

#include <cstdarg>
#include <cstdio>

#include "text.h"

namespace agent_core {

quorin_status_t call::refuse(void* context) {
    if (context != &core()) {
        warn(format("called with an agent context that is not this agent's (%p)", context));
        return QUORIN_STATUS_INVALID_ARGUMENT;
    }
    warn("called while the agent is not initialized");
    return QUORIN_STATUS_NOT_INITIALIZED;
}

void call::finish() {
    hand_on();
    if (noted_) notes_.~notes();
    noted_ = false;
}

void call::hand_on() {
    write_warnings();
    // A call made from a callback raises none: the callback would run again, and again.
    if (thread_->in_callback || thread_->claim() != claim_) return;
    const auto verbose = core().verbose_callback.load();
    const bool warned = noted_ && !notes_.warnings.empty();
    if (verbose == nullptr && !warned) return;
    notes& noted = this->noted();
    thread_->in_callback = true;
    if (verbose != nullptr) verbose((function_ + noted.detail).c_str());
    for (const std::string& message : noted.warnings) {
        if (auto warning = core().warning_callback.load()) warning(message.c_str());
        if (auto logging = core().logging_callback.load()) logging(message.c_str());
    }
    // A callback that released the agent took the thread's state with it.
    if (thread_->claim() == claim_) thread_->in_callback = false;
}

void call::warn(std::string message) { noted().warnings.push_back(function_ + (": " + message)); }

void call::write_noted() {
    notes& noted = notes_;
    for (; noted.written < noted.warnings.size(); ++noted.written) {
        core().output().warning(noted.warnings[noted.written]);
    }
}

void call::add_detail(const char* pattern, ...) {
    char buffer[128];
    va_list args;
    va_start(args, pattern);
    const int length = std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    if (length > 0) noted().detail.append(buffer, std::min<size_t>(length, sizeof buffer - 1));
}

std::string_view call::text(const void* value, const char* role, bool required) {
    if (value == nullptr) {
        if (required) warn(format("the %s is a null pointer", role));
        return {};
    }
    std::string& buffer = thread_->texts.next();
    append_printable_text(buffer, static_cast<const char*>(value));
    return buffer;
}

bool call::add_null_text(object_record& record, attribute_key key, const char* role,
                         bool required) {
    if (required) warn(format("the %s is a null pointer", role));
    return record.add_text(key, {});
}

std::string_view call::bytes(const unsigned char* value, size_t size) {
    std::string& buffer = thread_->texts.next();
    append_printable_bytes(buffer, value, size);
    return buffer;
}

bool call::refuse_count(uint64_t count) {
    warn(format("count %llu is more than %llu: the call is ignored",
                static_cast<unsigned long long>(count),
                static_cast<unsigned long long>(array_limit)));
    return false;
}

object_table::locked call::not_found(object_table::locked found, quorin_handle_t handle,
                                     const char* role) {
    const auto number = static_cast<unsigned long long>(handle);
    if (handle == 0) {
        warn(format("the %s handle is 0 (no object)", role));
    } else if (!found) {
        warn(format("unknown %s handle %llu", role, number));
    } else {
        const object_kind actual = found->kind;
        found.unlock();
        warn(format("handle %llu is a %s, not a %s", number, object_kind_name(actual), role));
    }
    return {};
}

object_table::locked call::not_of_kind(object_table::locked found, quorin_handle_t handle,
                                       tracer_kind expected) {
    const tracer_kind actual = found->tracer;
    found.unlock();
    warn(format("tracer %llu is of kind '%s', not '%s'", static_cast<unsigned long long>(handle),
                tracer_kind_name(actual), tracer_kind_name(expected)));
    return {};
}

void call::not_kept(object_record& record, uint64_t not_offered) {
    record.add_dropped(not_offered);
    if (record.limit_reported) return;
    record.limit_reported = true;
    warn(format("%s %llu keeps at most %u attributes: the others are dropped and counted",
                record.kind == object_kind::tracer ? tracer_kind_name(record.tracer)
                                                   : object_kind_name(record.kind),
                static_cast<unsigned long long>(record.handle),
                static_cast<unsigned>(object_record::attribute_limit)));
}

}  // namespace agent_core
