#include "session.h"

#include <algorithm>
#include <chrono>

#include "text.h"
#include "trace_line.h"

namespace console {

const char* tracer_kind_name(tracer_kind kind) {
    switch (kind) {
        case tracer_kind::incoming_web_request:
            return "incoming web request";
        case tracer_kind::outgoing_web_request:
            return "outgoing web request";
        case tracer_kind::incoming_remote_call:
            return "incoming remote call";
        case tracer_kind::outgoing_remote_call:
            return "outgoing remote call";
        case tracer_kind::database_request:
            return "database request";
        case tracer_kind::custom_service:
            return "custom service";
        case tracer_kind::outgoing_message:
            return "outgoing message";
        case tracer_kind::incoming_message_receive:
            return "incoming message receive";
        case tracer_kind::incoming_message_process:
            return "incoming message process";
        case tracer_kind::in_process_link:
            return "in-process link";
        case tracer_kind::span:
            return "span";
    }
    return "tracer";
}

const char* object_kind_name(object_kind kind) {
    switch (kind) {
        case object_kind::tracer:
            return "tracer";
        case object_kind::web_application_info:
            return "web application info";
        case object_kind::database_info:
            return "database info";
        case object_kind::messaging_system_info:
            return "messaging system info";
        case object_kind::metric:
            return "metric";
    }
    return "object";
}

uint64_t now_microseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

session& the_session() {
    static session instance;
    return instance;
}

bool session::open_output(const char16_t* destination, std::string* error) {
    close_output();
    const std::string name = utf16_to_utf8(destination);
    if (name.empty() || equal_ignore_case(name, "stdout")) return true;
    if (equal_ignore_case(name, "stderr")) {
        output_ = stderr;
        output_name_ = "standard error";
        return true;
    }
    output_ = open_output_file(destination, error);
    if (output_ == nullptr) return false;
    owns_output_ = true;
    output_name_ = name;
    return true;
}

void session::close_output() {
    if (owns_output_ && output_ != nullptr) std::fclose(output_);
    output_ = nullptr;
    owns_output_ = false;
    output_name_ = "standard output";
}

void session::write_line(const std::string& line) {
    FILE* out = output_ != nullptr ? output_ : stdout;
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

void session::begin() {
    active_ = true;
    std::random_device entropy;
    random_.seed((static_cast<uint64_t>(entropy()) << 32) ^ entropy() ^ now_microseconds());
}

void session::finish() {
    // Children started after their parents end first, so every tree still prints whole.
    std::vector<std::pair<uint64_t, quorin_handle_t>> open;
    std::vector<quorin_handle_t> never_started;
    for (const auto& [handle, value] : objects_) {
        if (value.kind != object_kind::tracer) continue;
        if (value.tracer.started) {
            open.emplace_back(value.tracer.sequence, handle);
        } else {
            never_started.push_back(handle);
        }
    }
    std::sort(open.rbegin(), open.rend());
    const uint64_t now = now_microseconds();
    for (const auto& entry : open) end_tracer(entry.second, now, "not ended");
    for (quorin_handle_t handle : never_started) {
        write_line(format("# warning: %s %llu was created but never started",
                          tracer_kind_name(objects_[handle].tracer.kind),
                          static_cast<unsigned long long>(handle)));
    }
    objects_.clear();
    started_.clear();
    pending_.clear();
    active_ = false;
}

quorin_handle_t session::add(object&& value) {
    const quorin_handle_t handle = next_handle_++;
    objects_.emplace(handle, std::move(value));
    return handle;
}

object* session::find(quorin_handle_t handle) {
    const auto found = objects_.find(handle);
    return found == objects_.end() ? nullptr : &found->second;
}

std::string session::new_id(int hex_digits) {
    std::string id;
    while (static_cast<int>(id.size()) < hex_digits)
        id += format("%016llx", static_cast<unsigned long long>(random_()));
    id.resize(static_cast<size_t>(hex_digits));
    return id;
}

quorin_handle_t session::current_tracer() const {
    const auto found = started_.find(std::this_thread::get_id());
    if (found == started_.end() || found->second.empty()) return 0;
    return found->second.back();
}

void session::start_tracer(quorin_handle_t handle, tracer_record& tracer, uint64_t start_us) {
    const quorin_handle_t parent_handle = current_tracer();
    const object* parent = parent_handle != 0 ? find(parent_handle) : nullptr;
    if (parent != nullptr) {
        tracer.root = parent->tracer.root;
        tracer.depth = parent->tracer.depth + 1;
        tracer.trace_id = parent->tracer.trace_id;
    } else {
        tracer.root = handle;
        tracer.depth = 0;
        tracer.trace_id = tracer.adopted_trace_id.empty() ? new_id(32) : tracer.adopted_trace_id;
    }
    tracer.span_id = new_id(16);
    tracer.started = true;
    tracer.start_us = start_us;
    tracer.sequence = next_sequence_++;
    tracer.thread = std::this_thread::get_id();
    started_[tracer.thread].push_back(handle);
}

void session::end_tracer(quorin_handle_t handle, uint64_t end_us, const char* state) {
    object* found = find(handle);
    if (found == nullptr || found->kind != object_kind::tracer) return;
    tracer_record& tracer = found->tracer;
    if (tracer.started) {
        // Usually the innermost, but the application may end tracers out of order.
        const auto stack = started_.find(tracer.thread);
        if (stack != started_.end()) {
            auto& handles = stack->second;
            handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
            if (handles.empty()) started_.erase(stack);
        }
    }
    pending_line line{tracer.sequence, trace_line(tracer, end_us, state)};
    if (tracer.started && tracer.root == handle) {
        std::vector<pending_line> lines = std::move(pending_[handle]);
        pending_.erase(handle);
        lines.push_back(std::move(line));
        print_tree(tracer, std::move(lines));
    } else if (tracer.started && find(tracer.root) != nullptr) {
        pending_[tracer.root].push_back(std::move(line));
    } else {
        write_line(line.text);  // its tree was printed already, or it never started
    }
    objects_.erase(handle);
}

void session::print_tree(const tracer_record& root, std::vector<pending_line> lines) {
    std::sort(lines.begin(), lines.end(),
              [](const pending_line& a, const pending_line& b) { return a.sequence < b.sequence; });
    write_line("trace " + root.trace_id);
    for (const pending_line& line : lines) write_line(line.text);
}

}  // namespace console
