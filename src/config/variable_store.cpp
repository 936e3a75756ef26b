#include "config/variable_store.h"

#include "foundation/spin_lock.h"
#include "foundation/wide_text.h"
#include "foundation/wstr.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {
constinit string_list variable_store{};
constinit spin_lock variables_lock{0};

// A fork waits until no thread is inside a store operation, so the child gets a whole store
// and a free lock instead of one that no thread of the child will ever release.
void hold_variables_lock() { spin_lock_acquire(&variables_lock); }
void free_variables_lock() { spin_lock_release(&variables_lock); }
constinit platform_fork_handlers fork_handlers{
    {false}, hold_variables_lock, free_variables_lock, free_variables_lock};

void lock_variables() {
    platform_register_fork_handlers(&fork_handlers);
    spin_lock_acquire(&variables_lock);
}

size_t name_length_of(const char16_t* text) {
    size_t n = 0;
    while (text[n] != u'=') ++n;
    return n;
}

bool contains_equals(const char16_t* text) {
    for (; *text != 0; ++text) {
        if (*text == u'=') return true;
    }
    return false;
}
}  // namespace

bool variable_entry_has_name(const char16_t* entry, const char16_t* name, size_t name_length) {
    return entry != nullptr && wstr_equal_ignore_case(entry, name, name_length) &&
           entry[name_length] == u'=';
}

const string_list& variables_lock_and_read() {
    lock_variables();
    return variable_store;
}

void variables_unlock() { spin_lock_release(&variables_lock); }

extern "C" QUORIN_API quorin_status_t quorin_stub_set_variable(const quorin_wchar_t* text,
                                                               int32_t replace) {
    const char16_t* variable = to_internal(text);
    if (variable == nullptr || variable[0] == 0) return QUORIN_STATUS_OK;
    if (!contains_equals(variable)) return QUORIN_STATUS_INVALID_ARGUMENT;
    lock_variables();
    const size_t name_length = name_length_of(variable);
    quorin_status_t result = QUORIN_STATUS_OK;
    uint64_t i = 0;
    while (i < variable_store.count &&
           !variable_entry_has_name(variable_store.items[i], variable, name_length)) {
        ++i;
    }
    if (i == variable_store.count) {
        result = string_list_append(&variable_store, variable);
    } else if (replace != 0) {
        result = wstr_assign(&variable_store.items[i], variable);
    } else {
        result = QUORIN_STATUS_ENTRY_EXISTS;
    }
    spin_lock_release(&variables_lock);
    return result;
}

extern "C" QUORIN_API void quorin_stub_free_variables(void) {
    lock_variables();
    string_list_free(&variable_store);
    spin_lock_release(&variables_lock);
}
