// The wall clock of the recording core: microseconds since 1970-01-01 UTC, read at every
// tracer's start and end. Where the processor's time-stamp counter is trustworthy (it runs at
// a constant rate in every power state, and the system keeps its own time by it), a reading is
// the counter scaled against an anchor taken from the system's real-time clock; elsewhere, and
// until the counter's rate is known, it is the system clock itself.
#pragma once

#include <cstdint>

namespace agent_core {

// Microseconds since 1970-01-01 UTC from the system's real-time clock.
uint64_t system_microseconds();

// Microseconds since 1970-01-01 UTC, from any thread. On one thread a reading never lies
// more than a few microseconds before the previous one, unless the system clock was set back
// by a millisecond or more, which the clock follows.
uint64_t wall_clock_microseconds();

// For the fork handler: a child whose parent was taking a new anchor while it forked drops
// that anchor (the thread that wrote it does not exist in the child).
void wall_clock_after_fork_in_child();

// Only in the test build of the clock (agent_wall_clock_seams), which the unit tests link.
namespace wall_clock_testing {
// Forgets the anchor and the counter's rate, as at the first reading. Only while no other
// thread reads the clock.
void start_over();
// Makes the next reading take a new anchor from the system clock.
void expire_anchor();
// Sets the system clock, as the wall clock reads it, that many microseconds from the true one.
void shift_system_clock(int64_t us);
// Sets the processor's counter, as the wall clock reads it, that many ticks from the true one.
void shift_counter(int64_t ticks);
// true: every reading comes from the system clock; false: the clock chooses again.
void use_system_clock(bool system);
// Whether readings come from the counter now (it is trustworthy and its rate is known).
bool counting();
// Whether this machine's counter may be used.
bool counter_trustworthy();
}  // namespace wall_clock_testing

}  // namespace agent_core
