// Test support over the public API: restores the process-wide state a test touched, and
// captures the library's log.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "quorin.h"

std::u16string to_u16(const quorin_wchar_t* text);
const quorin_wchar_t* wide(const char16_t* text);
std::string to_narrow(const std::u16string& text);

struct log_line {
    int32_t level;
    std::u16string text;
    bool operator==(const log_line&) const = default;
};

// Installs a callback that records every message at the given level and above; restores the
// default callback and the NONE level when it goes.
class log_capture {
public:
    explicit log_capture(int32_t level = QUORIN_LOGLEVEL_FINEST);
    ~log_capture();
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    std::vector<log_line> lines() const;
    std::vector<std::u16string> texts() const;
    void clear();
};

// Undoes every initialization, empties the variable store and restores logging.
void reset_library_state();
