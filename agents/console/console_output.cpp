#include "console_output.h"

#include <algorithm>

#include "console_platform.h"
#include "ids.h"
#include "recorder.h"
#include "text.h"
#include "trace_line.h"

namespace console {

using agent_core::format;

namespace {

constexpr char output_option[] = "console_output";
constexpr char option_prefix[] = "console_";

std::string hex(const uint8_t* bytes, size_t size) {
    std::string text(2 * size, '0');
    agent_core::write_hex(bytes, size, text.data());
    return text;
}

}  // namespace

bool console_output::open(const char16_t* destination, std::string* error) {
    close_file();
    const std::string name = agent_core::utf16_to_utf8(destination);
    if (name.empty() || equal_ignore_ascii_case(name, "stdout")) return true;
    if (equal_ignore_ascii_case(name, "stderr")) {
        writer_ = std::make_unique<line_writer>(standard_error());
        file_name_ = "standard error";
        return true;
    }
    std::string reason;
    output_target* file = open_output_file(destination, &reason);
    if (file == nullptr) {
        *error = "cannot open the output '" + name + "': " + reason;
        return false;
    }
    writer_ = std::make_unique<line_writer>(file);
    file_name_ = name;
    return true;
}

void console_output::close_file() {
    // An output that does not take the lines in this time keeps them, and the writer.
    constexpr auto stop_timeout = std::chrono::seconds(2);
    if (writer_ != nullptr && !writer_->stop(stop_timeout)) (void)writer_.release();
    writer_.reset();
    file_name_ = "standard output";
}

console_output::~console_output() {
    // Destroyed when the module is unloaded after its close (at a process exit with the agent
    // bound it is not destroyed at all): a writer still here is never waited for.
    (void)writer_.release();
}

bool console_output::configure(const std::vector<agent_core::agent_option>& options,
                               std::string* error) {
    const char16_t* destination = u"";
    std::vector<std::string> unknown;
    for (const agent_core::agent_option& option : options) {
        if (equal_ignore_ascii_case(option.name, output_option)) {
            if (option.received_value != nullptr) destination = option.received_value;
        } else if (option.name.size() > 8 &&
                   equal_ignore_ascii_case(option.name.substr(0, 8), option_prefix)) {
            unknown.push_back(option.name);
        }
    }
    std::lock_guard<std::mutex> hold(mutex_);
    if (!open(destination, error)) return false;
    for (const std::string& name : unknown) {
        write_line("# warning: unknown console agent option '" + name + "' is ignored");
    }
    return true;
}

void console_output::close() {
    std::lock_guard<std::mutex> hold(mutex_);
    close_file();
}

void console_output::session_started(const agent_core::session_info& info) {
    std::lock_guard<std::mutex> hold(mutex_);
    write_line(format("# console agent 1.0.0 writing to %s (stub %u.%u.%u.%u, build %s)",
                      file_name_.c_str(), info.stub_version[0], info.stub_version[1],
                      info.stub_version[2], info.stub_version[3], info.build_stamp.c_str()));
}

void console_output::session_ended() {
    std::lock_guard<std::mutex> hold(mutex_);
    // Held only when a root ended on one thread while its child ended on another.
    for (held_tree& tree : held_.take_all()) {
        write_tree("trace " + hex(tree.trace.bytes, 16), std::move(tree), nullptr);
    }
    write_line("# console agent released");
}

void console_output::tracer_ended(agent_core::record_ptr tracer) {
    held_line line{tracer->sequence, tracer->depth, trace_line(*tracer)};
    std::lock_guard<std::mutex> hold(mutex_);
    if (!tracer->started) {
        write_indented(0, line.text);
    } else if (tracer->root == tracer->handle) {
        std::string header = "trace " + hex(tracer->context.trace.bytes, 16);
        if (tracer->has_parent) header += "  parent=" + hex(tracer->parent.bytes, 8);
        write_tree(std::move(header), held_.take(tracer->handle), &line);
    } else if (agent_core::the_recorder().tracer_open(tracer->root)) {
        if (held_.hold(tracer->root, tracer->context.trace, std::move(line))) {
            held_tree tree = held_.take(tracer->root);
            const size_t count = tree.lines.size();
            write_tree("trace " + hex(tree.trace.bytes, 16), std::move(tree), nullptr);
            write_line(
                format("# %u tracers above printed before the outermost tracer of their "
                       "tree ended",
                       static_cast<unsigned>(count)));
        }
    } else {
        write_indented(tracer->depth, line.text);  // its tree was printed already
    }
}

void console_output::write_tree(std::string header, held_tree tree, const held_line* root) {
    if (root != nullptr) tree.lines.push_back(*root);
    std::sort(tree.lines.begin(), tree.lines.end(),
              [](const held_line& a, const held_line& b) { return a.sequence < b.sequence; });
    write_line(header);
    for (const held_line& line : tree.lines) write_indented(line.depth, line.text);
}

void console_output::metric_updated(const agent_core::metric_event& event) {
    const std::string line = metric_line(event);
    std::lock_guard<std::mutex> hold(mutex_);
    write_line(line);
}

void console_output::process_technology_added(int32_t type, std::string_view edition,
                                              std::string_view version) {
    const std::string line = format("process technology %d", type) +
                             "  edition=" + quoted_if_needed(edition) +
                             "  version=" + quoted_if_needed(version);
    std::lock_guard<std::mutex> hold(mutex_);
    write_line(line);
}

void console_output::warning(std::string_view text) {
    std::string line = "# warning: ";
    line.append(text);
    std::lock_guard<std::mutex> hold(mutex_);
    write_line(line);
}

void console_output::write_indented(uint32_t depth, std::string_view text) {
    std::string line(2 + 2 * static_cast<size_t>(depth), ' ');
    line.append(text);
    write_line(line);
}

void console_output::write_line(std::string_view line) {
    if (writer_ == nullptr) writer_ = std::make_unique<line_writer>(standard_output());
    writer_->write(line);
}

void console_output::send_requested() {
    constexpr auto flush_timeout = std::chrono::seconds(2);
    line_writer* writer = nullptr;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        writer = writer_.get();
    }
    // Without the lock, so that the other threads' tracers end meanwhile. The writer lives
    // until the agent is closed, which no call may overlap.
    if (writer != nullptr) writer->flush(flush_timeout);
}

void console_output::before_fork() {
    mutex_.lock();
    if (writer_ != nullptr) writer_->before_fork();
}

void console_output::after_fork_in_parent() {
    if (writer_ != nullptr) writer_->after_fork_in_parent();
    mutex_.unlock();
}

void console_output::after_fork_in_child() {
    if (writer_ != nullptr) writer_->after_fork_in_child();
    mutex_.unlock();
}

}  // namespace console

agent_core::agent_output& agent_core::module_output() {
    static agent_core::kept_at_exit<console::console_output> instance;
    return instance.value;
}
