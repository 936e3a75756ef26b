// The process-wide store of "name=value" variables and its lock.
#pragma once

#include <cstddef>

#include "foundation/string_list.h"

// Whether entry names the variable `name` (its first name_length characters): the names are
// equal without regard to ASCII case and entry continues with '='.
bool variable_entry_has_name(const char16_t* entry, const char16_t* name, size_t name_length);

// Option resolution reads the store between these two calls.
const string_list& variables_lock_and_read();
void variables_unlock();
