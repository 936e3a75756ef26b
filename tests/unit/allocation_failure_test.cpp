#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/options.h"
#include "foundation/string_list.h"
#include "foundation/wstr.h"
#include "support/heap_faults.h"
#include "support/scoped_environment.h"
#include "support/scoped_state.h"
#include "support/variable_store_view.h"

namespace {

using entries = std::vector<std::u16string>;

constexpr uint64_t attempt_limit = 200;

entries list_entries(const string_list& list) {
    entries result;
    for (uint64_t i = 0; i < list.count; ++i) result.push_back(list.items[i]);
    return result;
}

quorin_status_t set(const char16_t* text, int32_t replace) {
    return quorin_stub_set_variable(wide(text), replace);
}

class AllocationFailure : public testing::Test {
  protected:
    void SetUp() override { reset_library_state(); }
    void TearDown() override {
        platform_heap_fail_nth(0);
        reset_library_state();
    }
};

}  // namespace

TEST_F(AllocationFailure, AllocReturnsNull) {
    scoped_allocation_failure fail(1);
    EXPECT_EQ(wstr_alloc(4), nullptr);
}

TEST_F(AllocationFailure, AssignLeavesTheSlotAsItWas) {
    char16_t* slot = nullptr;
    ASSERT_EQ(wstr_assign(&slot, u"old"), QUORIN_STATUS_OK);
    char16_t* const old = slot;
    {
        scoped_allocation_failure fail(1);
        EXPECT_EQ(wstr_assign(&slot, u"new"), QUORIN_STATUS_OUT_OF_MEMORY);
    }
    EXPECT_EQ(slot, old);
    EXPECT_EQ(std::u16string(slot), u"old");
    wstr_release(&slot);
}

TEST_F(AllocationFailure, AppendWhoseGrowthFailsLeavesTheListUnchanged) {
    string_list list{};
    {
        scoped_allocation_failure fail(1);
        EXPECT_EQ(string_list_append(&list, u"x"), QUORIN_STATUS_OUT_OF_MEMORY);
    }
    EXPECT_EQ(list.items, nullptr);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.capacity, 0u);

    for (int i = 0; i < 8; ++i) ASSERT_EQ(string_list_append(&list, u"full"), QUORIN_STATUS_OK);
    char16_t** const items = list.items;
    {
        scoped_allocation_failure fail(1);
        EXPECT_EQ(string_list_append(&list, u"ninth"), QUORIN_STATUS_OUT_OF_MEMORY);
    }
    EXPECT_EQ(list.items, items);
    EXPECT_EQ(list.count, 8u);
    EXPECT_EQ(list.capacity, 8u);
    EXPECT_EQ(list_entries(list), entries(8, u"full"));
    string_list_free(&list);
}

TEST_F(AllocationFailure, AppendWhoseCopyFailsKeepsTheCapacityItGained) {
    string_list list{};
    {
        scoped_allocation_failure fail(2);  // the growth succeeds, the copy fails
        EXPECT_EQ(string_list_append(&list, u"x"), QUORIN_STATUS_OUT_OF_MEMORY);
    }
    EXPECT_NE(list.items, nullptr);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.capacity, 8u);
    for (uint64_t i = 0; i < list.capacity; ++i) EXPECT_EQ(list.items[i], nullptr);

    ASSERT_EQ(string_list_append(&list, u"y"), QUORIN_STATUS_OK);
    EXPECT_EQ(list_entries(list), entries{u"y"});
    string_list_free(&list);
}

