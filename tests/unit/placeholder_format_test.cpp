#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/wstr.h"

namespace {

struct placeholder_case {
    const char16_t* text_template;
    std::vector<const char16_t*> arguments;
    std::u16string expected;
};

const char16_t* const two_arguments[] = {u"a", u"b"};

}  // namespace

TEST(PlaceholderFormat, MeasuresThenFormatsEveryTemplateShape) {
    const placeholder_case cases[] = {
        {u"%0-%1-%2", {u"a", u"b"}, u"a-b-"},
        {u"%%", {}, u"%"},
        {u"%x", {}, u"x"},
        {u"100%", {}, u"100"},
        {u"%12", {u"a", u"b"}, u"b2"},
        {u"%5", {u"a", u"b"}, u""},
        {u"[%0]", {nullptr}, u"[]"},
        // An argument's own placeholders are copied, not expanded.
        {u"%0", {u"%1", u"z"}, u"%1"},
        {u"%1%0%1", {u"x", u"yy"}, u"yyxyy"},
        {u"", {u"a"}, u""},
        {nullptr, {u"a"}, u""},
        {u"%0%1agent/%2/%3", {u"C:\\a", u"/", u"lib64", u"f.dll"}, u"C:\\a/agent/lib64/f.dll"},
    };
    for (const placeholder_case& c : cases) {
        const uint64_t measured = wstr_format_placeholders(nullptr, 0, c.text_template,
                                                           c.arguments.data(), c.arguments.size());
        EXPECT_EQ(measured, c.expected.size() + 1) << testing::PrintToString(c.expected);
        std::vector<char16_t> buffer(measured + 2, u'#');
        EXPECT_EQ(wstr_format_placeholders(buffer.data(), measured, c.text_template,
                                           c.arguments.data(), c.arguments.size()),
                  measured);
        EXPECT_EQ(std::u16string(buffer.data()), c.expected);
        EXPECT_EQ(buffer[measured], u'#');
    }
}

TEST(PlaceholderFormat, MissingArgumentVectorMakesEveryPlaceholderVanish) {
    char16_t buffer[8];
    EXPECT_EQ(wstr_format_placeholders(buffer, 8, u"<%0%1>", nullptr, 2), 3u);
    EXPECT_EQ(std::u16string(buffer), u"<>");
}

TEST(PlaceholderFormat, TruncationTerminatesAndStillCountsTheWholeResult) {
    struct truncation_case {
        uint64_t capacity;
        std::u16string stored;
    };
    const truncation_case cases[] = {
        {1, u""}, {3, u"a-"}, {4, u"a-b"}, {5, u"a-b-"}, {9, u"a-b-"},
    };
    for (const truncation_case& c : cases) {
        std::vector<char16_t> buffer(c.capacity + 2, u'#');
        EXPECT_EQ(
            wstr_format_placeholders(buffer.data(), c.capacity, u"%0-%1-%2", two_arguments, 2), 5u);
        EXPECT_EQ(std::u16string(buffer.data()), c.stored) << c.capacity;
        EXPECT_EQ(buffer[c.capacity], u'#') << c.capacity;
    }
}

TEST(PlaceholderFormat, CapacityZeroWritesNothing) {
    char16_t buffer[] = u"####";
    EXPECT_EQ(wstr_format_placeholders(buffer, 0, u"%0-%1-%2", two_arguments, 2), 5u);
    EXPECT_EQ(std::u16string(buffer), u"####");
}
