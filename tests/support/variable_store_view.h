// A copy of the variable store's entries, in store order, read under the variables lock.
// Unit tests only: it reads the internal store directly.
#pragma once

#include <string>
#include <vector>

#include "config/variable_store.h"

inline std::vector<std::u16string> stored_variables() {
    std::vector<std::u16string> entries;
    const string_list& store = variables_lock_and_read();
    for (uint64_t i = 0; i < store.count; ++i) {
        entries.push_back(store.items[i] != nullptr ? store.items[i] : u"<null>");
    }
    variables_unlock();
    return entries;
}
