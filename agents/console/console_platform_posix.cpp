#include <dlfcn.h>

#include <cerrno>
#include <cstring>

#include "console_platform.h"
#include "text.h"

namespace console {

FILE* open_output_file(const char16_t* path, std::string* error) {
    FILE* file = std::fopen(agent_core::utf16_to_utf8(path).c_str(), "ab");
    if (file == nullptr) *error = std::strerror(errno);
    return file;
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
