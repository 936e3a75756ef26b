#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

namespace {
constexpr int line_bytes = 8192;
}

bool platform_stderr_write(const char16_t* text, size_t length) {
    FILE* stream = stderr;
    if (stream == nullptr) return false;
    char line[line_bytes];
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text),
                            static_cast<int>(length), line, line_bytes, nullptr, nullptr);
    if (bytes > 0) std::fwrite(line, 1, static_cast<size_t>(bytes), stream);
    std::fflush(stream);
    return true;
}
