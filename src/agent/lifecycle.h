// Reference-counted initialization and shutdown under the lifecycle lock.
#pragma once

#include <cstdint>

uint32_t agent_acquire();
uint32_t agent_release();
void agent_unbind();
uint32_t agent_module_release();

// Marks this process a fork child when the lifecycle lock was held at the fork: from then
// on every lifecycle operation fails with QUORIN_STATUS_FORK_CHILD instead of waiting.
uint32_t fork_child_mark();
