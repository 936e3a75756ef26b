#pragma once

#include <cstdint>

// Slot 2 of the agent function table, which no export reaches.
uint32_t agent_slot_2(uint32_t first, uint32_t second, uint64_t third, uint64_t fourth);
