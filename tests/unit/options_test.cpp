#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/options.h"
#include "platform/platform.h"
#include "support/scoped_environment.h"
#include "support/scoped_state.h"

namespace {

using entries = std::vector<std::u16string>;

// A resolved options record, reset (and so freed) when it goes.
struct resolved_options {
    resolved_options() { status = options_resolve(&record); }
    ~resolved_options() { options_reset(&record); }
    resolved_options(const resolved_options&) = delete;
    resolved_options& operator=(const resolved_options&) = delete;

    std::optional<std::u16string> path() const {
        if (record.agent_library_path == nullptr) return std::nullopt;
        return std::u16string(record.agent_library_path);
    }
    entries additional() const {
        entries result;
        for (uint64_t i = 0; i < record.additional_options.count; ++i) {
            result.push_back(record.additional_options.items[i]);
        }
        return result;
    }

    options_record record{};
    uint32_t status;
};

void set(const char16_t* text) { ASSERT_EQ(quorin_stub_set_variable(wide(text), 0), 0u); }

// The path derived from a home of "/h" on this platform.
std::u16string derived_from_slash_h() {
    const std::u16string file(platform_agent_file_name);
    return platform_paths_use_backslash ? u"\\h\\agent\\lib64\\" + file : u"/h/agent/lib64/" + file;
}

class Options : public testing::Test {
  protected:
    void SetUp() override { reset_library_state(); }
    void TearDown() override { reset_library_state(); }

    // The machine's own settings must not leak into the tests.
    scoped_environment_variable active_{u"CV_AGENTACTIVE", nullptr};
    scoped_environment_variable library_{u"CV_AGENTLIBRARY", nullptr};
    scoped_environment_variable level_{u"CV_LOGLEVELSDK", nullptr};
    scoped_environment_variable home_{u"CV_HOME", nullptr};
};

// What the log and quorin-doctor show of an additional option: an agent's value never.
TEST(OptionShown, HidesTheAgentsValuesAndShowsTheLibrarysOwn) {
    struct shown_case {
        const char16_t* item;
        size_t capacity;
        std::u16string shown;
    };
    const shown_case cases[] = {
        {u"otel_headers=api-key=S3CRET", 64, u"otel_headers=***"},
        {u"otel_endpoint=", 64, u"otel_endpoint=***"},
        {u"flag", 64, u"flag"},
        {u"home=/opt/agent", 64, u"home=/opt/agent"},
        {u"quorin_internal_x=1", 64, u"quorin_internal_x=1"},
        // A name cut to the room keeps the mask, not the value.
        {u"a_long_option_name=S3CRET", 10, u"a_lon=***"},
        {u"a=S3CRET", 3, u"=*"},
    };
    for (const shown_case& c : cases) {
        char16_t shown[64];
        option_shown(c.item, shown, c.capacity);
        EXPECT_EQ(std::u16string(shown), c.shown) << "case " << &c - cases;
    }
}

}  // namespace

TEST_F(Options, NullRecordIsAnInvalidArgument) {
    EXPECT_EQ(options_resolve(nullptr), QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(options_reset(nullptr), QUORIN_STATUS_INVALID_ARGUMENT);
}

TEST_F(Options, DefaultsWithNothingConfigured) {
    resolved_options options;
    ASSERT_EQ(options.status, QUORIN_STATUS_OK);
    EXPECT_EQ(options.record.log_level, -1);
    EXPECT_EQ(options.record.agent_active, 1);
    // Empty, not null: there is simply no path to load from.
    EXPECT_EQ(options.path(), u"");
    EXPECT_TRUE(options.additional().empty());
}

TEST_F(Options, VariableWinsOverEnvironmentWhichWinsOverDefault) {
    {
        scoped_environment_variable level(u"CV_LOGLEVELSDK", u"info");
        scoped_environment_variable library(u"CV_AGENTLIBRARY", u"/env/lib.so");
        resolved_options from_environment;
        EXPECT_EQ(from_environment.record.log_level, QUORIN_LOGLEVEL_INFO);
        EXPECT_EQ(from_environment.path(), u"/env/lib.so");

        set(u"LOGLEVELSDK=warning");
        set(u"agentlibrary=/var/lib.so");
        resolved_options from_variables;
        EXPECT_EQ(from_variables.record.log_level, QUORIN_LOGLEVEL_WARNING);
        EXPECT_EQ(from_variables.path(), u"/var/lib.so");
    }
    quorin_stub_free_variables();
    {
        // An empty variable still wins, and an empty value derives no path.
        scoped_environment_variable home(u"CV_HOME", u"/env-home");
        set(u"home=");
        resolved_options options;
        EXPECT_EQ(options.path(), u"");
    }
}

TEST_F(Options, EmptyVariableValueWinsAndCountsAsActive) {
    scoped_environment_variable active(u"CV_AGENTACTIVE", u"off");
    set(u"agentactive=");
    resolved_options options;
    EXPECT_EQ(options.record.agent_active, 1);
}

TEST_F(Options, EnvironmentSetButEmptyIsDistinctFromUnset) {
    scoped_environment_variable empty(u"CV_HOME", u"");
    char16_t* value = nullptr;
    ASSERT_EQ(platform_env_get(u"CV_HOME", &value), platform_env_result::found);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value[0], u'\0');
    platform_heap_release(value);
    EXPECT_EQ(platform_env_get(u"CV_AGENTLIBRARY", &value), platform_env_result::not_set);
    EXPECT_EQ(value, nullptr);
}

