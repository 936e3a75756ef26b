// An application's whole road through the shared library with the home test agent: it names
// the agent home, initializes, calls the API and shuts down; nested initializations share one
// binding, and the last shutdown gives everything back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "quorin.h"
#include "support/agent_fixture.h"

namespace {

using kinds = std::vector<test_agent_event_kind>;
using options = std::vector<std::u16string>;

const std::u16string agent_file = u"" QUORIN_TEST_AGENT_FILE;
const std::u16string home_version = u"7.3.1.20221215-test";
const quorin_handle_t web_request_handle = test_agent_handle(test_agent_functions, 23);

// What a successful binding asks of the agent, in order.
const kinds binding_events = {test_agent_initialize_event, test_agent_get_library_event,
                              test_agent_version_event, test_agent_get_library_event,
                              test_agent_agent_initialize_event};

options home_and_flags() { return {home_option(QUORIN_TEST_HOME), flags_option(0)}; }

quorin_handle_t create_web_request() {
    return quorin_incomingwebrequesttracer_create_p(nullptr, nullptr, nullptr);
}

class Lifecycle : public agent_fixture {
  protected:
    options received_options() {
        options received;
        for (size_t i = 0; i < agent().option_count && i < test_agent_max_options; ++i) {
            received.push_back(agent().option(i));
        }
        return received;
    }
};

// The three places where an application can name the agent home.
struct home_source {
    const char* name;
    std::function<void(Lifecycle&)> configure;
    options additional;  // what the agent receives besides the flags
};

}  // namespace

TEST_F(Lifecycle, HomeFromAnySourceBindsTheAgentAndShutdownReleasesIt) {
    const std::vector<home_source> sources = {
        {"variable",
         [](Lifecycle& test) { test.set_home(QUORIN_TEST_HOME); },
         {home_option(QUORIN_TEST_HOME)}},
        {"command line",
         [](Lifecycle&) {
             std::u16string program = u"application";
             std::u16string argument = u"--cv_home=" + u16(QUORIN_TEST_HOME);
             quorin_wchar_t* argv[] = {reinterpret_cast<quorin_wchar_t*>(program.data()),
                                       reinterpret_cast<quorin_wchar_t*>(argument.data())};
             ASSERT_EQ(quorin_stub_process_cmdline_args(2, argv, 1), QUORIN_STATUS_OK);
         },
         {home_option(QUORIN_TEST_HOME)}},
        // The environment is not a variable, so it is not passed on to the agent.
        {"environment",
         [](Lifecycle&) { process_environment_set("CV_HOME", QUORIN_TEST_HOME); },
         {}},
    };
    for (const home_source& source : sources) {
        SCOPED_TRACE(source.name);
        source.configure(*this);
        options expected_options = source.additional;
        expected_options.push_back(flags_option(0));

        ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
        EXPECT_EQ(logged(), concat(opening_lines({true, agent_file, u"finest ", expected_options}),
                                   bound_lines(home_version)));
        EXPECT_EQ(received_options(), expected_options);
        EXPECT_EQ(agent().event_kinds(), binding_events);
        EXPECT_EQ(agent().requested_ids(),
                  (std::vector<uint32_t>{agent_contract::library_interface_id,
                                         agent_contract::metrics_interface_id}));
        EXPECT_EQ(current_load_info(), (load_info{1, 1}));
        EXPECT_EQ(agent_version(), home_version);
        EXPECT_EQ(create_web_request(), web_request_handle);

        clear_log();
        EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
        EXPECT_TRUE(logged().empty());
        EXPECT_EQ(agent().release_calls.load(), 1u);
        EXPECT_EQ(agent().released_context, home_context);
        EXPECT_EQ(agent().shutdown_calls.load(), 1u);
        EXPECT_EQ(current_load_info(), (load_info{0, 0}));
        EXPECT_EQ(agent_version(), u"");
        EXPECT_EQ(create_web_request(), 0u);

        quorin_stub_free_variables();
        process_environment_set("CV_HOME", nullptr);
        reset_agent();
        clear_log();
    }
}

TEST_F(Lifecycle, AgentReceivesTheFlagsAndTheInitializationRecord) {
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize_2(4000000000u), QUORIN_STATUS_OK);
    EXPECT_EQ(received_options(),
              (options{home_option(QUORIN_TEST_HOME), flags_option(4000000000u)}));

    const agent_contract::agent_init_record& record = agent().init_record;
    EXPECT_EQ(std::vector<uint32_t>(record.stub_version, record.stub_version + 4),
              (std::vector<uint32_t>{1, 7, 1, 1}));
    EXPECT_EQ(std::vector<uint8_t>(record.reserved, record.reserved + 16),
              std::vector<uint8_t>(16, 0));
    char expected_stamp[64] = "20221215-102748";
    EXPECT_EQ(std::memcmp(record.build_stamp, expected_stamp, sizeof expected_stamp), 0);

    // Every error buffer handed to the agent holds 1800 characters.
    for (const test_agent_event& event : agent().recorded_events()) {
        if (event.kind == test_agent_version_event) continue;
        EXPECT_EQ(event.error_capacity, agent_contract::error_capacity) << event.kind;
    }
}

