#include <dlfcn.h>

#include "line_writer.h"

namespace console {

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
