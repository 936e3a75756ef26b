// A private copy of the library's internals, for measuring what the exports do not reach:
// option resolution and the spin lock. Its variable store is its own, not libquorin's.
#pragma once

#include <atomic>
#include <cstdint>

extern "C" {

// Empties the private variable store and fills it with `count` variables that are no option.
void bench_internals_fill_variables(uint32_t count);
// One resolution of the options record from the private store, and its reset; the status.
uint32_t bench_internals_resolve_options();

void bench_internals_lock(std::atomic<uint32_t>* lock);
void bench_internals_unlock(std::atomic<uint32_t>* lock);
}
