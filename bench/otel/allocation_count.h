// The memory allocations of the calling thread. This program replaces malloc, calloc and
// realloc (operator new calls malloc), so allocations anywhere in the process pass through
// the count: those of the library and of the agent module it loads as well.
#pragma once

#include <cstdint>

uint64_t allocations_on_this_thread();
