#include <cstdio>

#include "platform/platform.h"
#include "utf.h"

namespace {
constexpr size_t line_bytes = 8192;
}

bool platform_stderr_write(const char16_t* text, size_t length) {
    FILE* stream = stderr;
    if (stream == nullptr) return false;
    char line[line_bytes];
    char* out = line;
    size_t bytes = utf16_to_utf8(text, length, line, sizeof line);
    if (bytes > sizeof line) {
        // A longer line still goes out whole, in one write; without memory, cut to the buffer.
        out = static_cast<char*>(platform_heap_allocate(bytes));
        if (out != nullptr) {
            utf16_to_utf8(text, length, out, bytes);
        } else {
            out = line;
            bytes = sizeof line;
            line[bytes - 1] = '\n';
        }
    }
    std::fwrite(out, 1, bytes, stream);
    std::fflush(stream);
    if (out != line) platform_heap_release(out);
    return true;
}
