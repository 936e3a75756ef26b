#include <gtest/gtest.h>

#include <string>

#include "config/options.h"
#include "foundation/wstr.h"
#include "quorin.h"

namespace {

constexpr agent_home_layout windows_layout{u"lib64", u"kestraneloader.dll", true};
constexpr agent_home_layout posix_layout{u"lib64", u"libkestraneloader.so", false};

struct path_case {
    const agent_home_layout* layout;
    const char16_t* home;
    const char16_t* expected;
};

}  // namespace

// Both layouts are derived on every host: the derivation takes the platform's constants.
TEST(AgentPath, DerivedFromTheHomeForEitherLayout) {
    const path_case cases[] = {
        {&windows_layout, u"C:\\a", u"C:\\a\\agent\\lib64\\kestraneloader.dll"},
        {&windows_layout, u"C:/a/", u"C:\\a\\agent\\lib64\\kestraneloader.dll"},
        {&windows_layout, u"C:\\a\\", u"C:\\a\\agent\\lib64\\kestraneloader.dll"},
        {&windows_layout, u"\\", u"\\agent\\lib64\\kestraneloader.dll"},
        {&windows_layout, u"/", u"\\agent\\lib64\\kestraneloader.dll"},
        {&windows_layout, u"\\\\server/share",
         u"\\\\server\\share\\agent\\lib64\\kestraneloader.dll"},
        {&posix_layout, u"/opt/a", u"/opt/a/agent/lib64/libkestraneloader.so"},
        {&posix_layout, u"/opt/a/", u"/opt/a/agent/lib64/libkestraneloader.so"},
        {&posix_layout, u"/", u"/agent/lib64/libkestraneloader.so"},
        {&posix_layout, u"C:\\a", u"C:\\a/agent/lib64/libkestraneloader.so"},
        {&posix_layout, u"C:\\a\\", u"C:\\a\\agent/lib64/libkestraneloader.so"},
        {&posix_layout, u"rel", u"rel/agent/lib64/libkestraneloader.so"},
    };
    for (const path_case& c : cases) {
        char16_t* path = nullptr;
        ASSERT_EQ(agent_path_derive(c.home, *c.layout, &path), QUORIN_STATUS_OK);
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(std::u16string(path), c.expected) << testing::PrintToString(c.home);
        wstr_release(&path);
    }
}
