// The calling thread's binding on POSIX: the module's few bytes of thread-local storage come
// with the threads' static block, so that reading them takes no lookup.
#pragma once

namespace agent_core {

extern thread_local constinit thread_binding current_binding
    __attribute__((tls_model("initial-exec")));
inline thread_binding current_thread_binding() { return current_binding; }

}  // namespace agent_core