TEST_F(AllocationFailure, SetVariableLeavesTheStoreUnchanged) {
    // A new variable: first the store's growth fails, then the copy of the text.
    for (const uint64_t nth : {1, 2}) {
        scoped_allocation_failure fail(nth);
        EXPECT_EQ(set(u"a=1", 0), QUORIN_STATUS_OUT_OF_MEMORY) << nth;
        EXPECT_TRUE(stored_variables().empty()) << nth;
    }
    ASSERT_EQ(set(u"a=1", 0), QUORIN_STATUS_OK);
    ASSERT_EQ(set(u"b=2", 0), QUORIN_STATUS_OK);
    {
        scoped_allocation_failure fail(1);
        EXPECT_EQ(set(u"c=3", 0), QUORIN_STATUS_OUT_OF_MEMORY);
    }
    {
        scoped_allocation_failure fail(1);
        EXPECT_EQ(set(u"A=replaced", 1), QUORIN_STATUS_OUT_OF_MEMORY);
    }
    EXPECT_EQ(stored_variables(), (entries{u"a=1", u"b=2"}));
}

TEST_F(AllocationFailure, CommandLineWalkGoesOnAfterAFailedArgument) {
    std::u16string texts[] = {u"prog", u"--cv_a=1", u"--cv_b=1", u"--cv_b=2"};
    quorin_wchar_t* argv[] = {reinterpret_cast<quorin_wchar_t*>(texts[0].data()),
                              reinterpret_cast<quorin_wchar_t*>(texts[1].data()),
                              reinterpret_cast<quorin_wchar_t*>(texts[2].data()),
                              reinterpret_cast<quorin_wchar_t*>(texts[3].data())};
    {
        scoped_allocation_failure fail(1);
        EXPECT_EQ(quorin_stub_process_cmdline_args(4, argv, 0), QUORIN_STATUS_OUT_OF_MEMORY);
    }
    EXPECT_EQ(stored_variables(), entries{u"b=1"});
}

// Every allocation that option resolution makes fails in turn: each failure is reported and
// leaves the record reset, whatever the record held before.
TEST_F(AllocationFailure, OptionResolutionFailsCleanlyAtEveryAllocation) {
    struct setup {
        const char* name;
        std::vector<const char16_t*> variables;
        const char16_t* environment_home;
        const char16_t* environment_level;
    };
    const setup setups[] = {
        {"derived path", {u"home=/h", u"extra=1", u"more=2", u"agentactive=no"}, nullptr, u"info"},
        {"home from the environment", {u"x=1"}, u"/env", u"fine"},
        {"configured path", {u"agentlibrary=/lib.so", u"home=/h", u"y=2"}, nullptr, nullptr},
    };
    for (const setup& s : setups) {
        quorin_stub_free_variables();
        for (const char16_t* variable : s.variables) ASSERT_EQ(set(variable, 0), 0u);
        scoped_environment_variable home(u"CV_HOME", s.environment_home);
        scoped_environment_variable level(u"CV_LOGLEVELSDK", s.environment_level);
        scoped_environment_variable active(u"CV_AGENTACTIVE", nullptr);
        scoped_environment_variable library(u"CV_AGENTLIBRARY", nullptr);

        options_record record{};
        uint64_t nth = 1;
        for (; nth < attempt_limit; ++nth) {
            ASSERT_EQ(options_resolve(&record), QUORIN_STATUS_OK) << s.name;
            uint32_t status;
            {
                scoped_allocation_failure fail(nth);
                status = options_resolve(&record);
            }
            if (status == QUORIN_STATUS_OK) break;
            EXPECT_EQ(status, QUORIN_STATUS_OUT_OF_MEMORY) << s.name << ", allocation " << nth;
            EXPECT_EQ(record.log_level, -1) << s.name << ", allocation " << nth;
            EXPECT_EQ(record.agent_active, 0) << s.name << ", allocation " << nth;
            EXPECT_EQ(record.agent_library_path, nullptr) << s.name << ", allocation " << nth;
            EXPECT_EQ(record.additional_options.items, nullptr) << s.name << ", allocation " << nth;
            EXPECT_EQ(record.additional_options.count, 0u);
            EXPECT_EQ(record.additional_options.capacity, 0u);
        }
        // Path, additional options and the list's storage at the least.
        EXPECT_GT(nth, 3u) << s.name;
        EXPECT_LT(nth, attempt_limit) << s.name;
        options_reset(&record);
    }
}
