// Every way a binding attempt can fail, each with its status, its log transcript, the load
// state and version it leaves, and what the agent saw. A failed attempt always ends with the
// module freed and the library back at the start.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "quorin.h"
#include "support/agent_fixture.h"

namespace {

using kinds = std::vector<test_agent_event_kind>;
using lines = std::vector<log_line>;

const std::u16string agent_file = u"" QUORIN_TEST_AGENT_FILE;
const std::u16string home_version = u"7.3.1.20221215-test";
const std::u16string load_failed =
    u"Could not load agent module for Corvantis Kestrane SDK for C/C++: ";
const std::u16string init_failed = u"Could not initialize Corvantis Kestrane SDK for C/C++: ";
const std::u16string agent_init_failed =
    u"Could not initialize agent for Corvantis Kestrane SDK for C/C++: ";

// Codes and loader texts of the system the tests run on.
constexpr uint32_t missing_file_code = on_windows ? 126 : 2;
constexpr uint32_t not_a_module_code = on_windows ? 193 : 8;
constexpr uint32_t missing_export_code = on_windows ? 127 : 38;

std::u16string missing_file_text(const char* path) {
    if (on_windows) return status_text(missing_file_code);
    return u16(path) + u": cannot open shared object file: No such file or directory";
}

std::u16string not_a_module_text(const char* path) {
    if (!on_windows) return u16(path) + u": file too short";
    std::u16string text = status_text(not_a_module_code);
    const size_t insert = text.find(u"%1");
    std::u16string quoted_path(1, u'\'');
    quoted_path.append(u16(path)).push_back(u'\'');
    if (insert != std::u16string::npos) text.replace(insert, 2, quoted_path);
    return text;
}

std::u16string missing_export_text(const char* path, const char* symbol) {
    if (on_windows) return status_text(missing_export_code);
    return u16(path) + u": undefined symbol: " + u16(symbol);
}

// The lines up to a successful sdkagent_abi_initialize, after the option summary.
const lines module_initializing = {{2, u"Loading agent module..."},
                                   {2, u"Initializing agent module..."}};
// The lines up to the agent initialize function, after the option summary.
const lines agent_initializing = {
    {2, u"Loading agent module..."},
    {2, u"Initializing agent module..."},
    {4, u"Loaded agent module version: " + home_version},
    {4, u"Corvantis Kestrane SDK for C/C++ agent module loaded successfully."},
    {2, u"Initializing agent..."},
};

class BindingFailures : public agent_fixture {
  protected:
    // The summary of an attempt configured with this home variable (or none).
    static lines summary(const char* home, const std::u16string& path) {
        std::vector<std::u16string> additional;
        if (home != nullptr) additional.push_back(home_option(home));
        additional.push_back(flags_option(0));
        return opening_lines({true, path, u"finest ", additional});
    }
    static lines home_summary() { return summary(QUORIN_TEST_HOME, agent_file); }

    void expect_left(load_info info, const std::u16string& version) {
        EXPECT_EQ(current_load_info(), info);
        EXPECT_EQ(agent_version(), version);
        const uint64_t calls = agent().call_count.load();
        expect_every_export_unbound();
        EXPECT_EQ(agent().call_count.load(), calls);
    }
};

}  // namespace

TEST_F(BindingFailures, AgentSwitchedOffLoadsNothing) {
    set_home(QUORIN_TEST_HOME);
    set_variable(u"agentactive=false");
    EXPECT_EQ(quorin_initialize(), QUORIN_STATUS_AGENT_NOT_ACTIVE);
    EXPECT_EQ(
        logged(),
        concat(
            opening_lines(
                {false, agent_file, u"finest ", {home_option(QUORIN_TEST_HOME), flags_option(0)}}),
            {{3, u"Agent not active."}, {6, load_failed + u"Agent not active."}}));
    expect_left({0, 0}, u"");
    EXPECT_EQ(agent().event_count.load(), 0u);
}

TEST_F(BindingFailures, NoProcessAgentAndNoFallbackPath) {
    EXPECT_EQ(quorin_initialize(), QUORIN_STATUS_AGENT_LOAD_FAILED);
    EXPECT_EQ(logged(), concat(summary(nullptr, u""),
                               {{2, u"Loading agent module..."},
                                {4, load_failed + u"Loading via the process module failed and no "
                                                  u"fallback path was provided."}}));
    expect_left({0, 0}, u"");
}

