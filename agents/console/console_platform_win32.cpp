#include <windows.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "console_platform.h"

namespace console {

// Paths are UTF-16 on this system: open them as such, not through the ANSI code page.
FILE* open_output_file(const char16_t* path, std::string* error) {
    FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(path), L"ab");
    if (file == nullptr) *error = std::strerror(errno);
    return file;
}

void keep_module_loaded() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&keep_module_loaded), &module);
}

}  // namespace console
