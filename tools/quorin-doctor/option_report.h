// What the doctor prints about the options: each one's value and where it came from.
#pragma once

#include <string>

// UTF-16 to UTF-8 for printing; null gives "(null)".
std::string utf8(const char16_t* text);

// The value of one option as the library looks it up, and its source.
struct option_origin {
    std::string value;
    std::string source;  // "command line (--cv_home)", "environment (CV_HOME)", "default"
};
option_origin option_origin_of(const char16_t* variable, const char16_t* environment,
                               const char16_t* fallback);

// Prints the options section; returns false when the agent is switched off.
bool print_options();
