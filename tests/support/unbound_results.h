// What each forwarder returns while no agent is bound, where that is not 0 (or nothing).
// Written out here rather than taken from the library's lists, so a typo there shows.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "quorin.h"

inline const std::map<std::string, uint64_t> nonzero_unbound_results = {
    {"quorin_agent_get_current_state", 3},
    {"quorin_agent_get_fork_state", 0xFFFFFFFF},
    {"quorin_agent_set_warning_callback", QUORIN_STATUS_NOT_INITIALIZED},
    {"quorin_agent_set_verbose_callback", QUORIN_STATUS_NOT_INITIALIZED},
    {"quorin_tracecontext_get_current", QUORIN_STATUS_NOT_INITIALIZED},
    {"agent_slot_2", QUORIN_STATUS_NOT_INITIALIZED},
};
