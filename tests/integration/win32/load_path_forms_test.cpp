// Spellings of an agent path on Windows: '/' separators, "..", and a path beyond MAX_PATH load
// the module; a path by the current folder or drive is refused, never resolved against it.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/agent_fixture.h"

namespace fs = std::filesystem;

namespace {

std::u16string forward_slashes(std::u16string path) {
    for (char16_t& c : path) c = c == u'\\' ? u'/' : c;
    return path;
}

using LoadPathForms = agent_fixture;

TEST_F(LoadPathForms, ForwardSlashesAndLongPathsLoadRelativePathsAreRefused) {
    const fs::path base =
        fs::temp_directory_path() / ("quorin-forms-" + std::to_string(std::random_device{}()));
    // A chain of folders that takes a copy of the module beyond MAX_PATH, under a name no other
    // loaded module has; the \\?\ form lets the test itself reach it.
    fs::path deep = base / "cwd";
    while (deep.native().size() < 300) deep /= std::string(60, 'd');
    const std::u16string verbatim = u"\\\\?\\";
    fs::create_directories(verbatim + deep.u16string());
    fs::copy_file(QUORIN_TEST_AGENT_FILE, verbatim + (deep / "long.dll").u16string());
    fs::copy_file(QUORIN_TEST_AGENT_FILE, base / "cwd" / "planted.dll");
    const fs::path previous = fs::current_path();
    fs::current_path(base / "cwd");

    const std::u16string long_path = (deep / "long.dll").u16string();
    const struct {
        std::u16string path;
        quorin_status_t expected;
    } cases[] = {
        {forward_slashes(u16(QUORIN_TEST_AGENT_FILE)), QUORIN_STATUS_OK},
        {forward_slashes((base / "cwd" / ".." / "cwd" / "planted.dll").u16string()),
         QUORIN_STATUS_OK},
        {long_path, QUORIN_STATUS_OK},
        {forward_slashes(long_path), QUORIN_STATUS_OK},
        {u"planted.dll", 87},  // ERROR_INVALID_PARAMETER, as the restricted search answers
        {u"./planted.dll", 87},
        {u"\\planted.dll", 87},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path));
        while (quorin_shutdown() == QUORIN_STATUS_OK) {
        }
        clear_log();
        set_variable(u"agentlibrary=" + c.path);
        EXPECT_EQ(quorin_initialize(), c.expected);
        EXPECT_EQ(current_load_info().found, c.expected == QUORIN_STATUS_OK ? 1 : 0);
        // The log names the path as it was given, and a refusal is an expected failure.
        bool named = false, refusal = false;
        for (const log_line& line : logged()) {
            named |= line.text == u"    Agent module:  '" + c.path + u"'";
            refusal |= line.text.ends_with(
                u": The agent module must be given by a fully "
                u"qualified path.");
            EXPECT_FALSE(line.text.starts_with(u"Unexpected error"))
                << testing::PrintToString(line);
        }
        EXPECT_TRUE(named);
        EXPECT_EQ(refusal, c.expected == 87);
    }
    while (quorin_shutdown() == QUORIN_STATUS_OK) {
    }
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(verbatim + base.u16string(), ignored);
}

}  // namespace
