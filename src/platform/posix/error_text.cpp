#include <cstring>

#include "platform/platform.h"
#include "utf.h"

size_t platform_system_error_text(uint32_t code, char16_t* buffer, size_t capacity) {
    char narrow[512];
    // GNU strerror_r returns the text, which may or may not be in narrow.
    const char* text = strerror_r(static_cast<int>(code), narrow, sizeof narrow);
    // glibc answers codes it does not know with "Unknown error N": that is no text.
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return 0;
    const size_t units = utf8_to_utf16(text, std::strlen(text), buffer, capacity);
    if (units >= capacity) return 0;
    buffer[units] = 0;
    return units;
}
