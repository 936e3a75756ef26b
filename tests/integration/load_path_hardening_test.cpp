// The agent module is loaded only from an absolute path (or found, by its bare name, among the
// modules a process agent already placed in the process): copies of a working agent module planted
// in the working directory under every name the library might look for are never loaded, whatever
// relative name, bare name or relative home points at them. scripts/test.d/hardening.sh runs
// this suite again with such copies in the library search path too (LD_LIBRARY_PATH, PATH).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "quorin.h"
#include "support/scoped_state.h"

namespace fs = std::filesystem;

namespace {

constexpr bool windows = QUORIN_TEST_WINDOWS;
// Every name that is not absolute is refused before the system is asked: EINVAL on POSIX,
// ERROR_INVALID_PARAMETER on Windows (what its restricted search flags answer too).
constexpr quorin_status_t relative_name_refused = windows ? 87 : 22;

const std::string agent_file = QUORIN_TEST_AGENT_FILE_NAME;
const std::string process_agent = QUORIN_TEST_PROCESS_AGENT_NAME;
const std::string separator = QUORIN_TEST_PATH_SEPARATOR;

std::u16string from_ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

struct load_case {
    const char* name;
    std::vector<std::string> variables;
    quorin_status_t status;
};

void PrintTo(const load_case& c, std::ostream* out) { *out << c.name; }

std::vector<load_case> load_cases() {
    const std::string below_home = "agent" + separator + "lib64" + separator + agent_file;
    return {
        {"bare file name", {"agentlibrary=" + agent_file}, relative_name_refused},
        {"dot-relative name", {"agentlibrary=." + separator + agent_file}, relative_name_refused},
        {"relative path", {"agentlibrary=" + below_home}, relative_name_refused},
        {"process agent file name",
         {"agentlibrary=" + process_agent + QUORIN_TEST_MODULE_SUFFIX},
         relative_name_refused},
        {"bare process agent name", {"agentlibrary=" + process_agent}, relative_name_refused},
        {"home '.'", {"home=."}, relative_name_refused},
        {"relative home", {"home=relative_home"}, relative_name_refused},
        {"home '..' back into the plant", {"home=..", "extra=1"}, relative_name_refused},
        {"nothing configured", {}, QUORIN_STATUS_AGENT_LOAD_FAILED},
    };
}

class LoadPathHardening : public testing::TestWithParam<load_case> {
  protected:
    void SetUp() override {
        reset_library_state();
        previous_directory_ = fs::current_path();
        plant_ = fs::temp_directory_path() /
                 ("quorin-load-path-" + std::to_string(std::random_device{}()));
        // A working agent module under every name and place a search could find.
        const fs::path module = QUORIN_TEST_AGENT_FILE;
        for (const fs::path& directory :
             {plant_ / "sub", plant_ / "sub" / "agent" / "lib64",
              plant_ / "sub" / "relative_home" / "agent" / "lib64", plant_ / "agent" / "lib64"}) {
            fs::create_directories(directory);
            for (const std::string& name :
                 {agent_file, process_agent, process_agent + QUORIN_TEST_MODULE_SUFFIX}) {
                fs::copy_file(module, directory / name, fs::copy_options::overwrite_existing);
            }
        }
        fs::current_path(plant_ / "sub");
    }
    void TearDown() override {
        reset_library_state();
        fs::current_path(previous_directory_);
        std::error_code ignored;
        fs::remove_all(plant_, ignored);
    }

    fs::path previous_directory_;
    fs::path plant_;
};

}  // namespace

TEST_P(LoadPathHardening, PlantedModuleIsNotLoaded) {
    const load_case& c = GetParam();
    // The search path of this run may hold such copies as well (see hardening.sh).
    if (const char* planted = std::getenv("QUORIN_TEST_PLANTED_SEARCH_PATH")) {
        ASSERT_TRUE(fs::exists(fs::path(planted) / agent_file)) << planted;
    }
    // Variables win over the environment, so the run's own CV_* settings do not interfere.
    for (const char* fixed : {"agentactive=true", "agentlibrary=", "home="}) {
        ASSERT_EQ(quorin_stub_set_variable(wide(from_ascii(fixed).c_str()), 0), 0u);
    }
    for (const std::string& variable : c.variables) {
        ASSERT_EQ(quorin_stub_set_variable(wide(from_ascii(variable).c_str()), 1), 0u);
    }
    log_capture log(QUORIN_LOGLEVEL_INFO);
    const quorin_status_t status = quorin_initialize();

    EXPECT_EQ(status, c.status) << c.name;
    int32_t found = -1, compatible = -1;
    quorin_stub_get_agent_load_info(&found, &compatible);
    EXPECT_EQ(found, 0) << c.name;
    EXPECT_EQ(quorin_incomingwebrequesttracer_create_p(nullptr, nullptr, nullptr), 0u) << c.name;
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_NOT_INITIALIZED) << c.name;
    // The refusal is logged with its cause, as an expected failure, not an unexpected one.
    bool logged = false;
    for (const log_line& line : log.lines()) {
        logged |= line.level >= QUORIN_LOGLEVEL_INFO &&
                  line.text.starts_with(u"Could not load agent module for Corvantis Kestrane SDK");
        EXPECT_FALSE(line.text.starts_with(u"Unexpected error while loading")) << c.name;
    }
    EXPECT_TRUE(logged) << c.name;
}

INSTANTIATE_TEST_SUITE_P(RelativeAndBareNames, LoadPathHardening, testing::ValuesIn(load_cases()),
                         [](const testing::TestParamInfo<load_case>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c != 0; ++c) {
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             }
                             return name;
                         });
