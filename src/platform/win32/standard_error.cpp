#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

namespace {
constexpr int line_bytes = 8192;

int to_utf8(const char16_t* text, size_t length, char* out, int capacity) {
    return WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text),
                               static_cast<int>(length), out, capacity, nullptr, nullptr);
}
}  // namespace

bool platform_stderr_write(const char16_t* text, size_t length) {
    FILE* stream = stderr;
    if (stream == nullptr) return false;
    char line[line_bytes];
    char* out = line;
    int bytes = to_utf8(text, length, line, line_bytes);
    if (bytes == 0 && length != 0) {
        // A longer line still goes out whole, in one write; without memory, cut to the buffer.
        const int needed = to_utf8(text, length, nullptr, 0);
        out = needed > 0 ? static_cast<char*>(platform_heap_allocate(static_cast<size_t>(needed)))
                         : nullptr;
        if (out != nullptr) {
            bytes = to_utf8(text, length, out, needed);
        } else {
            out = line;
            // At most three bytes a unit: this many units always fit.
            const size_t fitting = static_cast<size_t>(line_bytes / 3);
            bytes = to_utf8(text, length < fitting ? length : fitting, line, line_bytes);
            if (bytes > 0) line[bytes - 1] = '\n';
        }
    }
    if (bytes > 0) std::fwrite(out, 1, static_cast<size_t>(bytes), stream);
    std::fflush(stream);
    if (out != line) platform_heap_release(out);
    return true;
}
