#include <windows.h>

#include "platform/platform.h"

namespace {
const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
}  // namespace

platform_env_result platform_env_get(const char16_t* name, char16_t** value) {
    *value = nullptr;
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetEnvironmentVariableW(wide(name), nullptr, 0);
    for (;;) {
        if (size == 0) {
            // 0 with ERROR_ENVVAR_NOT_FOUND: not set; any other 0: set and empty.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return platform_env_result::not_set;
            size = 1;
        }
        auto* buffer = static_cast<char16_t*>(platform_heap_allocate(size * sizeof(char16_t)));
        if (buffer == nullptr) return platform_env_result::out_of_memory;
        buffer[0] = 0;
        SetLastError(ERROR_SUCCESS);
        const DWORD written =
            GetEnvironmentVariableW(wide(name), reinterpret_cast<wchar_t*>(buffer), size);
        if (written < size) {
            if (written == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                platform_heap_release(buffer);
                return platform_env_result::not_set;
            }
            *value = buffer;
            return platform_env_result::found;
        }
        // The variable grew between the two calls.
        platform_heap_release(buffer);
        size = written;
    }
}

bool platform_env_set(const char16_t* name, const char16_t* value) {
    return SetEnvironmentVariableW(wide(name), value != nullptr ? wide(value) : nullptr) != 0;
}
