#include <windows.h>

#include "support/process_environment.h"

std::optional<std::string> process_environment_get(const char* name) {
    SetLastError(ERROR_SUCCESS);
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::string value(size, '\0');
    const DWORD written = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(written < size ? written : 0);
    return value;
}

void process_environment_set(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
}
