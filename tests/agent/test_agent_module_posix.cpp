#include <dlfcn.h>

#include "test_agent_module.h"

void* test_agent_open(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* test_agent_symbol(void* module, const char* name) { return dlsym(module, name); }

void test_agent_close(void* module) { dlclose(module); }
