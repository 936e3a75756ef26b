#include <windows.h>

#include "platform/platform.h"

namespace {
// FormatMessageW takes a buffer of at most 64K bytes; no system text comes near this length.
constexpr size_t largest_capacity = 32767;
}  // namespace

size_t platform_system_error_text(uint32_t code, char16_t* buffer, size_t capacity) {
    constexpr DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    constexpr DWORD user_default_language = 0x400;
    if (capacity > largest_capacity) capacity = largest_capacity;
    return FormatMessageW(flags, nullptr, code, user_default_language,
                          reinterpret_cast<wchar_t*>(buffer), static_cast<DWORD>(capacity),
                          nullptr);
}
