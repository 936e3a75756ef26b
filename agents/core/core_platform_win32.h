// The calling thread's binding on Windows: from the system's thread-local slots.
#pragma once

namespace agent_core {

thread_binding current_thread_binding();

}  // namespace agent_core
