// Which per-thread state belongs to the calling thread, and the notice that the thread is
// gone. The notice runs on the exiting thread and only while the agent module is loaded: on
// POSIX from a thread_local destructor (glibc keeps a module with pending thread_local
// destructors loaded), on Windows from the module's DLL_THREAD_DETACH (a module that is
// unloaded gets no such notice; the mingw runtime's own thread_local destructors pin the
// module and unload it from the exiting thread, which hangs that thread under Wine).
#pragma once

#include <cstdint>

namespace agent_core {

class thread_state;

struct thread_binding {
    thread_state* state;
    uint64_t claim;  // the claim under which the thread took the state
};

// {nullptr, 0} on a thread that has none.
#ifdef _WIN32
thread_binding current_thread_binding();
#else
// Read on every call: the module's few bytes of thread-local storage come with the threads'
// static block, so that reading them takes no lookup.
extern thread_local constinit thread_binding current_binding
    __attribute__((tls_model("initial-exec")));
inline thread_binding current_thread_binding() { return current_binding; }
#endif
// Also arranges that thread_exited() receives the binding when the thread exits.
void bind_current_thread(thread_binding binding);
// Defined by the core.
void thread_exited(thread_binding binding);

}  // namespace agent_core
