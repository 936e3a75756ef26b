// What the console agent needs of the system. Each system has its file:
// console_platform_posix.cpp, console_platform_win32.cpp.
#pragma once

#include <cstdio>
#include <string>

namespace console {

// Opens a file for appending; null with a reason when it cannot.
FILE* open_output_file(const char16_t* path, std::string* error);
// Keeps this module loaded for good: a thread of it is left running.
void keep_module_loaded();

}  // namespace console
