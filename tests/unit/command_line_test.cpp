#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/scoped_state.h"
#include "support/variable_store_view.h"

namespace {

using entries = std::vector<std::u16string>;

// An argument vector as a program receives it: writable slots, a terminating null, and texts
// that outlive every change to the slots. A null text makes a null entry.
class argument_vector {
  public:
    explicit argument_vector(std::vector<const char16_t*> texts) {
        for (const char16_t* text : texts) {
            texts_.push_back(text != nullptr ? text : u"");
            is_null_.push_back(text == nullptr);
        }
        for (size_t i = 0; i < texts_.size(); ++i) {
            slots_.push_back(is_null_[i] ? nullptr
                                         : reinterpret_cast<quorin_wchar_t*>(texts_[i].data()));
        }
        slots_.push_back(nullptr);
    }
    int32_t count() const { return static_cast<int32_t>(texts_.size()); }
    quorin_wchar_t** data() { return slots_.data(); }
    quorin_wchar_t* slot(size_t i) const { return slots_[i]; }
    // The original text of argument i, to compare slots by address.
    quorin_wchar_t* original(size_t i) {
        return reinterpret_cast<quorin_wchar_t*>(texts_[i].data());
    }

  private:
    std::vector<std::u16string> texts_;
    std::vector<bool> is_null_;
    std::vector<quorin_wchar_t*> slots_;
};

class CommandLine : public testing::Test {
  protected:
    void SetUp() override { reset_library_state(); }
    void TearDown() override { reset_library_state(); }
};

}  // namespace

TEST_F(CommandLine, PrefixIsExactlyTheFiveCharacters) {
    struct prefix_case {
        const char16_t* argument;
        int32_t expected;
    };
    const prefix_case cases[] = {
        {u"--cv_", 1},     {u"--cv_home=x", 1}, {u"--cv_x", 1}, {u"--CV_home=x", 0},
        {u"--cv", 0},      {u"-cv_home", 0},    {u"", 0},       {u"x--cv_", 0},
        {u" --cv_a=1", 0},
    };
    for (const prefix_case& c : cases) {
        EXPECT_EQ(quorin_stub_is_sdk_cmdline_arg(wide(c.argument)), c.expected)
            << testing::PrintToString(c.argument);
    }
    EXPECT_EQ(quorin_stub_is_sdk_cmdline_arg(nullptr), 0);
}

