// Locating, loading, binding and initializing the agent module, and undoing it.
#pragma once

#include <atomic>
#include <cstdint>

// Loads and binds the agent module, or adds a module reference. Lifecycle lock held.
uint32_t agent_module_acquire();
uint32_t agent_module_bind(int32_t* failure_reported);
uint32_t binding_prepare(int32_t* failure_reported);
// Shuts the agent module down, frees it and empties the binding state. Lifecycle lock held.
void binding_reset();
// Asks the bound agent module for an extension interface. destination holds it after a
// success with an interface, and null after any failure (success without one is refused).
uint32_t extension_interface_get(const char16_t* display_name, uint32_t interface_id,
                                 std::atomic<void*>* destination);
