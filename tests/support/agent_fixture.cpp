#include "support/agent_fixture.h"

#include <bit>

#include "quorin.h"

namespace {
constexpr char16_t unload_marker[] = u"still loaded";
}

std::u16string u16(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

std::u16string status_text(uint32_t status) {
    quorin_wchar_t text[1800];
    return to_u16(quorin_stub_xstrerror(status, text, 1800));
}

load_info current_load_info() {
    load_info info{-1, -1};
    quorin_stub_get_agent_load_info(&info.found, &info.compatible);
    return info;
}

std::u16string agent_version() { return to_u16(quorin_agent_get_version_string()); }

std::u16string flags_option(uint32_t flags) {
    return u"QUORIN_INTERNAL_CA627667445C40F0_INIT_FLAGS=" + u16(std::to_string(flags));
}

std::u16string home_option(const char* home) { return u"home=" + u16(home); }

std::vector<log_line> opening_lines(const opening& summary) {
    std::vector<log_line> lines = {
        {4, u"Initializing Corvantis Kestrane SDK for C/C++ ..."},
        {4, u"SDK stub version 1.7.1.1, build date 2022.12.15 10:27:48."},
        {2, u"Preparing arguments..."},
        {3, u"  Options:"},
        {3, std::u16string(u"    Agent active:  ") + (summary.active ? u"true" : u"false")},
        {3, u"    Agent module:  '" + summary.agent_module + u"'"},
        {3, u"    SDK log level: " + summary.log_level},
        {3, u"  Additional options:"},
    };
    for (const std::u16string& option : summary.additional) lines.push_back({3, u"    " + option});
    if (summary.additional.empty()) lines.push_back({3, u"    (none)"});
    return lines;
}

std::vector<log_line> bound_lines(const std::u16string& version) {
    return {
        {2, u"Loading agent module..."},
        {2, u"Initializing agent module..."},
        {4, u"Loaded agent module version: " + version},
        {4, u"Corvantis Kestrane SDK for C/C++ agent module loaded successfully."},
        {2, u"Initializing agent..."},
        {4, u"Loaded extension API metrics."},
        {4, u"Corvantis Kestrane SDK for C/C++ initialized successfully."},
    };
}

std::vector<log_line> concat(std::vector<log_line> first, const std::vector<log_line>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

void PrintTo(const log_line& line, std::ostream* out) {
    *out << "{" << line.level << ", \"" << to_narrow(line.text) << "\"}";
}

void expect_row_forwards(test_agent_control_block& agent, const api_row& row, void* context) {
    SCOPED_TRACE(row.name);
    agent.result(row.table, row.slot) = distinct_result(row);
    const std::vector<uint64_t> arguments = distinct_arguments(row);
    const uint64_t calls_before = agent.call_count.load();
    const uint64_t result = row.call(arguments);
    ASSERT_EQ(agent.call_count.load(), calls_before + 1);
    const test_agent_call call = agent.recorded_calls().back();
    EXPECT_EQ(call.table, row.table);
    EXPECT_EQ(call.slot, row.slot);
    EXPECT_EQ(call.context, context);
    ASSERT_EQ(call.argument_count, arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_EQ(call.arguments[i], cut_to_width(arguments[i], row.widths[i])) << "argument " << i;
        if (row.floating[i]) {
            EXPECT_EQ(call.real, std::bit_cast<double>(arguments[i]));
        }
    }
    EXPECT_EQ(result, cut_to_width(distinct_result(row), row.result_width));
}

void expect_every_export_unbound() {
    for (const api_row& row : all_rows()) {
        EXPECT_EQ(row.call(zero_arguments(row)), row.unbound) << row.name;
    }
}

void put_unload_marker(test_agent_control_block& control) {
    test_agent_control_block::set_text(control.legacy_version_text, unload_marker);
}

bool unload_marker_present(const char* path) {
    void* module = test_agent_open(path);
    if (module == nullptr) return false;
    const auto control = reinterpret_cast<test_agent_control_function>(
        test_agent_symbol(module, test_agent_control_symbol));
    const bool present =
        control != nullptr && std::u16string(control()->legacy_version_text) == unload_marker;
    test_agent_close(module);
    return present;
}

void agent_fixture::SetUp() {
    reset_library_state();
    const char* names[] = {"CV_AGENTACTIVE", "CV_AGENTLIBRARY", "CV_LOGLEVELSDK", "CV_HOME"};
    for (size_t i = 0; i < std::size(names); ++i) environment_[i].emplace(names[i], nullptr);
    agent_.emplace(QUORIN_TEST_AGENT_FILE);
    ASSERT_TRUE(agent_->loaded()) << QUORIN_TEST_AGENT_FILE;
    log_.emplace(QUORIN_LOGLEVEL_FINEST);
}

void agent_fixture::TearDown() {
    reset_library_state();
    log_.reset();
    if (agent_) agent_->reset();
    agent_.reset();
    for (auto& variable : environment_) variable.reset();
}

bool agent_fixture::home_agent_unloaded() {
    put_unload_marker(agent_->control());
    agent_.reset();
    return !unload_marker_present(QUORIN_TEST_AGENT_FILE);
}

void agent_fixture::set_variable(const std::u16string& text) {
    ASSERT_EQ(quorin_stub_set_variable(wide(text.c_str()), 1), QUORIN_STATUS_OK) << to_narrow(text);
}
