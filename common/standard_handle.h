// Windows only (standard_handle_win32.cpp): writing to the process's standard output or
// standard error as the handle is at the time, past every C runtime's buffer. The library's
// log line and the console agent both write so.
#pragma once

#include <cstddef>

enum class standard_stream { output, error };

// The handle, or null when the process has none.
void* standard_handle(standard_stream which);
// Whether the handle is a console, which takes UTF-16 text whatever its code page.
bool standard_handle_is_console(void* handle);
// UTF-16 text to a console, in pieces it takes (a surrogate pair kept whole); stops at the first
// write that fails.
void standard_handle_write_console(void* handle, const char16_t* text, size_t length);
// Bytes straight on the handle until all are taken or a write fails.
void standard_handle_write_bytes(void* handle, const char* bytes, size_t count);
