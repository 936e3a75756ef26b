#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/format.h"

namespace {

std::u16string format(const char16_t* text, std::initializer_list<format_arg> args) {
    char16_t buffer[256];
    const size_t length = format_bounded(buffer, 256, text, args.begin(), args.size());
    EXPECT_EQ(length, std::u16string(buffer).size());
    return buffer;
}

}  // namespace

TEST(BoundedFormat, Conversions) {
    EXPECT_EQ(format(u"%s and %s", {u"this", u"that"}), u"this and that");
    EXPECT_EQ(format(u"[%s]", {static_cast<const char16_t*>(nullptr)}), u"[(null)]");
    EXPECT_EQ(format(u"%u", {uint32_t{4294967295u}}), u"4294967295");
    EXPECT_EQ(format(u"%u", {int32_t{-1}}), u"4294967295");
    EXPECT_EQ(format(u"%d", {int32_t{-5}}), u"-5");
    EXPECT_EQ(format(u"%d", {int32_t{INT32_MIN}}), u"-2147483648");
    EXPECT_EQ(format(u"%d", {int32_t{0}}), u"0");
    EXPECT_EQ(format(u"%x", {uint32_t{0xDEADBEEFu}}), u"deadbeef");
    EXPECT_EQ(format(u"%s refs", {uint32_t{3}}), u"3 refs");
}

TEST(BoundedFormat, WidthAndZeroPadding) {
    EXPECT_EQ(format(u"%08x", {uint32_t{0x1A2Bu}}), u"00001a2b");
    EXPECT_EQ(format(u"%04d-%02d", {int32_t{7}, int32_t{3}}), u"0007-03");
    EXPECT_EQ(format(u"%02d", {int32_t{123}}), u"123");
    EXPECT_EQ(format(u"%03d", {int32_t{-5}}), u"-05");
    EXPECT_EQ(format(u"%5d|", {int32_t{42}}), u"   42|");
    EXPECT_EQ(format(u"%5s|", {u"ab"}), u"   ab|");
    EXPECT_EQ(format(u"%2s|", {u"abcd"}), u"abcd|");
}

TEST(BoundedFormat, PercentSignsAndUnknownConversionsStayAsWritten) {
    EXPECT_EQ(format(u"100%%", {}), u"100%");
    EXPECT_EQ(format(u"100%", {}), u"100%");
    EXPECT_EQ(format(u"%q%s", {u"x"}), u"%qx");
    EXPECT_EQ(format(u"%05", {}), u"%05");
    EXPECT_EQ(format(nullptr, {}), u"");
}

TEST(BoundedFormat, MissingArgumentsEmitNothingAndExtraOnesAreIgnored) {
    EXPECT_EQ(format(u"%s and %s.", {u"x"}), u"x and .");
    EXPECT_EQ(format(u"just text", {u"x", uint32_t{1}}), u"just text");
}

TEST(BoundedFormat, TruncationTerminatesAndReturnsTheFullLength) {
    const format_arg args[] = {u"abcdef"};
    EXPECT_EQ(format_bounded(nullptr, 0, u"%s", args, 1), 6u);
    for (const size_t capacity : {1, 4, 6, 7}) {
        std::vector<char16_t> buffer(capacity + 1, u'#');
        EXPECT_EQ(format_bounded(buffer.data(), capacity, u"%s", args, 1), 6u);
        EXPECT_EQ(std::u16string(buffer.data()), std::u16string(u"abcdef").substr(0, capacity - 1));
        EXPECT_EQ(buffer[capacity], u'#') << capacity;
    }
}
