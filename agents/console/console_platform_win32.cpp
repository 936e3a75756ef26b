#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "console_platform.h"
#include "standard_handle.h"
#include "utf.h"

namespace console {

struct output_target {
    standard_stream standard;  // unused for a file of the agent's own
    FILE* file;                // null for a standard stream
};

namespace {
output_target standard_targets[] = {{standard_stream::output, nullptr},
                                    {standard_stream::error, nullptr}};
}  // namespace

output_target* standard_output() { return &standard_targets[0]; }
output_target* standard_error() { return &standard_targets[1]; }

// Paths are UTF-16 on this system: open them as such, not through the ANSI code page.
output_target* open_output_file(const char16_t* path, std::string* error) {
    FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(path), L"ab");
    if (file == nullptr) {
        *error = std::strerror(errno);
        return nullptr;
    }
    return new output_target{standard_stream::output, file};
}

void write_output(output_target* target, const std::string& lines) {
    if (target->file != nullptr) {
        std::fwrite(lines.data(), 1, lines.size(), target->file);
        std::fflush(target->file);
        return;
    }
    // Looked up at each write, so the lines follow the process's handle.
    void* out = standard_handle(target->standard);
    if (out == nullptr) return;
    if (!standard_handle_is_console(out)) {
        standard_handle_write_bytes(out, lines.data(), lines.size());
        return;
    }
    std::u16string text(lines.size(), u'\0');
    text.resize(utf8_to_utf16(lines.data(), lines.size(), text.data(), text.size()));
    standard_handle_write_console(out, text.data(), text.size());
}

void close_output(output_target* target) {
    if (target->file == nullptr) return;
    std::fclose(target->file);
    delete target;
}

void keep_module_loaded() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&keep_module_loaded), &module);
}

}  // namespace console
