#include <windows.h>

#include "standard_handle.h"

namespace {
// Console writes go in pieces of at most this many UTF-16 units (older consoles refuse very
// large single writes).
constexpr size_t console_piece = 8192;

// Hands the text to write() until all of it is taken; write() answers how many units it took,
// 0 when it failed.
template <typename Unit, typename Write>
void write_all(const Unit* text, size_t length, Write write) {
    while (length > 0) {
        const DWORD written = write(text, length);
        if (written == 0) return;
        text += written;
        length -= written;
    }
}
}  // namespace

void* standard_handle(standard_stream which) {
    HANDLE handle =
        GetStdHandle(which == standard_stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool standard_handle_is_console(void* handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

void standard_handle_write_console(void* handle, const char16_t* text, size_t length) {
    write_all(text, length, [handle](const char16_t* rest, size_t left) {
        size_t piece = left < console_piece ? left : console_piece;
        if (piece < left && rest[piece - 1] >= 0xD800 && rest[piece - 1] < 0xDC00) --piece;
        DWORD written = 0;
        return WriteConsoleW(handle, rest, static_cast<DWORD>(piece), &written, nullptr) != 0
                   ? written
                   : 0;
    });
}

void standard_handle_write_bytes(void* handle, const char* bytes, size_t count) {
    write_all(bytes, count, [handle](const char* rest, size_t left) {
        // One write takes at most what a DWORD counts.
        const DWORD piece = left < MAXDWORD ? static_cast<DWORD>(left) : MAXDWORD;
        DWORD written = 0;
        return WriteFile(handle, rest, piece, &written, nullptr) != 0 ? written : 0;
    });
}
