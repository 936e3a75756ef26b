#include <windows.h>

#include "fork_hook.h"

namespace otel {

int fork_child_hook_add(fork_child_function, void*) { return -1; }
void fork_child_hook_remove(int) {}
uint64_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace otel
