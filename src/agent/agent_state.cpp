#include "agent/agent_state.h"

constinit agent_state agent{};