TEST_F(BindingFailures, MissingFileIsReportedWithTheLoaderText) {
    set_variable(u"agentlibrary=" + u16(QUORIN_TEST_MISSING_AGENT_FILE));
    EXPECT_EQ(quorin_initialize(), missing_file_code);
    EXPECT_EQ(logged(),
              concat(summary(nullptr, u16(QUORIN_TEST_MISSING_AGENT_FILE)),
                     {{2, u"Loading agent module..."},
                      {4, load_failed + missing_file_text(QUORIN_TEST_MISSING_AGENT_FILE)}}));
    expect_left({0, 0}, u"");
}

TEST_F(BindingFailures, FileThatIsNotAModuleIsAnUnexpectedFailure) {
    set_home(QUORIN_TEST_NOT_A_MODULE_HOME);
    EXPECT_EQ(quorin_initialize(), not_a_module_code);
    EXPECT_EQ(logged(),
              concat(summary(QUORIN_TEST_NOT_A_MODULE_HOME, u16(QUORIN_TEST_NOT_A_MODULE_FILE)),
                     {{2, u"Loading agent module..."},
                      {4, load_failed + not_a_module_text(QUORIN_TEST_NOT_A_MODULE_FILE)},
                      {5,
                       u"Unexpected error while loading the agent module (see previous "
                       u"message for details)."}}));
    expect_left({0, 0}, u"");
}

TEST_F(BindingFailures, MissingEntryPointFreesTheModuleWithoutShuttingItDown) {
    std::optional<test_agent_module> broken(QUORIN_TEST_BROKEN_AGENT_FILE);
    ASSERT_TRUE(broken->loaded());
    set_home(QUORIN_TEST_BROKEN_HOME);
    EXPECT_EQ(quorin_initialize(), missing_export_code);
    EXPECT_EQ(logged(), concat(summary(QUORIN_TEST_BROKEN_HOME, u16(QUORIN_TEST_BROKEN_AGENT_FILE)),
                               {{2, u"Loading agent module..."},
                                {6, load_failed + missing_export_text(QUORIN_TEST_BROKEN_AGENT_FILE,
                                                                      "sdkagent_abi_shutdown")}}));
    EXPECT_EQ((*broken)->event_count.load(), 0u);
    expect_left({1, 0}, u"");

    put_unload_marker(broken->control());
    broken.reset();
    EXPECT_FALSE(unload_marker_present(QUORIN_TEST_BROKEN_AGENT_FILE));
}

TEST_F(BindingFailures, AgentModuleInitializeFails) {
    struct scripted {
        const char* name;
        uint32_t status;
        const char16_t* text;
        log_line failure;
    };
    const std::vector<scripted> cases = {
        {"with a text",
         0x20000001,
         u"the agent refuses to start",
         {6, init_failed + u"the agent refuses to start"}},
        {"without a text",
         QUORIN_STATUS_INVALID_AGENT_BINARY,
         nullptr,
         {6, load_failed + u"Invalid agent binary."}},
    };
    set_home(QUORIN_TEST_HOME);
    for (const scripted& script : cases) {
        SCOPED_TRACE(script.name);
        reset_agent();
        clear_log();
        agent().fail_initialize(script.status, script.text);
        EXPECT_EQ(quorin_initialize(), script.status);
        EXPECT_EQ(logged(), concat(home_summary(), concat(module_initializing, {script.failure})));
        EXPECT_EQ(agent().event_kinds(), kinds{test_agent_initialize_event});
        expect_left({1, 0}, u"");
    }
    EXPECT_TRUE(home_agent_unloaded());
}

