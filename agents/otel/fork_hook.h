// Functions to run in the child process right after fork(), for state that must not carry
// over (the exporter's thread, its queue, the id sequence). Nothing happens on Windows.
#pragma once

#include <cstdint>

namespace otel {

using fork_child_function = void (*)(void* context);

// Returns a token for removal, or -1 when all places are taken (or there is no fork).
int fork_child_hook_add(fork_child_function function, void* context);
void fork_child_hook_remove(int token);

uint64_t current_process_id();

}  // namespace otel
