#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "logging/logging.h"
#include "support/scoped_state.h"
#include "support/stderr_capture.h"

namespace {

// The levels of the library's own messages.
constexpr int32_t library_levels[] = {0, 2, 3, 4, 5, 6};

std::vector<int32_t> levels_of(const std::vector<log_line>& lines) {
    std::vector<int32_t> levels;
    for (const log_line& line : lines) levels.push_back(line.level);
    return levels;
}

std::u16string cycling_text(size_t length) {
    std::u16string text;
    for (size_t i = 0; i < length; ++i) text.push_back(static_cast<char16_t>(u'a' + i % 26));
    return text;
}

class Logging : public testing::Test {
  protected:
    void TearDown() override { reset_library_state(); }
};

}  // namespace

TEST_F(Logging, ThresholdPassesMessagesAtOrAboveTheLevel) {
    struct threshold_case {
        int32_t level;
        std::vector<int32_t> emitted;
    };
    const threshold_case cases[] = {
        {QUORIN_LOGLEVEL_NONE, {}},        {QUORIN_LOGLEVEL_DEBUG, {}},
        {QUORIN_LOGLEVEL_INFO, {4, 5, 6}}, {QUORIN_LOGLEVEL_FINEST, {0, 2, 3, 4, 5, 6}},
        {-1, {0, 2, 3, 4, 5, 6}},          {INT32_MIN, {0, 2, 3, 4, 5, 6}},
    };
    for (const threshold_case& c : cases) {
        log_capture capture(c.level);
        for (const int32_t level : library_levels) {
            stub_log(level, u"plain");
            stub_logf(level, u"formatted %u", uint32_t{1});
        }
        std::vector<int32_t> expected;
        for (const int32_t level : c.emitted) expected.insert(expected.end(), {level, level});
        EXPECT_EQ(levels_of(capture.lines()), expected) << "threshold " << c.level;
    }
}

TEST_F(Logging, NullCallbackSilencesEverything) {
    stderr_capture err;
    quorin_stub_set_logging_callback(nullptr);
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_FINEST);
    stub_log(QUORIN_LOGLEVEL_SEVERE, u"dropped");
    stub_logf(QUORIN_LOGLEVEL_SEVERE, u"dropped %s", u"too");
    EXPECT_EQ(err.text(), "");
}

TEST_F(Logging, NullMessageOrFormatIsDeliveredAsEmptyText) {
    log_capture capture;
    stub_log(QUORIN_LOGLEVEL_INFO, nullptr);
    stub_logf(QUORIN_LOGLEVEL_WARNING, nullptr);
    EXPECT_EQ(capture.lines(),
              (std::vector<log_line>{{QUORIN_LOGLEVEL_INFO, u""}, {QUORIN_LOGLEVEL_WARNING, u""}}));
}

TEST_F(Logging, FormattedMessageIsCutAfter1799Characters) {
    log_capture capture;
    for (const size_t length : {1798, 1799, 1800, 1801, 4000}) {
        capture.clear();
        const std::u16string text = cycling_text(length);
        stub_logf(QUORIN_LOGLEVEL_INFO, u"%s", text.c_str());
        ASSERT_EQ(capture.texts().size(), 1u);
        EXPECT_EQ(capture.texts()[0], text.substr(0, 1799)) << length;
    }
    capture.clear();
    const std::u16string text = cycling_text(1799);
    stub_logf(QUORIN_LOGLEVEL_INFO, u"<%s>", text.c_str());
    EXPECT_EQ(capture.texts(), std::vector<std::u16string>{(u"<" + text).substr(0, 1799)});
}

TEST_F(Logging, DroppedMessageIsNotFormatted) {
    log_capture capture(QUORIN_LOGLEVEL_SEVERE);
    // Formatting would read this address and crash; a dropped message must not look at it.
    const auto* unreadable = reinterpret_cast<const char16_t*>(uintptr_t{16});
    stub_logf(QUORIN_LOGLEVEL_INFO, u"%s", unreadable);
    const format_arg args[] = {unreadable};
    stub_log_formatted(QUORIN_LOGLEVEL_INFO, u"%s", args, 1);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(LoggingLevels, ParseAcceptsExactNamesWithBlanksAndTabsAround) {
    struct parse_case {
        const char16_t* text;
        int32_t level;
    };
    const parse_case cases[] = {
        {u" Info\t", 4}, {u"WARNING", 5},        {u"finest", 0},  {u"FINER", 1},    {u"fine", 2},
        {u"config", 3},  {u"Severe", 6},         {u"debug", 7},   {u"\tnone  ", 8}, {u"", -1},
        {u"   ", -1},    {u" \t ", -1},          {u"inf", -1},    {u"fin", -1},     {u"finerr", -1},
        {u"info x", -1}, {u"info\n", -1},        {u"info\r", -1}, {u"\ninfo", -1},  {u"4", -1},
        {u"i nfo", -1},  {u"informational", -1},
    };
    for (const parse_case& c : cases) {
        EXPECT_EQ(parse_logging_level(c.text), c.level) << testing::PrintToString(c.text);
    }
    EXPECT_EQ(parse_logging_level(nullptr), -1);
}

TEST(LoggingLevels, DisplayNamesAreSevenCharactersWithQuestionMarksOutsideTheRange) {
    const char16_t* const names[] = {u"finest ", u"finer  ", u"fine   ", u"config ", u"info   ",
                                     u"warning", u"severe ", u"debug  ", u"none   "};
    for (int32_t level = 0; level <= 8; ++level) {
        EXPECT_EQ(std::u16string(logging_level_name(level)), names[level]) << level;
    }
    for (const int32_t level : {9, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(std::u16string(logging_level_name(level)), u"???????") << level;
    }
}