TEST_F(BindingFailures, LibraryInterfaceRefusedProbesTheVersion) {
    constexpr uint32_t library = agent_contract::library_interface_id;
    constexpr uint32_t versioned = agent_contract::version_interface_id;
    constexpr uint32_t legacy = agent_contract::legacy_version_interface_id;
    struct scripted {
        const char* name;
        std::vector<test_agent_refusal> refusals;  // the first one is the library's
        lines probe;
        std::u16string version;
        std::vector<uint32_t> requested;
    };
    const auto refusal = [](uint32_t id, uint32_t status, const char16_t* text) {
        test_agent_refusal result{id, {status, {}}};
        test_agent_control_block::set_text(result.answer.text, text);
        return result;
    };
    const std::vector<scripted> cases = {
        {"the version interface answers",
         {refusal(library, 0x20000001, u"library interface 6 is not offered")},
         {{6, init_failed + u"library interface 6 is not offered"},
          {4, u"Agent module version is 7.2.0.20220601-versioned; probably incompatible"}},
         u"7.2.0.20220601-versioned",
         {library, versioned}},
        {"only the legacy interface answers",
         {refusal(library, QUORIN_STATUS_INTERFACE_UNSUPPORTED, nullptr),
          refusal(versioned, QUORIN_STATUS_NOT_IMPLEMENTED, u"no version interface")},
         {{0, u"Could not get agent module version: 'no version interface'. Trying legacy method."},
          {4, u"Agent module version is 6.9.0.20210301-legacy; probably incompatible"},
          {6, load_failed + u"Interface not supported."}},
         u"6.9.0.20210301-legacy",
         {library, versioned, legacy}},
        {"every request refused with a text",
         {refusal(library, 0x20000002, u"no library"),
          refusal(versioned, 0x20000003, u"no version"),
          refusal(legacy, 0x20000004, u"no legacy version")},
         {{6, init_failed + u"no library"},
          {0, u"Could not get agent module version: 'no version'. Trying legacy method."},
          {4, u"Agent module version could not be determined: no legacy version"}},
         u"",
         {library, versioned, legacy}},
        {"every request refused without a text",
         {refusal(library, QUORIN_STATUS_INTERFACE_UNSUPPORTED, nullptr),
          refusal(versioned, QUORIN_STATUS_FEATURE_LEVEL_UNSUPPORTED, nullptr),
          refusal(legacy, QUORIN_STATUS_NOT_IMPLEMENTED, nullptr)},
         {{0,
           u"Could not get agent module version: 'Feature level not supported.'. Trying legacy "
           u"method."},
          {4, u"Agent module version could not be determined: Function not implemented."},
          {6, load_failed + u"Interface not supported."}},
         u"",
         {library, versioned, legacy}},
    };
    set_home(QUORIN_TEST_HOME);
    for (const scripted& script : cases) {
        SCOPED_TRACE(script.name);
        reset_agent();
        clear_log();
        for (const test_agent_refusal& refused : script.refusals) {
            agent().refuse(refused.interface_id, refused.answer.status, refused.answer.text);
        }
        // The status is the library interface's, also when a probe found a version.
        EXPECT_EQ(quorin_initialize(), script.refusals.front().answer.status);
        EXPECT_EQ(logged(), concat(home_summary(), concat(module_initializing, script.probe)));
        EXPECT_EQ(agent().requested_ids(), script.requested);
        EXPECT_EQ(agent().shutdown_calls.load(), 1u);
        EXPECT_EQ(agent().event_kinds().back(), test_agent_shutdown_event);
        EXPECT_EQ(agent().agent_initialize_calls.load(), 0u);
        expect_left({1, 0}, script.version);
    }
    EXPECT_TRUE(home_agent_unloaded());
}

// An agent that reports success but hands out no library interface has not provided one; the
// library must not call into a null interface.
TEST_F(BindingFailures, LibraryInterfaceMissingDespiteSuccessCountsAsRefused) {
    set_home(QUORIN_TEST_HOME);
    agent().refuse(agent_contract::library_interface_id, QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_initialize(), QUORIN_STATUS_INTERFACE_UNSUPPORTED);
    EXPECT_EQ(logged(),
              concat(home_summary(),
                     concat(module_initializing,
                            {{4,
                              u"Agent module version is 7.2.0.20220601-versioned; probably "
                              u"incompatible"},
                             {6, load_failed + u"Interface not supported."}})));
    EXPECT_EQ(agent().shutdown_calls.load(), 1u);
    EXPECT_EQ(agent().agent_initialize_calls.load(), 0u);
    expect_left({1, 0}, u"7.2.0.20220601-versioned");
}

TEST_F(BindingFailures, MetricsInterfaceRefusedKeepsTheAgentUninitialized) {
    struct scripted {
        const char* name;
        uint32_t status;
        const char16_t* text;
        std::u16string logged_text;
    };
    const std::vector<scripted> cases = {
        {"with a text", QUORIN_STATUS_INTERFACE_UNSUPPORTED, u"metrics are switched off",
         u"metrics are switched off"},
        {"without a text", QUORIN_STATUS_INTERFACE_UNSUPPORTED, nullptr,
         u"Interface not supported."},
        // Success without an interface is no interface.
        {"granted as null", QUORIN_STATUS_OK, nullptr, u"Interface not supported."},
    };
    set_home(QUORIN_TEST_HOME);
    for (const scripted& script : cases) {
        SCOPED_TRACE(script.name);
        reset_agent();
        clear_log();
        agent().refuse(agent_contract::metrics_interface_id, script.status, script.text);
        EXPECT_EQ(quorin_initialize(), QUORIN_STATUS_INTERFACE_UNSUPPORTED);
        EXPECT_EQ(
            logged(),
            concat(home_summary(),
                   concat(agent_initializing,
                          {{6, u"Failed to load extension API metrics: " + script.logged_text},
                           {6, agent_init_failed + u"Interface not supported."}})));
        EXPECT_EQ(agent().agent_initialize_calls.load(), 0u);
        EXPECT_EQ(agent().shutdown_calls.load(), 1u);
        EXPECT_EQ(agent().release_calls.load(), 0u);
        // The library interface was obtained: the module was compatible.
        expect_left({1, 1}, home_version);
    }
    EXPECT_TRUE(home_agent_unloaded());
}

