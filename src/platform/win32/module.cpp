#include <windows.h>

#include "platform/platform.h"

namespace {
const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

constexpr DWORD restricted_search = LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR;

constexpr uint32_t name_insert_errors[] = {129, 182, 188, 189, 190, 191, 192, 193, 194,
                                           195, 198, 201, 202, 206, 216, 217, 218};

// Left in the buffer for a path the loader refuses as too long, its %1 the path as given.
constexpr char16_t too_long_text[] =
    u"The path %1 is too long for the system's loader; move the agent module to a shorter path.";
constexpr char16_t not_qualified_text[] =
    u"The agent module must be given by a fully qualified path.";

// The whole text into the buffer, or nothing when it does not fit.
template <size_t size>
void copy_text(const char16_t (&text)[size], char16_t* buffer, size_t capacity) {
    if (buffer == nullptr || capacity < size) return;
    for (size_t i = 0; i < size; ++i) buffer[i] = text[i];
}

bool separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:\..." or "\\server\share\..." (either separator), the only forms the restricted search
// flags are documented for. "file", "sub\file", ".\file" and "X:file" name a file by the
// current folder; "\file" by the current drive.
bool fully_qualified(const wchar_t* path) {
    const bool drive = ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z') && path[1] == L':';
    return (drive && separator(path[2])) || (separator(path[0]) && separator(path[1]));
}

// "\\?\..." (taken as it is, unnormalised) or "\\.\..." (a device).
bool prefixed(const wchar_t* path) {
    return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
           path[3] == L'\\';
}

// The name handed to LoadLibraryExW: the full path with '\' for every '/' and "." and ".."
// resolved (what the system does to a path anyway, but the flag that finds the module's own
// dependencies beside it needs it done beforehand), in the \\?\ form when longer than
// MAX_PATH allows, since only that form lifts the limit and it turns all normalisation off.
// Returns 0 with *loaded owned (release with platform_heap_release) or null to load the name
// as given.
DWORD loader_path(const wchar_t* name, wchar_t** loaded) {
    *loaded = nullptr;
    if (prefixed(name)) return 0;
    const DWORD needed = GetFullPathNameW(name, 0, nullptr, nullptr);
    if (needed == 0) return GetLastError();
    // Room for "\\?\UNC" in front of it.
    constexpr DWORD prefix = 7;
    auto* full = static_cast<wchar_t*>(platform_heap_allocate((needed + prefix) * sizeof(wchar_t)));
    if (full == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD length = GetFullPathNameW(name, needed, full + prefix, nullptr);
    if (length == 0 || length >= needed) {
        const DWORD error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        platform_heap_release(full);
        return error;
    }
    wchar_t* start = full + prefix;
    if (length >= MAX_PATH && !prefixed(start)) {
        // "X:\..." becomes "\\?\X:\...", "\\server\..." becomes "\\?\UNC\server\...".
        const bool unc = start[0] == L'\\';
        const wchar_t* const form = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
        const DWORD form_length = unc ? 7 : 4;
        start = full + prefix + (unc ? 1 : 0) - form_length;
        for (DWORD i = 0; i < form_length; ++i) start[i] = form[i];
    }
    // Moved to the front of the allocation, which is what the caller releases.
    if (start != full) {
        size_t i = 0;
        for (; start[i] != 0; ++i) full[i] = start[i];
        full[i] = 0;
    }
    *loaded = full;
    return 0;
}
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

void* platform_module_open(const char16_t* name, uint32_t flags, uint32_t* error, char16_t* buffer,
                           size_t capacity) {
    // A path that is not fully qualified is refused as the restricted search refuses it, so
    // that the current folder never decides which module is loaded, whichever flags apply.
    if (!prefixed(wide(name)) && !fully_qualified(wide(name))) {
        *error = ERROR_INVALID_PARAMETER;
        copy_text(not_qualified_text, buffer, capacity);
        return nullptr;
    }
    wchar_t* loaded = nullptr;
    *error = loader_path(wide(name), &loaded);
    HMODULE module = nullptr;
    if (*error == 0) {
        module = LoadLibraryExW(loaded != nullptr ? loaded : wide(name), nullptr, flags);
        *error = module == nullptr ? GetLastError() : 0;
        platform_heap_release(loaded);
    }
    if (*error == ERROR_FILENAME_EXCED_RANGE) copy_text(too_long_text, buffer, capacity);
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
           code == ERROR_MOD_NOT_FOUND || code == ERROR_FILENAME_EXCED_RANGE;
}

bool platform_load_error_has_name_insert(uint32_t code) {
    for (const uint32_t insert_error : name_insert_errors) {
        if (insert_error == code) return true;
    }
    return false;
}