TEST_F(CommandLine, SingleArgumentSetsTheTextAfterThePrefix) {
    EXPECT_EQ(quorin_stub_process_cmdline_arg(wide(u"--cv_a=1"), 0), QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_stub_process_cmdline_arg(wide(u"--cv_A=2"), 0), QUORIN_STATUS_ENTRY_EXISTS);
    EXPECT_EQ(quorin_stub_process_cmdline_arg(wide(u"--cv_A=2"), 1), QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_stub_process_cmdline_arg(wide(u"--cv_"), 0), QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_stub_process_cmdline_arg(wide(u"--cv_x"), 0), QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(quorin_stub_process_cmdline_arg(wide(u"-v=1"), 0), QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_stub_process_cmdline_arg(nullptr, 0), QUORIN_STATUS_OK);
    EXPECT_EQ(stored_variables(), entries{u"A=2"});
}

TEST_F(CommandLine, EveryKindOfArgumentInOneVector) {
    argument_vector args({u"--cv_program=1", u"--cv_home=C:\\x", u"-v", u"--CV_loglevelsdk=info",
                          u"--cv_", nullptr, u"plain", u"--cv_extra=a=b"});
    EXPECT_EQ(quorin_stub_process_cmdline_args(args.count(), args.data(), 0), QUORIN_STATUS_OK);
    // Entry 0 is the program's name and is never examined.
    EXPECT_EQ(stored_variables(), (entries{u"home=C:\\x", u"extra=a=b"}));
}

TEST_F(CommandLine, WalkReportsTheFirstFailureOtherThanAnExistingEntry) {
    struct walk_case {
        std::vector<const char16_t*> arguments;
        int32_t replace;
        quorin_status_t expected;
        entries stored;
    };
    const walk_case cases[] = {
        {{u"prog", u"--cv_x", u"--cv_a=1", u"--cv_a=2"},
         0,
         QUORIN_STATUS_INVALID_ARGUMENT,
         {u"a=1"}},
        {{u"prog", u"--cv_a=1", u"--cv_a=2"}, 0, QUORIN_STATUS_ENTRY_EXISTS, {u"a=1"}},
        // An invalid argument after an existing entry still takes over the result.
        {{u"prog", u"--cv_a=1", u"--cv_a=2", u"--cv_y", u"--cv_b=3"},
         0,
         QUORIN_STATUS_INVALID_ARGUMENT,
         {u"a=1", u"b=3"}},
        {{u"prog", u"--cv_a=1", u"--cv_a=2"}, 1, QUORIN_STATUS_OK, {u"a=2"}},
        {{u"prog"}, 0, QUORIN_STATUS_OK, {}},
    };
    for (const walk_case& c : cases) {
        quorin_stub_free_variables();
        argument_vector args(c.arguments);
        EXPECT_EQ(quorin_stub_process_cmdline_args(args.count(), args.data(), c.replace),
                  c.expected);
        EXPECT_EQ(stored_variables(), c.stored);
    }
}

TEST_F(CommandLine, WalkWithoutArguments) {
    argument_vector args({u"prog", u"--cv_a=1"});
    EXPECT_EQ(quorin_stub_process_cmdline_args(0, nullptr, 0), QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_stub_process_cmdline_args(2, nullptr, 0), QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(quorin_stub_process_cmdline_args(-1, nullptr, 0), QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(quorin_stub_process_cmdline_args(-3, args.data(), 0), QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_stub_process_cmdline_args(1, args.data(), 0), QUORIN_STATUS_OK);
    EXPECT_TRUE(stored_variables().empty());
}

TEST_F(CommandLine, StripKeepsTheOrderOfTheRestAndFillsFreedSlots) {
    argument_vector args({u"prog", u"--cv_a=1", nullptr, u"x", u"--cv_b=2"});
    quorin_wchar_t* terminator_sentinel = args.original(0);
    args.data()[5] = terminator_sentinel;
    int32_t count = args.count();
    ASSERT_EQ(quorin_stub_strip_sdk_cmdline_args(&count, args.data()), QUORIN_STATUS_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(args.slot(0), args.original(0));
    EXPECT_EQ(args.slot(1), nullptr);
    EXPECT_EQ(args.slot(2), args.original(3));
    for (size_t i : {3, 4}) {
        ASSERT_NE(args.slot(i), nullptr) << i;
        EXPECT_EQ(args.slot(i)[0], 0) << i;
    }
    // The slot after the old count is not the function's, and the strings stay as they were.
    EXPECT_EQ(args.slot(5), terminator_sentinel);
    EXPECT_EQ(to_u16(args.original(1)), u"--cv_a=1");
    EXPECT_TRUE(stored_variables().empty());
}

TEST_F(CommandLine, StripEdgeCounts) {
    argument_vector only_program({u"--cv_prog=1"});
    int32_t count = 1;
    EXPECT_EQ(quorin_stub_strip_sdk_cmdline_args(&count, only_program.data()), QUORIN_STATUS_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(only_program.slot(0), only_program.original(0));

    count = 0;
    EXPECT_EQ(quorin_stub_strip_sdk_cmdline_args(&count, nullptr), QUORIN_STATUS_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(quorin_stub_strip_sdk_cmdline_args(nullptr, only_program.data()),
              QUORIN_STATUS_INVALID_ARGUMENT);
    count = 2;
    EXPECT_EQ(quorin_stub_strip_sdk_cmdline_args(&count, nullptr), QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(count, 2);
}

TEST_F(CommandLine, StripRefusesANegativeCountAndChangesNothing) {
    argument_vector args({u"prog", u"--cv_a=1", u"x"});
    for (const int32_t negative : {-1, -3, INT32_MIN}) {
        int32_t count = negative;
        EXPECT_EQ(quorin_stub_strip_sdk_cmdline_args(&count, args.data()),
                  QUORIN_STATUS_INVALID_ARGUMENT);
        EXPECT_EQ(count, negative);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(args.slot(i), args.original(i)) << i;
    }
}
