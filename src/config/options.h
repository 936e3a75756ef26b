// The options record, resolved from the variable store, the environment and the defaults.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/string_list.h"

struct options_record {
    int32_t log_level;               // -1 when not set or not recognised
    int32_t agent_active;            // 1 active, 0 not
    char16_t* agent_library_path;    // owned; empty when none could be determined
    string_list additional_options;  // every variable that is not a known option, in order
};

uint32_t options_reset(options_record* record);
uint32_t options_resolve(options_record* record);

// How the library's log and quorin-doctor show one additional option ("name=value"): the
// library's own (home, QUORIN_INTERNAL_*) whole; an agent's by its name, with "=***" for a
// value, which may hold credentials (a header, a URL's user info or query), the agent reports
// on them itself. Writes at most capacity - 1 characters and a terminating zero.
void option_shown(const char16_t* item, char16_t* shown, size_t capacity);

// Where the agent module lives below an agent home, for one platform.
struct agent_home_layout {
    const char16_t* library_folder;  // "lib64"
    const char16_t* file_name;       // the agent module's file name
    bool backslash_separators;       // every '/' of the result becomes '\'
};

// home + separator + "agent/<folder>/<file>", as a new owned string in *path.
uint32_t agent_path_derive(const char16_t* home, const agent_home_layout& layout, char16_t** path);
