#include <windows.h>

#include <atomic>
#include <mutex>

#include "core_platform.h"

namespace agent_core {

namespace {

// Native thread-local slots: readable in DLL_THREAD_DETACH, and no runtime hook of their own.
// Taken at the first initialize and kept until the module is unloaded.
// The state's slot is written last: a thread that sees it sees the claim's.
std::atomic<DWORD> state_index{TLS_OUT_OF_INDEXES};
DWORD claim_index = TLS_OUT_OF_INDEXES;
std::mutex slots_lock;

DWORD state_slot() { return state_index.load(std::memory_order_acquire); }

}  // namespace

thread_binding current_thread_binding() {
    const DWORD state = state_slot();
    if (state == TLS_OUT_OF_INDEXES) return {nullptr, 0};
    return {static_cast<thread_state*>(TlsGetValue(state)),
            reinterpret_cast<uintptr_t>(TlsGetValue(claim_index))};
}

bool reserve_thread_slots(std::string* error) {
    std::lock_guard<std::mutex> hold(slots_lock);
    if (state_slot() != TLS_OUT_OF_INDEXES) return true;
    const DWORD state = TlsAlloc();
    const DWORD claim = state != TLS_OUT_OF_INDEXES ? TlsAlloc() : TLS_OUT_OF_INDEXES;
    if (claim == TLS_OUT_OF_INDEXES) {
        if (state != TLS_OUT_OF_INDEXES) TlsFree(state);
        *error =
            "the process has no thread-local slot left for the agent (TlsAlloc failed), so it "
            "cannot keep each thread's tracers apart";
        return false;
    }
    claim_index = claim;
    state_index.store(state, std::memory_order_release);
    return true;
}

void bind_current_thread(thread_binding binding) {
    std::string unused;
    // A program that links the core has no initialize to reserve the slots.
    if (state_slot() == TLS_OUT_OF_INDEXES && !reserve_thread_slots(&unused)) return;
    TlsSetValue(state_slot(), binding.state);
    TlsSetValue(claim_index, reinterpret_cast<void*>(static_cast<uintptr_t>(binding.claim)));
}

// There is no fork on this system.
void register_fork_handlers() {}

// The system names no clock source: a counter the processor calls invariant is used, and the
// anchors follow the system time (and are taken anew when the counter steps back).
bool system_time_follows_counter() { return true; }

}  // namespace agent_core

// Compiled into a module, the thread notices come from here; a program linking the core
// receives none.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    using namespace agent_core;
    if (reason == DLL_THREAD_DETACH) {
        const thread_binding binding = current_thread_binding();
        if (binding.state != nullptr) thread_exited(binding);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr &&
               state_slot() != TLS_OUT_OF_INDEXES) {
        // Unloaded by FreeLibrary. At process exit nothing is cleaned up: the other threads
        // are gone and the process takes everything back.
        TlsFree(state_slot());
        TlsFree(claim_index);
    }
    return TRUE;
}
