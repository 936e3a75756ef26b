#include "agent/binding.h"
#include "agent_contract.h"
#include "api/agent_binding.h"
#include "quorin.h"

// Each enabling export asks the agent for its interface; the pointer holds the interface of
// the last success, or null after a failure.
#define QUORIN_ENABLE_EXTENSION(name)                                                  \
    extern "C" QUORIN_API quorin_status_t quorin_ex_api_enable_##name(void) {          \
        return extension_interface_get(u"" #name, agent_contract::name##_interface_id, \
                                       &name##_interface);                             \
    }

QUORIN_ENABLE_EXTENSION(serverless)
QUORIN_ENABLE_EXTENSION(span)
QUORIN_ENABLE_EXTENSION(techtype)
QUORIN_ENABLE_EXTENSION(tracer_ext)
