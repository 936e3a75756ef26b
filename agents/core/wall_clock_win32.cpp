#include "wall_clock.h"

namespace agent_core {

// The system names no clock source: a counter the processor calls invariant is used, and the
// anchors follow the system time.
bool system_time_follows_counter() { return true; }

}  // namespace agent_core
