#include "platform/posix/owned_utf.h"

#include <cstring>

#include "platform/platform.h"

char16_t* utf8_to_utf16_owned(const char* text, bool mark_invalid) {
    const auto convert = mark_invalid ? utf8_to_utf16_marking_invalid : utf8_to_utf16;
    const size_t length = std::strlen(text);
    const size_t units = convert(text, length, nullptr, 0);
    auto* result = static_cast<char16_t*>(platform_heap_allocate((units + 1) * sizeof(char16_t)));
    if (result == nullptr) return nullptr;
    convert(text, length, result, units);
    result[units] = 0;
    return result;
}

char* utf16_to_utf8_owned(const char16_t* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    const size_t bytes = utf16_to_utf8(text, length, nullptr, 0);
    auto* result = static_cast<char*>(platform_heap_allocate(bytes + 1));
    if (result == nullptr) return nullptr;
    utf16_to_utf8(text, length, result, bytes);
    result[bytes] = 0;
    return result;
}
