#include <windows.h>

#include "line_writer.h"

namespace console {

void keep_module_loaded() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&keep_module_loaded), &module);
}

}  // namespace console
