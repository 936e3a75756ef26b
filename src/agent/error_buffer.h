// The buffer every failure text of the agent module is written into.
#pragma once

#include "agent_contract.h"

struct error_buffer {
    char16_t text[agent_contract::error_capacity];
    void clear() { text[0] = 0; }
    bool empty() const { return text[0] == 0; }
    // After every call into the agent that may have written the buffer: an agent that filled
    // it to the end without a terminator is cut, never read past the end.
    void terminate() { text[agent_contract::error_capacity - 1] = 0; }
};
