// What the recording core needs of the system: which per-thread state belongs to the calling
// thread and the notice that a thread is gone, the fork handlers, and whether the system
// keeps time by the processor's counter. Each system has its files: core_platform_posix.cpp
// and core_platform_win32.cpp, and the header of the inline reading below.
//
// The thread notice runs on the exiting thread and only while the agent module is loaded: on
// POSIX from a thread_local destructor (glibc keeps a module with pending thread_local
// destructors loaded), on Windows from the module's DLL_THREAD_DETACH (a module that is
// unloaded gets no such notice; the mingw runtime's own thread_local destructors pin the
// module and unload it from the exiting thread, which hangs that thread under Wine).
#pragma once

#include <cstdint>
#include <string>

namespace agent_core {

class thread_state;

struct thread_binding {
    thread_state* state;
    uint64_t claim;  // the claim under which the thread took the state
};

// Makes sure every thread can hold a binding; false with the reason when the system has no
// thread-local slot left for this module. The agent's initialize calls it before any binding.
bool reserve_thread_slots(std::string* error);
// Also arranges that thread_exited() receives the binding when the thread exits.
void bind_current_thread(thread_binding binding);
// Defined by the core.
void thread_exited(thread_binding binding);

// Registers the fork handlers once per loaded module (nothing where there is no fork).
void register_fork_handlers();

// Whether the system keeps its own time by the time-stamp counter.
bool system_time_follows_counter();

}  // namespace agent_core

// current_thread_binding(): {nullptr, 0} on a thread that has none. It is read on every call,
// so each system's reading is inline, in the header the build names here.
#include AGENT_CORE_PLATFORM_HEADER
