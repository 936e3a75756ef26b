#include "recorder.h"

namespace agent_core {

// There is no fork on this system.
void register_fork_handlers() {}

}  // namespace agent_core
