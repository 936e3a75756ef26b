// The frame of the integration tests that bind the test agent through the shared library: a
// clean library before and after each test, none of the machine's CV_* settings, the home
// test agent held open for scripting, and the library's log captured from the finest level.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "agent/test_agent_module.h"
#include "support/api_rows.h"
#include "support/process_environment.h"
#include "support/scoped_state.h"

inline constexpr bool on_windows = QUORIN_TEST_WINDOWS != 0;

// The agent contexts the test agent variants store.
inline void* const home_context = reinterpret_cast<void*>(uintptr_t{0x7E57C0DE0001});
inline void* const process_context = reinterpret_cast<void*>(uintptr_t{0x7E57C0DE0002});
inline void* const second_context = reinterpret_cast<void*>(uintptr_t{0x7E57C0DE0003});

// Readable failure messages for transcripts.
void PrintTo(const log_line& line, std::ostream* out);

std::u16string u16(std::string_view ascii);
std::u16string status_text(uint32_t status);

struct load_info {
    int32_t found;
    int32_t compatible;
    bool operator==(const load_info&) const = default;
};
load_info current_load_info();
std::u16string agent_version();

// The options the library hands to the agent module.
std::u16string flags_option(uint32_t flags);
std::u16string home_option(const char* home);

// What every binding attempt logs first: the banner and the option summary.
struct opening {
    bool active = true;
    std::u16string agent_module;  // the agent library path
    std::u16string log_level = u"finest ";
    std::vector<std::u16string> additional;
};
std::vector<log_line> opening_lines(const opening& summary);
// What follows the summary when the home test agent binds and initializes.
std::vector<log_line> bound_lines(const std::u16string& version);
std::vector<log_line> concat(std::vector<log_line> first, const std::vector<log_line>& second);

// Calls the export with distinct arguments and expects the agent to have received exactly
// them, at their widths, behind the context, and the export to return the agent's result.
void expect_row_forwards(test_agent_control_block& agent, const api_row& row, void* context);

// Every forwarding export, called with arguments that make none of them write, answers its
// unbound default.
void expect_every_export_unbound();

// A module file is unloaded when nothing holds it any more; opening it afresh then runs its
// defaults again. A marker put into its control block survives only while it stays loaded.
void put_unload_marker(test_agent_control_block& control);
bool unload_marker_present(const char* path);

class agent_fixture : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

  public:
    test_agent_control_block& agent() { return agent_->control(); }
    // Back to the agent's defaults, everything it received forgotten.
    void reset_agent() { agent_->reset(); }
    void set_variable(const std::u16string& text);
    void set_home(const char* home) { set_variable(home_option(home)); }
    // Gives up the test's own hold on the home agent (agent() is gone afterwards) and tells
    // whether the library has freed the module too.
    bool home_agent_unloaded();
    std::vector<log_line> logged() const { return log_->lines(); }
    void clear_log() { log_->clear(); }

  private:
    std::optional<scoped_process_environment> environment_[4];
    std::optional<test_agent_module> agent_;
    std::optional<log_capture> log_;
};
