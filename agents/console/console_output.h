// The console agent's output: the trace as readable text, one tree per outermost tracer,
// metric updates and the agent's own notes, to standard output, standard error or a file.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "held_trees.h"
#include "line_writer.h"
#include "output.h"

namespace console {

class console_output final : public agent_core::agent_output {
  public:
    const char16_t* version() const override { return u"console agent 1.0.0"; }
    const char* name() const override { return "console agent"; }
    ~console_output() override;
    bool configure(const std::vector<agent_core::agent_option>& options,
                   std::string* error) override;
    void close() override;
    void session_started(const agent_core::session_info& info) override;
    void session_ended() override;
    void tracer_ended(agent_core::record_ptr tracer) override;
    void metric_updated(const agent_core::metric_event& event) override;
    void process_technology_added(int32_t type, std::string_view edition,
                                  std::string_view version) override;
    void warning(std::string_view text) override;
    // Waits a while for the lines so far to be written.
    void send_requested() override;
    void before_fork() override;
    void after_fork_in_parent() override;
    void after_fork_in_child() override;

  private:
    // With the mutex held.
    void write_line(std::string_view line);
    void write_indented(uint32_t depth, std::string_view text);
    void write_tree(std::string header, held_tree tree, const held_line* root);
    bool open(const char16_t* destination, std::string* error);
    void close_file();

    std::mutex mutex_;
    // Made when the output is opened (standard output until then).
    std::unique_ptr<line_writer> writer_;
    std::string file_name_ = "standard output";
    held_trees held_;
};

}  // namespace console