TEST_F(BindingFailures, AgentInitializeFails) {
    struct scripted {
        const char* name;
        uint32_t status;
        const char16_t* text;
        std::u16string logged_text;
    };
    const std::vector<scripted> cases = {
        {"with a text", 0x20000005, u"the collector is unreachable",
         u"the collector is unreachable"},
        {"without a text", QUORIN_STATUS_UNEXPECTED_ERROR, nullptr, u"Unexpected error."},
    };
    set_home(QUORIN_TEST_HOME);
    for (const scripted& script : cases) {
        SCOPED_TRACE(script.name);
        reset_agent();
        clear_log();
        agent().fail_agent_initialize(script.status, script.text);
        EXPECT_EQ(quorin_initialize(), script.status);
        EXPECT_EQ(logged(),
                  concat(home_summary(), concat(agent_initializing,
                                                {{4, u"Loaded extension API metrics."},
                                                 {6, agent_init_failed + script.logged_text}})));
        EXPECT_EQ(agent().agent_initialize_calls.load(), 1u);
        EXPECT_EQ(agent().shutdown_calls.load(), 1u);
        EXPECT_EQ(agent().release_calls.load(), 0u);
        expect_left({1, 1}, home_version);
    }
    EXPECT_TRUE(home_agent_unloaded());
}

TEST_F(BindingFailures, NextInitializationStartsFromTheBeginning) {
    set_home(QUORIN_TEST_HOME);
    agent().refuse(agent_contract::library_interface_id, QUORIN_STATUS_INTERFACE_UNSUPPORTED);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_INTERFACE_UNSUPPORTED);
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_NOT_INITIALIZED) << "nothing is left to release";

    reset_agent();
    clear_log();
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    EXPECT_EQ(logged(), concat(home_summary(),
                               concat(agent_initializing, {{4, u"Loaded extension API metrics."},
                                                           {4,
                                                            u"Corvantis Kestrane SDK for C/C++ "
                                                            u"initialized successfully."}})));
    EXPECT_EQ(agent().initialize_calls.load(), 1u);
    EXPECT_EQ(current_load_info(), (load_info{1, 1}));
}

TEST_F(BindingFailures, AgentErrorTextsWithoutTerminatorAreCutAtTheBufferEnd) {
    // An agent that fills the whole error buffer leaves no terminator; the library must cut the
    // text at the buffer's end instead of reading past it (ASan shows the overrun).
    struct scripted {
        const char* name;
        void (*script)(test_agent_control_block&);
        std::u16string line_start;
    };
    const std::vector<scripted> cases = {
        {"module initialize",
         [](test_agent_control_block& a) { a.fail_initialize(0x20000001, u"abc"); }, init_failed},
        {"library interface",
         [](test_agent_control_block& a) {
             a.refuse(agent_contract::library_interface_id, 0x20000002, u"abc");
         },
         init_failed},
        {"metrics interface",
         [](test_agent_control_block& a) {
             a.refuse(agent_contract::metrics_interface_id, 0x20000003, u"abc");
         },
         u"Failed to load extension API metrics: "},
        {"agent initialize",
         [](test_agent_control_block& a) { a.fail_agent_initialize(0x20000004, u"abc"); },
         agent_init_failed},
    };
    set_home(QUORIN_TEST_HOME);
    for (const scripted& c : cases) {
        SCOPED_TRACE(c.name);
        reset_agent();
        clear_log();
        agent().unterminated_errors = 1;
        c.script(agent());
        EXPECT_NE(quorin_initialize(), QUORIN_STATUS_OK);
        bool found = false;
        for (const log_line& line : logged()) {
            if (!line.text.starts_with(c.line_start + u"abcabc")) continue;
            found = true;
            EXPECT_LE(line.text.size(), agent_contract::error_capacity - 1);
        }
        EXPECT_TRUE(found);
    }
}
