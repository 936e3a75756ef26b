// Loads a module into a handle slot, looks up its entry points and frees it. Every operation
// leaves a text in the error buffer (null or capacity 0: no text wanted).
#pragma once

#include <cstdint>

// *unexpected becomes 0 after a success or an expected failure (not found, name refused),
// 1 after any other failure. A module already in the slot is released first.
uint32_t module_load(void** slot, const char16_t* name, char16_t* buffer, uint64_t capacity,
                     int32_t* unexpected);
// The same for a module already in the process, found by name without opening any file
// (the process agent's module); not loaded is an expected failure.
uint32_t module_find_loaded(void** slot, const char16_t* name, char16_t* buffer, uint64_t capacity,
                            int32_t* unexpected);
uint32_t module_get_symbol(void* module, const char* symbol, void** address, char16_t* buffer,
                           uint64_t capacity);
uint32_t module_free(void** slot);
