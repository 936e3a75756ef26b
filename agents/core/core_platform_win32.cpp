#include <windows.h>

#include <mutex>

#include "core_platform.h"

namespace agent_core {

namespace {

// Native thread-local slots: readable in DLL_THREAD_DETACH, and no runtime hook of their own.
DWORD state_index = TLS_OUT_OF_INDEXES;
DWORD claim_index = TLS_OUT_OF_INDEXES;

}  // namespace

thread_binding current_thread_binding() {
    if (state_index == TLS_OUT_OF_INDEXES) return {nullptr, 0};
    return {static_cast<thread_state*>(TlsGetValue(state_index)),
            reinterpret_cast<uintptr_t>(TlsGetValue(claim_index))};
}

void bind_current_thread(thread_binding binding) {
    static std::once_flag once;
    std::call_once(once, [] {
        state_index = TlsAlloc();
        claim_index = TlsAlloc();
    });
    TlsSetValue(state_index, binding.state);
    TlsSetValue(claim_index, reinterpret_cast<void*>(static_cast<uintptr_t>(binding.claim)));
}

// There is no fork on this system.
void register_fork_handlers() {}

// The system names no clock source: a counter the processor calls invariant is used, and the
// anchors follow the system time.
bool system_time_follows_counter() { return true; }

}  // namespace agent_core

// Compiled into a module, the thread notices come from here; a program linking the core
// receives none.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    using namespace agent_core;
    if (reason == DLL_THREAD_DETACH) {
        const thread_binding binding = current_thread_binding();
        if (binding.state != nullptr) thread_exited(binding);
    } else if (reason == DLL_PROCESS_DETACH && state_index != TLS_OUT_OF_INDEXES) {
        TlsFree(state_index);
        TlsFree(claim_index);
    }
    return TRUE;
}
