#include <windows.h>

#include <vector>

#include "otel_platform.h"

namespace otel {

std::optional<std::string> read_process_environment(const char* name) {
    std::wstring wide_name;
    for (const char* c = name; *c != '\0'; ++c) wide_name.push_back(static_cast<wchar_t>(*c));
    const DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::vector<wchar_t> value(size);
    const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
    if (length == 0 || length >= size) return std::nullopt;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(length),
                                          nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(length), out.data(), bytes,
                        nullptr, nullptr);
    return out;
}

int fork_child_hook_add(fork_child_function, void*) { return -1; }
void fork_child_hook_remove(int) {}
uint64_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace otel
