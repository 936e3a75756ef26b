#include <cstdlib>

#include "platform/platform.h"
#include "platform/posix/owned_utf.h"

platform_env_result platform_env_get(const char16_t* name, char16_t** value) {
    *value = nullptr;
    char* narrow_name = utf16_to_utf8_owned(name);
    if (narrow_name == nullptr) return platform_env_result::out_of_memory;
    // secure_getenv: a set-user-id or capability-elevated process ignores these variables.
    const char* found = secure_getenv(narrow_name);
    platform_heap_release(narrow_name);
    if (found == nullptr) return platform_env_result::not_set;
    // Bytes that are not UTF-8 stay visible, so that a path made from them is refused.
    *value = utf8_to_utf16_owned(found, true);
    return *value != nullptr ? platform_env_result::found : platform_env_result::out_of_memory;
}

bool platform_env_set(const char16_t* name, const char16_t* value) {
    char* narrow_name = utf16_to_utf8_owned(name);
    if (narrow_name == nullptr) return false;
    bool done;
    if (value == nullptr) {
        done = unsetenv(narrow_name) == 0;
    } else {
        char* narrow_value = utf16_to_utf8_owned(value);
        done = narrow_value != nullptr && setenv(narrow_name, narrow_value, 1) == 0;
        platform_heap_release(narrow_value);
    }
    platform_heap_release(narrow_name);
    return done;
}
