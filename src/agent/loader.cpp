#include "agent/loader.h"

#include "foundation/wide_text.h"
#include "foundation/wstr.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

bool buffer_present(const char16_t* buffer, uint64_t capacity) {
    return buffer != nullptr && capacity != 0;
}

bool contains_percent(const char16_t* text) {
    for (; *text != 0; ++text) {
        if (*text == u'%') return true;
    }
    return false;
}

void write_status_text(uint32_t status, char16_t* buffer, uint64_t capacity) {
    quorin_stub_xstrerror(status, to_public(buffer), capacity);
}

// Replaces the system text's %1 insert by the module name in single quotes. Out of memory
// leaves the unformatted text.
void insert_module_name(const char16_t* name, char16_t* buffer, uint64_t capacity) {
    char16_t* text_template = nullptr;
    if (wstr_assign(&text_template, buffer) != QUORIN_STATUS_OK) return;
    const size_t name_length = wstr_length(name);
    char16_t* quoted = wstr_alloc(name_length + 2);
    if (quoted != nullptr) {
        quoted[0] = u'\'';
        for (size_t i = 0; i < name_length; ++i) quoted[i + 1] = name[i];
        quoted[name_length + 1] = u'\'';
        quoted[name_length + 2] = 0;
        const char16_t* arguments[] = {nullptr, quoted};
        wstr_format_placeholders(buffer, capacity, text_template, arguments, 2);
        wstr_release(&quoted);
    }
    wstr_release(&text_template);
}

using open_function = void* (*)(const char16_t* name, uint32_t flags, uint32_t* error,
                                char16_t* buffer, size_t capacity);

void* find_in_process(const char16_t* name, uint32_t, uint32_t* error, char16_t* buffer,
                      size_t capacity) {
    return platform_module_find_loaded(name, error, buffer, capacity);
}

uint32_t load_into(open_function open, void** slot, const char16_t* name, char16_t* buffer,
                   uint64_t capacity, int32_t* unexpected) {
    if (slot == nullptr) return QUORIN_STATUS_INVALID_ARGUMENT;
    if (*slot != nullptr) {
        void* held = *slot;
        *slot = nullptr;
        platform_module_close(held);
    }
    if (name == nullptr || name[0] == 0) return QUORIN_STATUS_INVALID_ARGUMENT;
    uint32_t flags = 0;
    if (!platform_loader_search_flags(&flags)) {
        wstr_copy_bounded(buffer, u"Could not get kernel32.dll handle.", capacity);
        return QUORIN_STATUS_UNEXPECTED_ERROR;
    }
    uint32_t saved_mode = 0;
    const bool mode_changed = platform_error_mode_enter(&saved_mode);
    uint32_t error = 0;
    *slot =
        open(name, flags, &error, buffer_present(buffer, capacity) ? buffer : nullptr, capacity);
    if (mode_changed) platform_error_mode_restore(saved_mode);
    if (*slot != nullptr) {
        *unexpected = 0;
        return QUORIN_STATUS_OK;
    }
    if (buffer_present(buffer, capacity)) {
        if (buffer[0] == 0) write_status_text(error, buffer, capacity);
        if (platform_load_error_has_name_insert(error) && contains_percent(buffer)) {
            insert_module_name(name, buffer, capacity);
        }
    }
    *unexpected = platform_load_error_expected(error) ? 0 : 1;
    return error;
}

uint32_t load_with(open_function open, void** slot, const char16_t* name, char16_t* buffer,
                   uint64_t capacity, int32_t* unexpected) {
    if (buffer_present(buffer, capacity)) buffer[0] = 0;
    *unexpected = 1;
    const uint32_t result = load_into(open, slot, name, buffer, capacity, unexpected);
    if (buffer_present(buffer, capacity) && buffer[0] == 0)
        write_status_text(result, buffer, capacity);
    return result;
}

}  // namespace

uint32_t module_load(void** slot, const char16_t* name, char16_t* buffer, uint64_t capacity,
                     int32_t* unexpected) {
    return load_with(platform_module_open, slot, name, buffer, capacity, unexpected);
}

uint32_t module_find_loaded(void** slot, const char16_t* name, char16_t* buffer, uint64_t capacity,
                            int32_t* unexpected) {
    return load_with(find_in_process, slot, name, buffer, capacity, unexpected);
}

uint32_t module_get_symbol(void* module, const char* symbol, void** address, char16_t* buffer,
                           uint64_t capacity) {
    const bool has_buffer = buffer_present(buffer, capacity);
    if (has_buffer) buffer[0] = 0;
    if (address != nullptr) *address = nullptr;
    uint32_t result = QUORIN_STATUS_INVALID_ARGUMENT;
    if (module != nullptr && address != nullptr) {
        uint32_t error = 0;
        *address =
            platform_module_symbol(module, symbol, &error, has_buffer ? buffer : nullptr, capacity);
        result = *address != nullptr ? QUORIN_STATUS_OK : error;
    }
    if (has_buffer && buffer[0] == 0) write_status_text(result, buffer, capacity);
    return result;
}

uint32_t module_free(void** slot) {
    if (slot == nullptr) return QUORIN_STATUS_INVALID_ARGUMENT;
    if (*slot == nullptr) return QUORIN_STATUS_OK;
    void* held = *slot;
    *slot = nullptr;
    return platform_module_close(held);
}
