// The smallest agent module that binds: it hands out every interface the library asks for and
// fills every slot with a function that does nothing, so that a measurement through it shows
// the library's own cost.
#include <cstdint>

#include "agent_contract.h"
#include "quorin.h"

using namespace agent_contract;

namespace {

// One function serves every slot whatever its parameters: the caller owns its arguments, so a
// callee that ignores them is safe on both 64-bit calling conventions. The result is a handle
// that is never 0.
uint64_t do_nothing() { return 1; }

const char16_t* version() { return u"1.0.0 (benchmark agent)"; }

constinit int context_object = 0;
void* nothing_slots[function_table_slots];

uint32_t agent_initialize(const agent_init_record*, void** context, void** function_table,
                          char16_t*, uint64_t) {
    *context = &context_object;
    *function_table = nothing_slots;
    return QUORIN_STATUS_OK;
}

void* library_interface[] = {reinterpret_cast<void*>(version),
                             reinterpret_cast<void*>(agent_initialize)};

bool is_extension(uint32_t id) {
    return id == metrics_interface_id || id == serverless_interface_id || id == span_interface_id ||
           id == techtype_interface_id || id == tracer_ext_interface_id;
}

}  // namespace

extern "C" uint32_t sdkagent_abi_initialize(uint64_t, char16_t* const*, char16_t*, uint64_t) {
    for (void*& slot : nothing_slots) slot = reinterpret_cast<void*>(do_nothing);
    return QUORIN_STATUS_OK;
}

extern "C" uint32_t sdkagent_abi_get_library(uint32_t id, uint32_t, void** interface, char16_t*,
                                             uint64_t) {
    if (id == library_interface_id) {
        *interface = library_interface;
    } else if (is_extension(id)) {
        // No extension has more slots than the function table.
        *interface = nothing_slots;
    } else {
        return QUORIN_STATUS_INTERFACE_UNSUPPORTED;
    }
    return QUORIN_STATUS_OK;
}

extern "C" uint32_t sdkagent_abi_shutdown() { return QUORIN_STATUS_OK; }
