#include <windows.h>

#include "platform/platform.h"

namespace {
const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

constexpr DWORD restricted_search = LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR;

constexpr uint32_t name_insert_errors[] = {129, 182, 188, 189, 190, 191, 192, 193,
                                           194, 195, 198, 201, 202, 216, 217, 218};
}  // namespace

bool platform_loader_search_flags(uint32_t* flags) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return false;
    // Only its presence matters: it shows that the restricted search flags are supported.
    const bool restricted = GetProcAddress(kernel, "SetDefaultDllDirectories") != nullptr;
    *flags = restricted ? restricted_search : LOAD_WITH_ALTERED_SEARCH_PATH;
    return true;
}

bool platform_error_mode_enter(uint32_t* saved_mode) {
    DWORD previous = 0;
    const bool changed =
        SetThreadErrorMode(GetThreadErrorMode() | SEM_FAILCRITICALERRORS, &previous) != 0;
    *saved_mode = previous;
    return changed;
}

void platform_error_mode_restore(uint32_t saved_mode) { SetThreadErrorMode(saved_mode, nullptr); }

void* platform_module_open(const char16_t* name, uint32_t flags, uint32_t* error, char16_t*,
                           size_t) {
    HMODULE module = LoadLibraryExW(wide(name), nullptr, flags);
    *error = module == nullptr ? GetLastError() : 0;
    return reinterpret_cast<void*>(module);
}

void* platform_module_find_loaded(const char16_t* name, uint32_t* error, char16_t*, size_t) {
    // Takes a reference and answers from the loaded modules only: no file is searched for.
    HMODULE module = nullptr;
    *error = GetModuleHandleExW(0, wide(name), &module) != 0 ? 0 : GetLastError();
    if (module == nullptr && *error == 0) *error = ERROR_MOD_NOT_FOUND;
    return reinterpret_cast<void*>(module);
}

void* platform_module_symbol(void* module, const char* name, uint32_t* error, char16_t*, size_t) {
    FARPROC address = GetProcAddress(static_cast<HMODULE>(module), name);
    *error = address == nullptr ? GetLastError() : 0;
    return reinterpret_cast<void*>(address);
}

uint32_t platform_module_close(void* module) {
    return FreeLibrary(static_cast<HMODULE>(module)) != 0 ? 0 : GetLastError();
}

bool platform_load_error_expected(uint32_t code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_INVALID_PARAMETER ||
           code == ERROR_MOD_NOT_FOUND;
}

bool platform_load_error_has_name_insert(uint32_t code) {
    for (const uint32_t insert_error : name_insert_errors) {
        if (insert_error == code) return true;
    }
    return false;
}
