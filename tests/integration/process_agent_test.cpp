// An agent module that a process agent has already placed into the process is found by its
// bare name among the loaded modules and bound ahead of the agent home.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorin.h"
#include "support/agent_fixture.h"

namespace {

const std::u16string process_version = u"7.3.1.20221215-process";

// The home agent's binding lines, with the module found through the process agent instead.
std::vector<log_line> bound_through_process_agent() {
    std::vector<log_line> lines = bound_lines(process_version);
    lines.insert(lines.begin() + 1, {2, u"Loaded agent module provided by process agent."});
    return lines;
}

class ProcessAgent : public agent_fixture {
  protected:
    void SetUp() override {
        agent_fixture::SetUp();
        process_.emplace(QUORIN_TEST_PROCESS_AGENT_FILE);
        ASSERT_TRUE(process_->loaded()) << QUORIN_TEST_PROCESS_AGENT_FILE;
    }
    // The test's hold goes before the library's shutdown in TearDown, so the process agent
    // module never outlives the test.
    void TearDown() override {
        process_.reset();
        agent_fixture::TearDown();
    }

    test_agent_control_block& process() { return process_->control(); }

  private:
    std::optional<test_agent_module> process_;
};

}  // namespace

TEST_F(ProcessAgent, ComesBeforeTheAgentHome) {
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    const std::vector<log_line> opening =
        opening_lines({true,
                       u"" QUORIN_TEST_AGENT_FILE,
                       u"finest ",
                       {home_option(QUORIN_TEST_HOME), flags_option(0)}});
    EXPECT_EQ(logged(), concat(opening, bound_through_process_agent()));
    EXPECT_EQ(agent().initialize_calls.load(), 0u);
    EXPECT_EQ(agent_version(), process_version);
    EXPECT_EQ(quorin_customservicetracer_create_p(nullptr, nullptr),
              test_agent_handle(test_agent_functions, 38));
    EXPECT_EQ(process().recorded_calls().back().context, process_context);

    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_EQ(process().release_calls.load(), 1u);
    EXPECT_EQ(process().shutdown_calls.load(), 1u);
}

TEST_F(ProcessAgent, NeedsNoAgentHome) {
    const std::vector<log_line> opening = opening_lines({true, u"", u"finest ", {flags_option(0)}});
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    EXPECT_EQ(logged(), concat(opening, bound_through_process_agent()));
    EXPECT_EQ(process().initialize_calls.load(), 1u);
    EXPECT_EQ(current_load_info(), (load_info{1, 1}));
}
