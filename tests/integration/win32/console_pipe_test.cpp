// Standard output and standard error made a pipe (SetStdHandle, as a parent's redirection gives
// them): the console agent's lines and the library's log lines from two threads reach the
// handle the process has at the time, whole, each in its order, and as UTF-8.
#include <windows.h>

#include <sstream>
#include <string>
#include <thread>

#include "support/console_agent_fixture.h"
#include "support/scoped_state.h"

namespace {

using ConsolePipe = console_agent_fixture;

TEST_F(ConsolePipe, AgentAndLogLinesArriveWholeInOrderAsUtf8) {
    HANDLE read_end = nullptr, write_end = nullptr;
    ASSERT_NE(CreatePipe(&read_end, &write_end, nullptr, 0), 0);
    const HANDLE saved[] = {GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
    SetStdHandle(STD_OUTPUT_HANDLE, write_end);
    SetStdHandle(STD_ERROR_HANDLE, write_end);
    std::string text;
    std::thread reader([&] {
        char chunk[4096];
        for (DWORD got = 0; ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got != 0;)
            text.append(chunk, got);
    });

    constexpr int count = 300;
    const char utf8[] = "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC";
    for (const char* destination : {"stdout", "stderr"}) {
        set_variable(u"console_output=" + to_u16_ascii(destination));
        initialize();
        std::thread logger([] {
            for (int i = 0; i < count; ++i) {
                const std::u16string line = u"log " + to_u16_ascii(std::to_string(i));
                quorin_stub_default_logging_function(QUORIN_LOGLEVEL_INFO, wide(line.c_str()));
            }
            quorin_stub_default_logging_function(QUORIN_LOGLEVEL_INFO, L"caf\u00e9 \u65e5\u672c");
        });
        for (int i = 0; i <= count; ++i) {
            const std::string name = i < count ? "job " + std::to_string(i) : utf8;
            const quorin_handle_t tracer = quorin_customservicetracer_create_p(name.c_str(), "P");
            quorin_tracer_start(tracer);
            quorin_tracer_end(tracer);
        }
        logger.join();
        ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    }
    SetStdHandle(STD_OUTPUT_HANDLE, saved[0]);
    SetStdHandle(STD_ERROR_HANDLE, saved[1]);
    CloseHandle(write_end);
    reader.join();
    CloseHandle(read_end);

    int jobs = 0, logs = 0, texts = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("  custom service  P.job ")) {
            EXPECT_TRUE(line.starts_with("  custom service  P.job " +
                                         std::to_string(jobs++ % count) + "  "))
                << line;
        } else if (line.find(" [quorin] log ") != std::string::npos) {
            EXPECT_EQ(line.find(" UTC ["), 23u) << line;
            EXPECT_TRUE(line.ends_with(" [quorin] log " + std::to_string(logs++ % count))) << line;
        } else if (line.ends_with(std::string(" [quorin] ") + utf8) ||
                   line.starts_with(std::string("  custom service  P.") + utf8 + "  ")) {
            ++texts;
        } else {
            EXPECT_TRUE(line.starts_with("trace ") || line.starts_with("# console agent")) << line;
        }
    }
    EXPECT_EQ(jobs, 2 * count);
    EXPECT_EQ(logs, 2 * count);
    EXPECT_EQ(texts, 4);
}

}  // namespace
