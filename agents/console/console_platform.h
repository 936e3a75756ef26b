// What the console agent needs of the system. Each system has its file:
// console_platform_posix.cpp, console_platform_win32.cpp.
#pragma once

#include <string>

namespace console {

// Where the lines go: standard output, standard error, or a file the agent opened.
struct output_target;

// The process's standard output or standard error, as it is at each write.
output_target* standard_output();
output_target* standard_error();
// Opens a file for appending; null with a reason when it cannot.
output_target* open_output_file(const char16_t* path, std::string* error);
// Writes whole lines of UTF-8 and hands them to the system before it returns, so that the order
// of lines does not depend on any C runtime's buffer. On a Windows console as UTF-16.
void write_output(output_target* target, const std::string& lines);
// Closes an opened file; the standard streams stay open.
void close_output(output_target* target);
// Keeps this module loaded for good: a thread of it is left running.
void keep_module_loaded();

}  // namespace console
