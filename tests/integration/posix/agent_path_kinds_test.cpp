// Agent paths the system's loader must never see: something other than a regular file (a FIFO
// would block the loader's first read for ever, holding the lifecycle lock), and a path whose
// UTF-16 text has no exact UTF-8 form (a lossy conversion would load another folder's module).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "quorin.h"
#include "support/agent_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr quorin_status_t not_a_module = 8;    // ENOEXEC
constexpr quorin_status_t no_exact_form = 84;  // EILSEQ
constexpr int hang_limit_ms = 30000;           // far beyond any real load

class AgentPathKinds : public agent_fixture {
  protected:
    void SetUp() override {
        agent_fixture::SetUp();
        base_ = fs::temp_directory_path() /
                ("quorin-path-kinds-" + std::to_string(std::random_device{}()));
        fs::create_directories(base_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
        agent_fixture::TearDown();
    }

    // A working agent module below <home>/agent/lib64/.
    void plant_module(const std::string& home) {
        const fs::path folder = fs::path(home) / "agent" / "lib64";
        fs::create_directories(folder);
        fs::copy_file(QUORIN_TEST_AGENT_FILE, folder / fs::path(QUORIN_TEST_AGENT_FILE).filename());
    }

  public:
    bool logged_containing(const std::u16string& part) const {
        for (const log_line& line : logged()) {
            if (line.text.find(part) != std::u16string::npos) return true;
        }
        return false;
    }

  protected:
    fs::path base_;
};

// Runs quorin_initialize in a child process and returns its status, or nothing when it did not
// finish within the limit (the child is then killed). The child reports whether the log named
// the refusal too.
struct bounded_result {
    bool finished;
    quorin_status_t status;
    bool refusal_logged;
};

template <typename Fixture>
bounded_result initialize_in_child(const Fixture& fixture, const std::u16string& refusal) {
    int channel[2];
    if (pipe(channel) != 0) return {false, 0, false};
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const bounded_result result{true, quorin_initialize(), fixture.logged_containing(refusal)};
        const ssize_t written = write(channel[1], &result, sizeof result);
        _exit(written == sizeof result ? 0 : 1);
    }
    close(channel[1]);
    pollfd readable{channel[0], POLLIN, 0};
    bounded_result result{false, 0, false};
    if (poll(&readable, 1, hang_limit_ms) == 1 &&
        read(channel[0], &result, sizeof result) != sizeof result) {
        result.finished = false;
    }
    close(channel[0]);
    if (!result.finished) kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return result;
}

}  // namespace

TEST_F(AgentPathKinds, SomethingOtherThanARegularFileIsRefusedBeforeItIsOpened) {
    const fs::path fifo = base_ / "fifo.so";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path folder = base_ / "folder.so";
    fs::create_directories(folder);
    for (const fs::path& path : {fifo, folder, fs::path("/dev/null")}) {
        SCOPED_TRACE(path.string());
        set_variable(u"agentlibrary=" + u16(path.string()));
        const bounded_result result = initialize_in_child(*this, u": not a regular file.");
        ASSERT_TRUE(result.finished) << "quorin_initialize hung on " << path;
        EXPECT_EQ(result.status, not_a_module);
        EXPECT_TRUE(result.refusal_logged);
    }
}

TEST_F(AgentPathKinds, HomeWithoutAnExactUtf8FormIsRefusedNotReplaced) {
    const std::string base = base_.string();
    // What a replacing conversion would make of both spellings below: a module is planted
    // there, and must not be loaded.
    plant_module(base + "/h\xEF\xBF\xBD");
    plant_module(base + "/h\xC3\xA9");
    struct spelling {
        const char* name;
        const char* environment_home;  // CV_HOME as bytes, else the variable below
        std::u16string variable_home;
        quorin_status_t expected;
    };
    const std::vector<spelling> cases = {
        {"bytes that are not UTF-8 in CV_HOME", "/h\xE9", u"", no_exact_form},
        {"a lone surrogate in the home variable", nullptr, u"/h\xDCE9", no_exact_form},
        {"valid UTF-8 in CV_HOME", "/h\xC3\xA9", u"", QUORIN_STATUS_OK},
    };
    for (const spelling& c : cases) {
        SCOPED_TRACE(c.name);
        while (quorin_shutdown() == QUORIN_STATUS_OK) {
        }
        quorin_stub_free_variables();
        std::optional<scoped_process_environment> home;
        if (c.environment_home != nullptr) {
            home.emplace("CV_HOME", (base + c.environment_home).c_str());
        } else {
            set_variable(u"home=" + u16(base) + c.variable_home);
        }
        EXPECT_EQ(quorin_initialize(), c.expected);
        EXPECT_EQ(current_load_info().found, c.expected == QUORIN_STATUS_OK ? 1 : 0);
        if (c.expected != QUORIN_STATUS_OK) {
            EXPECT_TRUE(logged_containing(u": the path has no exact UTF-8 form."));
        }
    }
}
