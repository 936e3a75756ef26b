#include <cstdio>

#include "platform/platform.h"
#include "platform/utf.h"

namespace {
constexpr size_t line_bytes = 8192;
}

bool platform_stderr_write(const char16_t* text, size_t length) {
    FILE* stream = stderr;
    if (stream == nullptr) return false;
    char line[line_bytes];
    size_t bytes = utf16_to_utf8(text, length, line, sizeof line);
    if (bytes > sizeof line) bytes = sizeof line;
    std::fwrite(line, 1, bytes, stream);
    std::fflush(stream);
    return true;
}
