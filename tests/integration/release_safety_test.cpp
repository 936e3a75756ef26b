// No forwarder may reach an agent that failed its initialization or an interface of an agent
// module that has been released: the agent context, the function table and every extension
// interface are cleared before the module goes.
#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "quorin.h"
#include "support/agent_fixture.h"

namespace {

// What the API answered from inside the library's log lines, that is while the library was
// still at work on a failed initialization.
struct probe_answer {
    std::u16string message;
    int32_t current_state;
    quorin_handle_t metric;
};
std::mutex probe_mutex;
std::vector<probe_answer> probe_answers;

void probe_while_logging(int32_t, const quorin_wchar_t* message) {
    const probe_answer answer{to_u16(message), quorin_agent_get_current_state(),
                              quorin_integercountermetric_create_p(nullptr, nullptr, nullptr)};
    std::lock_guard<std::mutex> lock(probe_mutex);
    probe_answers.push_back(answer);
}

void probe_from_release() {
    const probe_answer answer{u"release", quorin_agent_get_current_state(),
                              quorin_integercountermetric_create_p(nullptr, nullptr, nullptr)};
    std::lock_guard<std::mutex> lock(probe_mutex);
    probe_answers.push_back(answer);
}

std::vector<probe_answer> probed() {
    std::lock_guard<std::mutex> lock(probe_mutex);
    return probe_answers;
}

class ReleaseSafety : public agent_fixture {
  protected:
    void SetUp() override {
        agent_fixture::SetUp();
        std::lock_guard<std::mutex> lock(probe_mutex);
        probe_answers.clear();
    }

    static void enable_all_extensions() {
        ASSERT_EQ(quorin_ex_api_enable_span(), QUORIN_STATUS_OK);
        ASSERT_EQ(quorin_ex_api_enable_techtype(), QUORIN_STATUS_OK);
        ASSERT_EQ(quorin_ex_api_enable_tracer_ext(), QUORIN_STATUS_OK);
        ASSERT_EQ(quorin_ex_api_enable_serverless(), QUORIN_STATUS_OK);
    }
};

bool enabled_by_application(const api_row& row) {
    return row.table != test_agent_functions && row.table != test_agent_metrics;
}

}  // namespace

TEST_F(ReleaseSafety, AgentThatStoredItsValuesAndFailedIsNeverReached) {
    set_home(QUORIN_TEST_HOME);
    agent().store_before_failing = 1;
    agent().fail_agent_initialize(0x20000006, u"stored, then gave up");
    quorin_stub_set_logging_callback(probe_while_logging);

    EXPECT_EQ(quorin_initialize(), 0x20000006u);
    ASSERT_EQ(agent().agent_initialize_calls.load(), 1u);
    const std::vector<probe_answer> answers = probed();
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().message,
              u"Could not initialize agent for Corvantis Kestrane SDK for C/C++: stored, then "
              u"gave up");
    // The library logs its failure before it releases the module: already then the agent's
    // values are gone.
    for (const probe_answer& answer : answers) {
        EXPECT_EQ(answer.current_state, 3) << to_narrow(answer.message);
        EXPECT_EQ(answer.metric, 0u) << to_narrow(answer.message);
    }
    expect_every_export_unbound();
    EXPECT_EQ(agent().call_count.load(), 0u) << "no slot of the failed agent was called";
    EXPECT_EQ(agent().release_calls.load(), 0u);
    EXPECT_EQ(agent().shutdown_calls.load(), 1u);
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_NOT_INITIALIZED);
}

TEST_F(ReleaseSafety, NewAgentModuleIsNotReachedThroughExtensionsOfTheReleasedOne) {
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    enable_all_extensions();
    ASSERT_EQ(quorin_ex_spantracer_create(1), test_agent_handle(test_agent_span, 0));
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);

    // The first module stays mapped only because this test still holds it, so that a call
    // into it shows up in its records instead of crashing.
    test_agent_module second(QUORIN_TEST_SECOND_AGENT_FILE);
    ASSERT_TRUE(second.loaded());
    set_home(QUORIN_TEST_SECOND_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    ASSERT_STREQ(second->variant, "second");
    ASSERT_EQ(agent_version(), u"8.0.0.20230301-second");

    const uint64_t first_calls = agent().call_count.load();
    for (const api_row& row : extension_rows()) {
        if (!enabled_by_application(row)) continue;
        EXPECT_EQ(row.call(zero_arguments(row)), row.unbound) << row.name;
    }
    EXPECT_EQ(agent().call_count.load(), first_calls) << "the released module was reached";
    EXPECT_EQ(second->call_count.load(), 0u) << "reached before being enabled again";

    // Metrics come with every initialization; the others once enabled again.
    EXPECT_EQ(quorin_integercountermetric_create_p(nullptr, nullptr, nullptr),
              test_agent_handle(test_agent_metrics, 1));
    enable_all_extensions();
    for (const api_row& row : extension_rows())
        expect_row_forwards(second.control(), row, second_context);
    EXPECT_EQ(agent().call_count.load(), first_calls);
}

TEST_F(ReleaseSafety, CallsMadeDuringTheReleaseGetTheirDefaults) {
    // The release may call back into the application, which may call the API: by then the
    // agent is unbound, so the call does not reach it with a null context.
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    agent().release_hook = probe_from_release;
    const uint64_t calls = agent().call_count.load();
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_EQ(agent().release_calls.load(), 1u);
    EXPECT_EQ(agent().released_context, home_context);
    const std::vector<probe_answer> answers = probed();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].current_state, 3);
    EXPECT_EQ(answers[0].metric, 0u);
    EXPECT_EQ(agent().call_count.load(), calls) << "a slot was called during the release";
}
