#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console_platform.h"
#include "text.h"

namespace console {

struct output_target {
    int standard;  // 1 standard output, 2 standard error, 0 a file of the agent's own
    FILE* file;
};

namespace {
output_target standard_targets[] = {{1, nullptr}, {2, nullptr}};
}  // namespace

output_target* standard_output() { return &standard_targets[0]; }
output_target* standard_error() { return &standard_targets[1]; }

output_target* open_output_file(const char16_t* path, std::string* error) {
    FILE* file = std::fopen(agent_core::utf16_to_utf8(path).c_str(), "ab");
    if (file == nullptr) {
        *error = std::strerror(errno);
        return nullptr;
    }
    return new output_target{0, file};
}

void write_output(output_target* target, const std::string& lines) {
    FILE* out = target->standard == 0 ? target->file : target->standard == 1 ? stdout : stderr;
    std::fwrite(lines.data(), 1, lines.size(), out);
    std::fflush(out);
}

void close_output(output_target* target) {
    if (target->standard != 0) return;
    std::fclose(target->file);
    delete target;
}

void keep_module_loaded() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&keep_module_loaded), &info) == 0 ||
        info.dli_fname == nullptr) {
        return;
    }
    // The module is loaded already: this only marks it never to be unloaded.
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace console
