#include <cerrno>
#include <cstring>
#include <cwchar>

#include "console_output.h"

namespace console {

// Paths are UTF-16 on this system: open them as such, not through the ANSI code page.
FILE* open_output_file(const char16_t* path, std::string* error) {
    FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(path), L"ab");
    if (file == nullptr) *error = std::strerror(errno);
    return file;
}

}  // namespace console
