#include "support/console_agent_fixture.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "support/scoped_state.h"

void console_agent_fixture::SetUp() {
    reset_library_state();
    const auto unique = std::to_string(std::random_device{}());
    output_ = std::filesystem::temp_directory_path() / ("quorin_console_agent_" + unique);
    std::filesystem::remove(output_);
    set_variable(u"home=" + to_u16_ascii(QUORIN_CONSOLE_AGENT_HOME));
    set_variable(u"console_output=" + output_.u16string());
}

void console_agent_fixture::TearDown() {
    reset_library_state();
    std::filesystem::remove(output_);
}

void console_agent_fixture::set_variable(const std::u16string& text) {
    ASSERT_EQ(quorin_stub_set_variable(wide(text.c_str()), 1), QUORIN_STATUS_OK);
}

void console_agent_fixture::initialize() {
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_ex_api_enable_span(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_ex_api_enable_techtype(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_ex_api_enable_tracer_ext(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_ex_api_enable_serverless(), QUORIN_STATUS_OK);
}

std::vector<std::string> console_agent_fixture::read_output() const {
    // The agent's lines reach the file from a thread of its own.
    quorin_ex_agent_force_send_data_now();
    std::ifstream file(output_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> console_agent_fixture::shutdown_and_read() {
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    return read_output();
}

std::u16string to_u16_ascii(const std::string& text) { return {text.begin(), text.end()}; }

bool has_line(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

int line_starting(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    }
    return -1;
}

size_t count_starting(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(),
                      [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
}

std::string joined(const std::vector<std::string>& lines) {
    std::ostringstream out;
    for (const std::string& line : lines) out << line << '\n';
    return out.str();
}

std::string current_trace_id() {
    char trace_id[33] = {}, span_id[17] = {};
    if (quorin_tracecontext_get_current(trace_id, sizeof trace_id, span_id, sizeof span_id) !=
        QUORIN_STATUS_OK) {
        return "";
    }
    return trace_id;
}