TEST_F(Options, ActivityWords) {
    struct activity_case {
        const char16_t* value;
        int32_t active;
    };
    const activity_case cases[] = {
        {u"true", 1}, {u"FALSE", 0}, {u"On", 1}, {u"oFF", 0},      {u"yes", 1},
        {u"No", 0},   {u"1", 1},     {u"0", 0},  {u"disabled", 1}, {u"false ", 1},
        {u" off", 1}, {u"", 1},      {u"00", 1}, {u"nope", 1},     {u"f", 1},
    };
    for (const activity_case& c : cases) {
        scoped_environment_variable active(u"CV_AGENTACTIVE", c.value);
        resolved_options options;
        EXPECT_EQ(options.record.agent_active, c.active) << testing::PrintToString(c.value);
    }
}

TEST_F(Options, PathFromTheHomeUsesThisPlatformsLayout) {
    {
        scoped_environment_variable home(u"CV_HOME", u"/h");
        resolved_options options;
        EXPECT_EQ(options.path(), derived_from_slash_h());
    }
    set(u"Home=/h/");
    resolved_options options;
    EXPECT_EQ(options.path(), derived_from_slash_h());
}

TEST_F(Options, ConfiguredLibraryPathIsUsedUnchanged) {
    set(u"home=/h");
    set(u"agentlibrary=C:/agents/x.dll");
    resolved_options options;
    EXPECT_EQ(options.path(), u"C:/agents/x.dll");
    quorin_stub_free_variables();

    set(u"agentlibrary=a=b/c");
    resolved_options with_equals;
    EXPECT_EQ(with_equals.path(), u"a=b/c");
}

TEST_F(Options, AdditionalOptionsAreTheUnknownVariablesInStoreOrder) {
    set(u"home=C:\\a");
    set(u"LogLevelSDK=info");
    set(u"agentactive=yes");
    set(u"extra=1");
    set(u"AGENTLIBRARY=/lib.so");
    set(u"agent=1");
    set(u"agentlibraryx=2");
    set(u"=empty name");
    resolved_options options;
    ASSERT_EQ(options.status, QUORIN_STATUS_OK);
    EXPECT_EQ(options.additional(),
              (entries{u"home=C:\\a", u"extra=1", u"agent=1", u"agentlibraryx=2", u"=empty name"}));
    EXPECT_EQ(options.record.log_level, QUORIN_LOGLEVEL_INFO);
    EXPECT_EQ(options.record.agent_active, 1);
    // A configured library path wins over the home, which is still passed on.
    EXPECT_EQ(options.path(), u"/lib.so");
}

TEST_F(Options, ResolvingAgainReplacesTheRecordsContents) {
    set(u"extra=1");
    set(u"agentactive=off");
    set(u"loglevelsdk=fine");
    resolved_options options;
    ASSERT_EQ(options.record.agent_active, 0);
    quorin_stub_free_variables();
    set(u"other=2");
    ASSERT_EQ(options_resolve(&options.record), QUORIN_STATUS_OK);
    EXPECT_EQ(options.additional(), entries{u"other=2"});
    EXPECT_EQ(options.record.agent_active, 1);
    EXPECT_EQ(options.record.log_level, -1);
}
