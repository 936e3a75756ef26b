#include <windows.h>

#include "thread_binding.h"

namespace agent_core {
namespace {

// Native thread-local slots: readable in DLL_THREAD_DETACH, and no runtime hook of their own.
DWORD state_index = TLS_OUT_OF_INDEXES;
DWORD claim_index = TLS_OUT_OF_INDEXES;

}  // namespace

thread_binding current_thread_binding() {
    return {static_cast<thread_state*>(TlsGetValue(state_index)),
            reinterpret_cast<uintptr_t>(TlsGetValue(claim_index))};
}

void bind_current_thread(thread_binding binding) {
    TlsSetValue(state_index, binding.state);
    TlsSetValue(claim_index, reinterpret_cast<void*>(static_cast<uintptr_t>(binding.claim)));
}

}  // namespace agent_core

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    using namespace agent_core;
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            state_index = TlsAlloc();
            claim_index = TlsAlloc();
            return state_index != TLS_OUT_OF_INDEXES && claim_index != TLS_OUT_OF_INDEXES;
        case DLL_THREAD_DETACH: {
            const thread_binding binding = current_thread_binding();
            if (binding.state != nullptr) thread_exited(binding);
            return TRUE;
        }
        case DLL_PROCESS_DETACH:
            if (state_index != TLS_OUT_OF_INDEXES) TlsFree(state_index);
            if (claim_index != TLS_OUT_OF_INDEXES) TlsFree(claim_index);
            return TRUE;
        default:
            return TRUE;
    }
}