TEST_F(Lifecycle, EveryCoreExportReachesItsSlotBehindTheAgentContext) {
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    for (const api_row& row : core_rows()) expect_row_forwards(agent(), row, home_context);
}

TEST_F(Lifecycle, NestedInitializationsShareOneBinding) {
    set_home(QUORIN_TEST_HOME);
    expect_every_export_unbound();
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    const uint32_t events = agent().event_count.load();

    clear_log();
    ASSERT_EQ(quorin_initialize_2(7), QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_TRUE(logged().empty());
    EXPECT_EQ(agent().event_count.load(), events) << "the agent saw nothing of either";
    EXPECT_EQ(current_load_info(), (load_info{1, 1}));
    EXPECT_EQ(agent_version(), home_version);
    EXPECT_EQ(create_web_request(), web_request_handle);

    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_TRUE(logged().empty());
    const kinds all = agent().event_kinds();
    EXPECT_EQ(kinds(all.begin() + events, all.end()),
              (kinds{test_agent_release_event, test_agent_shutdown_event}));
    EXPECT_EQ(agent().released_context, home_context);
    EXPECT_EQ(current_load_info(), (load_info{0, 0}));
    EXPECT_EQ(agent_version(), u"");

    const uint64_t calls = agent().call_count.load();
    expect_every_export_unbound();
    EXPECT_EQ(agent().call_count.load(), calls);
}

TEST_F(Lifecycle, LastShutdownFreesTheAgentModule) {
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    ASSERT_FALSE(home_agent_unloaded()) << "the library holds the module while initialized";
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_TRUE(unload_marker_present(QUORIN_TEST_AGENT_FILE)) << "one reference is left";
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_FALSE(unload_marker_present(QUORIN_TEST_AGENT_FILE));
}

TEST_F(Lifecycle, ShutdownWithoutInitializationIsRefused) {
    const std::vector<log_line> refusal = {
        {4,
         u"Cannot uninitialize Corvantis Kestrane SDK for C/C++ because it has not been "
         u"initialized. (the agent module is not loaded)"}};
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(logged(), refusal);

    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    clear_log();
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(logged(), refusal);
    EXPECT_EQ(agent().release_calls.load(), 1u);
    EXPECT_EQ(agent().shutdown_calls.load(), 1u);
}

TEST_F(Lifecycle, ConfiguredLogLevelFiltersFromTheBannerOn) {
    set_home(QUORIN_TEST_HOME);
    set_variable(u"loglevelsdk=config");
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    std::vector<log_line> expected;
    for (const log_line& line :
         concat(opening_lines({true, agent_file, u"config ", home_and_flags()}),
                bound_lines(home_version))) {
        if (line.level >= QUORIN_LOGLEVEL_CONFIG) expected.push_back(line);
    }
    EXPECT_EQ(logged(), expected);
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);

    // From the environment, and high enough to silence a successful initialization.
    clear_log();
    quorin_stub_free_variables();
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_FINEST);
    set_home(QUORIN_TEST_HOME);
    process_environment_set("CV_LOGLEVELSDK", "warning");
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    EXPECT_EQ(logged(), std::vector<log_line>{});
}

TEST_F(Lifecycle, AgentVersionTextIsCutTo63Characters) {
    const std::u16string long_version = u"8.1.2.20240101-" + std::u16string(70, u'x');
    test_agent_control_block::set_text(agent().library_version, long_version.c_str());
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    const std::u16string cut = long_version.substr(0, 63);
    EXPECT_EQ(agent_version(), cut);
    EXPECT_EQ(logged(), concat(opening_lines({true, agent_file, u"finest ", home_and_flags()}),
                               bound_lines(cut)));
}

TEST_F(Lifecycle, MissingVersionTextLeavesTheVersionEmpty) {
    agent().null_version_text = 1;
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    EXPECT_EQ(agent_version(), u"");
    EXPECT_EQ(current_load_info(), (load_info{1, 1}));
    EXPECT_EQ(logged(), concat(opening_lines({true, agent_file, u"finest ", home_and_flags()}),
                               bound_lines(u"")));
}

TEST_F(Lifecycle, AgentWithoutAContextIsNotReleased) {
    agent().context_value = nullptr;
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    EXPECT_EQ(create_web_request(), web_request_handle);
    EXPECT_EQ(agent().recorded_calls().back().context, nullptr);
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_EQ(agent().release_calls.load(), 0u);
    EXPECT_EQ(agent().shutdown_calls.load(), 1u);
    EXPECT_EQ(create_web_request(), 0u);
}
