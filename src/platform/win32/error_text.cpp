#include <windows.h>

#include "platform/platform.h"

size_t platform_system_error_text(uint32_t code, char16_t* buffer, size_t capacity) {
    constexpr DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    constexpr DWORD user_default_language = 0x400;
    return FormatMessageW(flags, nullptr, code, user_default_language,
                          reinterpret_cast<wchar_t*>(buffer), static_cast<DWORD>(capacity),
                          nullptr);
}
