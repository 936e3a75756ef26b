#include <windows.h>

#include "platform/platform.h"
#include "standard_handle.h"

namespace {
constexpr int line_bytes = 8192;

int to_utf8(const char16_t* text, size_t length, char* out, int capacity) {
    return WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text),
                               static_cast<int>(length), out, capacity, nullptr, nullptr);
}
}  // namespace

bool platform_stderr_write(const char16_t* text, size_t length) {
    void* out = standard_handle(standard_stream::error);
    if (out == nullptr) return false;
    if (standard_handle_is_console(out)) {
        standard_handle_write_console(out, text, length);
        return true;
    }
    // A pipe or a file gets the UTF-8 bytes straight on the handle, in one write: no C
    // runtime's buffer lies between, so the line keeps its place among the application's own.
    char line[line_bytes];
    char* bytes = line;
    int count = to_utf8(text, length, line, line_bytes);
    if (count == 0 && length != 0) {
        // A longer line still goes out whole, in one write; without memory, cut to the buffer.
        const int needed = to_utf8(text, length, nullptr, 0);
        bytes = needed > 0 ? static_cast<char*>(platform_heap_allocate(static_cast<size_t>(needed)))
                           : nullptr;
        if (bytes != nullptr) {
            count = to_utf8(text, length, bytes, needed);
        } else {
            bytes = line;
            // At most three bytes a unit: this many units always fit.
            const size_t fitting = static_cast<size_t>(line_bytes / 3);
            count = to_utf8(text, length < fitting ? length : fitting, line, line_bytes);
            if (count > 0) line[count - 1] = '\n';
        }
    }
    if (count > 0) standard_handle_write_bytes(out, bytes, static_cast<size_t>(count));
    if (bytes != line) platform_heap_release(bytes);
    return true;
}
