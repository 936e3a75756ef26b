// The library's only mutual exclusion: a 32-bit word, 0 free, 1 held. Not re-entrant, no
// owner, no fairness. Static locks start free.
#pragma once

#include <atomic>
#include <cstdint>

using spin_lock = std::atomic<uint32_t>;

void spin_lock_acquire(spin_lock* lock);
void spin_lock_release(spin_lock* lock);
