#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "logging/logging.h"
#include "platform/platform.h"
#include "support/scoped_state.h"
#include "support/stderr_capture.h"

namespace {

const std::regex line_shape(
    R"(^(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}) UTC \[([0-9a-f]{8})\] (.{7}) \[quorin\] (.*)\n$)");

struct line_parts {
    std::string time, thread, level, message;
};

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end + 1 - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

line_parts parse(const std::string& line) {
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, line_shape)) << line;
    if (match.empty()) return {};
    return {match[1], match[2], match[3], match[4]};
}

std::string timestamp(const platform_utc_time& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

std::string folded_thread_id() {
    const uint64_t id = platform_thread_id();
    char text[16];
    std::snprintf(text, sizeof text, "%08x",
                  static_cast<unsigned>((id >> 32) ^ (id & 0xFFFFFFFFu)));
    return text;
}

// Writes one line through the default callback and returns everything it put on stderr.
std::string default_line(int32_t level, const char16_t* message) {
    stderr_capture err;
    EXPECT_TRUE(err.active());
    quorin_stub_default_logging_function(level, message != nullptr ? wide(message) : nullptr);
    return err.text();
}

class DefaultLogLine : public testing::Test {
  protected:
    void TearDown() override { reset_library_state(); }
};

}  // namespace

TEST_F(DefaultLogLine, HasTimeThreadLevelAndMessageInOneLine) {
    platform_utc_time before{}, after{};
    platform_utc_now(&before);
    const std::string text = default_line(QUORIN_LOGLEVEL_INFO, u"message");
    platform_utc_now(&after);

    ASSERT_EQ(split_lines(text).size(), 1u) << text;
    EXPECT_NE(text.find("] info    [quorin] message\n"), std::string::npos) << text;
    const line_parts parts = parse(text);
    EXPECT_EQ(parts.thread, folded_thread_id());
    EXPECT_EQ(parts.message, "message");
    // Fixed-width fields compare as texts: the line's time lies between the two readings.
    EXPECT_LE(timestamp(before), parts.time);
    EXPECT_GE(timestamp(after), parts.time);
}

TEST_F(DefaultLogLine, ShowsTheDisplayNameOfEveryLevel) {
    struct level_case {
        int32_t level;
        const char* name;
    };
    const level_case cases[] = {{0, "finest "}, {5, "warning"}, {9, "???????"}, {-1, "???????"}};
    for (const level_case& c : cases) {
        EXPECT_EQ(parse(default_line(c.level, u"m")).level, c.name) << c.level;
    }
}

TEST_F(DefaultLogLine, NullMessageEndsTheLineAfterTheTag) {
    const std::string text = default_line(QUORIN_LOGLEVEL_SEVERE, nullptr);
    ASSERT_GE(text.size(), 10u);
    EXPECT_EQ(text.substr(text.size() - 10), "[quorin] \n");
    EXPECT_EQ(parse(text).message, "");
}

TEST_F(DefaultLogLine, MessageIsWrittenAsUtf8) {
    const std::string text = default_line(QUORIN_LOGLEVEL_INFO, u"caf\u00E9 \u20AC \U0001F600");
    EXPECT_EQ(parse(text).message, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
}

TEST_F(DefaultLogLine, MessagesOfAnyLengthAreWrittenWholeAsOneLine) {
    // The library's own messages are at most 1799 characters; an application's direct call
    // may pass any length.
    for (const size_t length : {size_t{1799}, size_t{2500}, size_t{100000}}) {
        SCOPED_TRACE(length);
        const std::u16string message(length, u'y');
        const std::string text = default_line(QUORIN_LOGLEVEL_INFO, message.c_str());
        ASSERT_EQ(split_lines(text).size(), 1u);
        // (std::regex recurses per character: too deep for the longest line.)
        const std::string tail = "] info    [quorin] " + std::string(length, 'y') + "\n";
        ASSERT_GE(text.size(), tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
        EXPECT_EQ(text.size(), tail.size() + 37) << "only the time and thread id before the level";
    }
}

TEST_F(DefaultLogLine, WithoutMemoryALongMessageIsCutButStaysOneTerminatedLine) {
    const std::u16string message(5000, u'x');
    platform_heap_fail_nth(1);
    const std::string text = default_line(QUORIN_LOGLEVEL_INFO, message.c_str());
    platform_heap_fail_nth(0);
    ASSERT_EQ(split_lines(text).size(), 1u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_LT(text.size(), 2000u);
}

TEST_F(DefaultLogLine, LibraryMessagesReachStderrOnlyOnceTheLevelAllowsThem) {
    stderr_capture err;
    ASSERT_TRUE(err.active());
    quorin_stub_set_logging_callback(quorin_stub_default_logging_function);
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_NONE);
    for (const int32_t level : {0, 2, 3, 4, 5, 6}) stub_log(level, u"hidden");
    EXPECT_EQ(err.text(), "");

    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_CONFIG);
    stub_log(QUORIN_LOGLEVEL_CONFIG, u"first");
    stub_logf(QUORIN_LOGLEVEL_SEVERE, u"second %u", uint32_t{2});
    stub_log(QUORIN_LOGLEVEL_FINE, u"hidden");
    const std::vector<std::string> lines = split_lines(err.text());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(parse(lines[0]).message, "first");
    EXPECT_EQ(parse(lines[0]).level, "config ");
    EXPECT_EQ(parse(lines[1]).message, "second 2");
    EXPECT_EQ(parse(lines[1]).level, "severe ");
}
