// The frame of the console agent's tests: the real library bound to the console agent, which
// writes into a fresh file per test; the file's lines, and searches over them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "quorin.h"

#define BY_VALUE(n) reinterpret_cast<const void*>(static_cast<uintptr_t>(n))

class console_agent_fixture : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    static void set_variable(const std::u16string& text);
    // Initializes the library with every extension enabled.
    static void initialize();
    // The output's lines so far.
    std::vector<std::string> read_output() const;
    // Shuts down (the agent writes what is still open) and returns the output's lines.
    std::vector<std::string> shutdown_and_read();

    std::filesystem::path output_;
};

std::u16string to_u16_ascii(const std::string& text);
bool has_line(const std::vector<std::string>& lines, const std::string& text);
// The index of the first line that starts with prefix, or -1.
int line_starting(const std::vector<std::string>& lines, const std::string& prefix);
// How many lines start with prefix.
size_t count_starting(const std::vector<std::string>& lines, const std::string& prefix);
std::string joined(const std::vector<std::string>& lines);
// The trace id of the calling thread's innermost tracer ("" when it has none).
std::string current_trace_id();
