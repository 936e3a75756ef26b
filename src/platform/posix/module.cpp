#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

// "<path><reason>" into the buffer; the path as well as it converts.
void copy_path_text(const char16_t* path, const char* reason, char16_t* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return;
    size_t used = 0;
    for (; path[used] != 0 && used + 1 < capacity; ++used) buffer[used] = path[used];
    buffer[used] = 0;
    copy_text(reason, buffer + used, capacity - used);
}

size_t length_of(const char16_t* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
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

// Anything but a regular file (a FIFO, a device, a folder) could block or mislead the
// system's loader, which reads the file before it knows what it is.
bool not_a_regular_file(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

struct soname_search {
    const char* soname;
    const char* path;  // the loaded object's own name, as the loader knows it
};

const char* soname_of(const dl_phdr_info* object) {
    for (int i = 0; i < object->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = object->dlpi_phdr[i];
        if (header.p_type != PT_DYNAMIC) continue;
        const auto* entry = reinterpret_cast<const ElfW(Dyn)*>(object->dlpi_addr + header.p_vaddr);
        ElfW(Addr) strings = 0;
        ElfW(Addr) soname = 0;
        bool has_soname = false;
        for (; entry->d_tag != DT_NULL; ++entry) {
            if (entry->d_tag == DT_STRTAB) strings = entry->d_un.d_ptr;
            if (entry->d_tag == DT_SONAME) {
                soname = entry->d_un.d_val;
                has_soname = true;
            }
        }
        if (!has_soname || strings == 0) return nullptr;
        // Some systems relocate the string table's address in place, others do not.
        if (strings < object->dlpi_addr) strings += object->dlpi_addr;
        return reinterpret_cast<const char*>(strings + soname);
    }
    return nullptr;
}

int match_soname(dl_phdr_info* object, size_t, void* data) {
    auto* search = static_cast<soname_search*>(data);
    if (object->dlpi_name == nullptr || object->dlpi_name[0] == 0) return 0;
    const char* soname = soname_of(object);
    if (soname == nullptr || std::strcmp(soname, search->soname) != 0) return 0;
    search->path = object->dlpi_name;
    return 1;
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
    if (name[0] != u'/') {
        // Never resolve the agent against the working directory or the library search path.
        *error = EINVAL;
        copy_text("The agent module must be given by absolute path.", buffer, capacity);
        return nullptr;
    }
    if (!utf16_well_formed(name, length_of(name))) {
        *error = EILSEQ;
        copy_path_text(name, ": the path has no exact UTF-8 form.", buffer, capacity);
        return nullptr;
    }
    char* path = utf16_to_utf8_owned(name);
    if (path == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    void* module = nullptr;
    if (not_a_regular_file(path)) {
        *error = ENOEXEC;
        copy_path_text(name, ": not a regular file.", buffer, capacity);
    } else {
        dlerror();
        module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            *error = classify_open_failure(path);
            copy_text(dlerror(), buffer, capacity);
        }
    }
    platform_heap_release(path);
    return module;
}

void* platform_module_find_loaded(const char16_t* name, uint32_t* error, char16_t* buffer,
                                  size_t capacity) {
    char* soname = utf16_to_utf8_owned(name);
    if (soname == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    soname_search search{soname, nullptr};
    dl_iterate_phdr(match_soname, &search);
    void* module = nullptr;
    if (search.path != nullptr) {
        // By the loaded object's own name: the loader matches it without opening a file.
        dlerror();
        module = dlopen(search.path, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    }
    if (module == nullptr) {
        *error = ENOENT;
        copy_text("The process agent has not provided an agent module.", buffer, capacity);
    }
    platform_heap_release(soname);
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
