// The binding state: the agent module, its entry points and interfaces, the reference counts
// and the options it was loaded with. Written only under the lifecycle lock; the values that
// other threads read without the lock are atomic.
#pragma once

#include <atomic>
#include <cstdint>

#include "agent_contract.h"
#include "config/options.h"

inline constexpr size_t agent_version_capacity = 64;

struct agent_state {
    void* module_handle;
    agent_contract::initialize_function initialize;
    std::atomic<agent_contract::get_library_function> get_library;
    agent_contract::shutdown_function shutdown;
    uint32_t module_refs;
    uint32_t agent_refs;
    agent_contract::interface_table library_interface;
    std::atomic<int32_t> load_state;  // 0 none, 1 module loaded, 2 library interface obtained
    char16_t version[agent_version_capacity];
    options_record options;
};

extern agent_state agent;

inline constexpr int32_t load_state_none = 0;
inline constexpr int32_t load_state_module = 1;
inline constexpr int32_t load_state_library = 2;
