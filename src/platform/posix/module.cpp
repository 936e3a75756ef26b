#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "agent/contract.h"
#include "platform/platform.h"
#include "platform/posix/owned_utf.h"

namespace {

// The code reported for an export the module does not have.
constexpr uint32_t missing_export_error = ENOSYS;

void copy_text(const char* text, char16_t* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0 || text == nullptr) return;
    size_t units = utf8_to_utf16(text, std::strlen(text), buffer, capacity - 1);
    if (units > capacity - 1) units = capacity - 1;
    buffer[units] = 0;
}

bool equals(const char16_t* a, const char16_t* b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a == *b;
}

// Why dlopen failed for a path: missing, unreadable, or there but not a module for us.
uint32_t classify_open_failure(const char* path) {
    struct stat info {};
    if (stat(path, &info) != 0) return static_cast<uint32_t>(errno);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return static_cast<uint32_t>(errno);
    close(fd);
    return ENOEXEC;
}

}  // namespace

bool platform_loader_search_flags(uint32_t* flags) {
    *flags = 0;
    return true;
}

bool platform_error_mode_enter(uint32_t* saved_mode) {
    *saved_mode = 0;
    return false;
}

void platform_error_mode_restore(uint32_t) {}

void* platform_module_open(const char16_t* name, uint32_t, uint32_t* error, char16_t* buffer,
                           size_t capacity) {
    const bool process_agent = equals(name, agent_contract::process_agent_module_name);
    if (!process_agent && name[0] != u'/') {
        // Never resolve the agent against the working directory or the library search path.
        *error = EINVAL;
        copy_text("The agent module must be given by absolute path.", buffer, capacity);
        return nullptr;
    }
    char* path = utf16_to_utf8_owned(name);
    if (path == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    dlerror();
    // A bare process agent name only finds a module already in the process (by its soname).
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL | (process_agent ? RTLD_NOLOAD : 0));
    if (module == nullptr) {
        const char* text = dlerror();
        *error = process_agent ? ENOENT : classify_open_failure(path);
        if (text == nullptr) text = "The process agent has not provided an agent module.";
        copy_text(text, buffer, capacity);
    }
    platform_heap_release(path);
    return module;
}

void* platform_module_symbol(void* module, const char* name, uint32_t* error, char16_t* buffer,
                             size_t capacity) {
    dlerror();
    void* address = dlsym(module, name);
    if (address == nullptr) {
        *error = missing_export_error;
        copy_text(dlerror(), buffer, capacity);
    }
    return address;
}

uint32_t platform_module_close(void* module) { return dlclose(module) == 0 ? 0 : EINVAL; }

bool platform_load_error_expected(uint32_t code) { return code == ENOENT || code == EINVAL; }

bool platform_load_error_has_name_insert(uint32_t) { return false; }
