#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/scoped_state.h"
#include "support/variable_store_view.h"

namespace {

using entries = std::vector<std::u16string>;

quorin_status_t set(const char16_t* text, int32_t replace = 0) {
    return quorin_stub_set_variable(text != nullptr ? wide(text) : nullptr, replace);
}

class VariableStore : public testing::Test {
  protected:
    void SetUp() override { reset_library_state(); }
    void TearDown() override { reset_library_state(); }
};

class VariableStoreConcurrency : public VariableStore {};

}  // namespace

TEST_F(VariableStore, NamesMatchWithoutRegardToCaseAndReplacementKeepsThePosition) {
    ASSERT_EQ(set(u"first=1"), QUORIN_STATUS_OK);
    ASSERT_EQ(set(u"agentactive=true"), QUORIN_STATUS_OK);
    ASSERT_EQ(set(u"last=9"), QUORIN_STATUS_OK);

    EXPECT_EQ(set(u"AgentActive=false", 0), QUORIN_STATUS_ENTRY_EXISTS);
    EXPECT_EQ(stored_variables(), (entries{u"first=1", u"agentactive=true", u"last=9"}));

    EXPECT_EQ(set(u"AgentActive=false", 1), QUORIN_STATUS_OK);
    EXPECT_EQ(stored_variables(), (entries{u"first=1", u"AgentActive=false", u"last=9"}));
}

TEST_F(VariableStore, NameEndsAtTheFirstEqualsSign) {
    ASSERT_EQ(set(u"a=b=c"), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"A=other"), QUORIN_STATUS_ENTRY_EXISTS);
    ASSERT_EQ(set(u"empty="), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"EMPTY=now set"), QUORIN_STATUS_ENTRY_EXISTS);
    // A name that is a prefix of a stored one, or has one as its prefix, is another variable.
    ASSERT_EQ(set(u"agentactive=true"), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"agent=1"), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"agentactivex=1"), QUORIN_STATUS_OK);
    EXPECT_EQ(stored_variables(),
              (entries{u"a=b=c", u"empty=", u"agentactive=true", u"agent=1", u"agentactivex=1"}));
}

TEST_F(VariableStore, EmptyNameIsAVariableToo) {
    ASSERT_EQ(set(u"=x"), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"=y", 0), QUORIN_STATUS_ENTRY_EXISTS);
    EXPECT_EQ(stored_variables(), entries{u"=x"});
    EXPECT_EQ(set(u"=y", 1), QUORIN_STATUS_OK);
    EXPECT_EQ(stored_variables(), entries{u"=y"});
}

TEST_F(VariableStore, OnlyAsciiLettersFoldInNames) {
    ASSERT_EQ(set(u"\u00C9t\u00E9=1"), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"\u00E9t\u00E9=2"), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"@=1"), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"`=2"), QUORIN_STATUS_OK);
    EXPECT_EQ(stored_variables().size(), 4u);
}

TEST_F(VariableStore, IgnoredAndRefusedTextsLeaveTheStoreUnchanged) {
    ASSERT_EQ(set(u"keep=1"), QUORIN_STATUS_OK);
    EXPECT_EQ(set(nullptr), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u""), QUORIN_STATUS_OK);
    EXPECT_EQ(set(u"no equals sign"), QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(set(u"keep"), QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(stored_variables(), entries{u"keep=1"});
}

TEST_F(VariableStore, FreeEmptiesTheStoreWhichCanBeFilledAgain) {
    ASSERT_EQ(set(u"a=1"), QUORIN_STATUS_OK);
    ASSERT_EQ(set(u"b=2"), QUORIN_STATUS_OK);
    quorin_stub_free_variables();
    EXPECT_TRUE(stored_variables().empty());
    quorin_stub_free_variables();
    EXPECT_EQ(set(u"A=3"), QUORIN_STATUS_OK);
    EXPECT_EQ(stored_variables(), entries{u"A=3"});
}

TEST_F(VariableStoreConcurrency, SetsFromManyThreadsAreAllKept) {
    constexpr int thread_count = 4;
    constexpr int per_thread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < per_thread; ++i) {
                const char16_t text[] = {u't',
                                         char16_t(u'a' + t),
                                         char16_t(u'a' + i % 26),
                                         char16_t(u'a' + i / 26),
                                         u'=',
                                         u'1',
                                         0};
                set(text);
                // Everyone also fights over one shared name.
                set(u"shared=1", 1);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    entries stored = stored_variables();
    EXPECT_EQ(stored.size(), size_t{thread_count} * per_thread + 1);
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(std::adjacent_find(stored.begin(), stored.end()), stored.end());
}
