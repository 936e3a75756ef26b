#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/wstr.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

std::u16string buffer_contents(const std::vector<char16_t>& buffer) {
    return std::u16string(buffer.begin(), buffer.end());
}

}  // namespace

TEST(WstrAlloc, ZeroGivesOneCharacterHoldingNul) {
    char16_t* text = wstr_alloc(0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text[0], u'\0');
    wstr_release(&text);
    EXPECT_EQ(text, nullptr);
}

TEST(WstrAlloc, HasRoomForNCharactersAndTheNul) {
    constexpr uint64_t n = 100;
    char16_t* text = wstr_alloc(n);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text[0], u'\0');
    // Under AddressSanitizer a short allocation fails here.
    for (uint64_t i = 0; i < n; ++i) text[i] = u'x';
    text[n] = u'\0';
    EXPECT_EQ(std::u16string(text), std::u16string(n, u'x'));
    wstr_release(&text);
}

TEST(WstrAlloc, SizesWhoseByteCountOverflowsFailWithoutTouchingTheHeap) {
    for (const uint64_t n : {0x7FFFFFFFFFFFFFFDull, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull}) {
        const uint64_t before = platform_heap_allocations();
        EXPECT_EQ(wstr_alloc(n), nullptr) << n;
        EXPECT_EQ(platform_heap_allocations(), before) << n;
    }
}

TEST(WstrRelease, NullSlotAndEmptySlotAreIgnored) {
    wstr_release(nullptr);
    char16_t* empty = nullptr;
    wstr_release(&empty);
    EXPECT_EQ(empty, nullptr);
}

TEST(WstrAssign, CopiesIntoEmptyAndOccupiedSlots) {
    char16_t source[] = u"first";
    char16_t* slot = nullptr;
    ASSERT_EQ(wstr_assign(&slot, source), QUORIN_STATUS_OK);
    ASSERT_NE(slot, nullptr);
    EXPECT_NE(slot, source);
    source[0] = u'F';
    EXPECT_EQ(std::u16string(slot), u"first");

    // The old string is freed (the leak checker sees it otherwise).
    ASSERT_EQ(wstr_assign(&slot, u"second"), QUORIN_STATUS_OK);
    EXPECT_EQ(std::u16string(slot), u"second");
    ASSERT_EQ(wstr_assign(&slot, u""), QUORIN_STATUS_OK);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot[0], u'\0');
    wstr_release(&slot);
}

TEST(WstrAssign, NullSourceFreesTheOldStringAndLeavesNull) {
    char16_t* slot = nullptr;
    ASSERT_EQ(wstr_assign(&slot, u"old"), QUORIN_STATUS_OK);
    EXPECT_EQ(wstr_assign(&slot, nullptr), QUORIN_STATUS_OK);
    EXPECT_EQ(slot, nullptr);
}

TEST(WstrAssign, NullSlotIsAnInvalidArgument) {
    EXPECT_EQ(wstr_assign(nullptr, u"x"), QUORIN_STATUS_INVALID_ARGUMENT);
}

TEST(WstrCopyBounded, CutsTerminatesAndZeroFillsWithinTheCapacity) {
    struct copy_case {
        const char16_t* source;
        uint64_t capacity;
        std::u16string expected;  // every one of the capacity positions
    };
    const copy_case cases[] = {
        {u"abc", 3, std::u16string(u"ab\0", 3)},      {u"abc", 4, std::u16string(u"abc\0", 4)},
        {u"ab", 6, std::u16string(u"ab\0\0\0\0", 6)}, {nullptr, 4, std::u16string(4, u'\0')},
        {u"abc", 1, std::u16string(1, u'\0')},        {u"", 2, std::u16string(2, u'\0')},
    };
    for (const copy_case& c : cases) {
        // Sentinels after the capacity show that nothing is written past it.
        std::vector<char16_t> buffer(c.capacity + 4, u'#');
        EXPECT_EQ(wstr_copy_bounded(buffer.data(), c.source, c.capacity), buffer.data());
        EXPECT_EQ(buffer_contents(buffer), c.expected + u"####") << c.capacity;
    }
}

TEST(WstrCopyBounded, CapacityZeroOrNullDestinationWritesNothing) {
    char16_t buffer[] = u"####";
    EXPECT_EQ(wstr_copy_bounded(buffer, u"abc", 0), buffer);
    EXPECT_EQ(std::u16string(buffer), u"####");
    EXPECT_EQ(wstr_copy_bounded(nullptr, u"abc", 5), nullptr);
}
