// The contract's declarations come first: <windows.h> defines "interface" as a macro.
#include "test_agent_module.h"

#include <windows.h>

void* test_agent_open(const char* path) {
    return reinterpret_cast<void*>(LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void* test_agent_symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void test_agent_close(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
