#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/string_list.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

std::u16string numbered(uint64_t i) { return u"entry" + std::u16string(1, u'A' + i % 26); }

// The invariants every list keeps: count <= capacity, unused slots null, no array without room.
void expect_consistent(const string_list& list) {
    EXPECT_LE(list.count, list.capacity);
    EXPECT_EQ(list.items == nullptr, list.capacity == 0);
    for (uint64_t i = list.count; i < list.capacity; ++i) EXPECT_EQ(list.items[i], nullptr) << i;
}

}  // namespace

TEST(StringList, GrowsTo8Then16Then32ReallocatingOnlyWhenFull) {
    string_list list{};
    for (uint64_t i = 0; i < 33; ++i) {
        const uint64_t before = platform_heap_allocations();
        ASSERT_EQ(string_list_append(&list, numbered(i).c_str()), QUORIN_STATUS_OK);
        const uint64_t expected_capacity = i < 8 ? 8 : i < 16 ? 16 : i < 32 ? 32 : 64;
        EXPECT_EQ(list.capacity, expected_capacity) << "after append " << i + 1;
        const bool grew = i == 0 || i == 8 || i == 16 || i == 32;
        EXPECT_EQ(platform_heap_allocations() - before, grew ? 2u : 1u) << "append " << i + 1;
        expect_consistent(list);
    }
    ASSERT_EQ(list.count, 33u);
    for (uint64_t i = 0; i < 33; ++i) EXPECT_EQ(std::u16string(list.items[i]), numbered(i));
    string_list_free(&list);
}

TEST(StringList, AppendStoresAnIndependentCopyOrANullEntry) {
    string_list list{};
    char16_t text[] = u"name=value";
    ASSERT_EQ(string_list_append(&list, text), QUORIN_STATUS_OK);
    ASSERT_EQ(string_list_append(&list, nullptr), QUORIN_STATUS_OK);
    ASSERT_EQ(string_list_append(&list, u""), QUORIN_STATUS_OK);
    text[0] = u'N';
    ASSERT_EQ(list.count, 3u);
    EXPECT_EQ(std::u16string(list.items[0]), u"name=value");
    EXPECT_EQ(list.items[1], nullptr);
    ASSERT_NE(list.items[2], nullptr);
    EXPECT_EQ(list.items[2][0], u'\0');
    expect_consistent(list);
    string_list_free(&list);
}

TEST(StringList, NullListIsAnInvalidArgument) {
    EXPECT_EQ(string_list_append(nullptr, u"x"), QUORIN_STATUS_INVALID_ARGUMENT);
}

TEST(StringList, FreeZeroesEveryFieldAndTheListCanBeFilledAgain) {
    string_list list{};
    for (const char16_t* text : {u"a", static_cast<const char16_t*>(nullptr), u"c"}) {
        ASSERT_EQ(string_list_append(&list, text), QUORIN_STATUS_OK);
    }
    string_list_free(&list);
    EXPECT_EQ(list.items, nullptr);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.capacity, 0u);

    string_list_free(&list);
    string_list_free(nullptr);

    ASSERT_EQ(string_list_append(&list, u"again"), QUORIN_STATUS_OK);
    EXPECT_EQ(list.count, 1u);
    EXPECT_EQ(list.capacity, 8u);
    string_list_free(&list);
}

// A full list so large that its growth must fail before any allocation is attempted. The array
// is never touched, so it may be null.
TEST(StringList, CapacityThatCannotDoubleOrWhoseByteSizeOverflowsIsRefused) {
    for (const uint64_t capacity : {0x8000000000000000ull, 0x7FFFFFFFFFFFFFFFull,
                                    0x1000000000000000ull, 0xFFFFFFFFFFFFFFFEull}) {
        string_list list{nullptr, capacity, capacity};
        const uint64_t before = platform_heap_allocations();
        EXPECT_EQ(string_list_append(&list, u"x"), QUORIN_STATUS_OUT_OF_MEMORY) << capacity;
        EXPECT_EQ(platform_heap_allocations(), before) << capacity;
        EXPECT_EQ(list.items, nullptr);
        EXPECT_EQ(list.count, capacity);
        EXPECT_EQ(list.capacity, capacity);
    }
}
