#include "api/core_forwarders.h"

#include "api/forwarder.h"
#include "api/unbound_answers.h"
#include "quorin.h"

#define QUORIN_CORE(slot, result_type, name, params, args, unbound)                              \
    extern "C" QUORIN_API result_type name params QUORIN_CORE_FORWARD(slot, result_type, params, \
                                                                      args, unbound)
#include "core_api.inc"
#undef QUORIN_CORE

#define QUORIN_CORE(slot, result_type, name, params, args, unbound) +1
static_assert(0
#include "core_api.inc"
                  == 49,
              "the core API has 49 exports");
#undef QUORIN_CORE

uint32_t agent_slot_2(uint32_t first, uint32_t second, uint64_t third, uint64_t fourth)
    QUORIN_CORE_FORWARD(2, uint32_t,
                        (uint32_t first, uint32_t second, uint64_t third, uint64_t fourth),
                        (first, second, third, fourth), QUORIN_STATUS_NOT_INITIALIZED)
