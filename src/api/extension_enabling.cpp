#include "agent/binding.h"
#include "agent/contract.h"
#include "api/agent_binding.h"
#include "quorin.h"

extern "C" QUORIN_API quorin_status_t quorin_ex_api_enable_serverless(void) {
    return extension_interface_get(u"serverless", agent_contract::serverless_interface_id,
                                   agent_value_address(&serverless_interface));
}

extern "C" QUORIN_API quorin_status_t quorin_ex_api_enable_span(void) {
    return extension_interface_get(u"span", agent_contract::span_interface_id,
                                   agent_value_address(&span_interface));
}

extern "C" QUORIN_API quorin_status_t quorin_ex_api_enable_techtype(void) {
    return extension_interface_get(u"techtype", agent_contract::techtype_interface_id,
                                   agent_value_address(&techtype_interface));
}

extern "C" QUORIN_API quorin_status_t quorin_ex_api_enable_tracer_ext(void) {
    return extension_interface_get(u"tracer_ext", agent_contract::tracer_ext_interface_id,
                                   agent_value_address(&tracer_ext_interface));
}
