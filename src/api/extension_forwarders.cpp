#include "api/forwarder.h"
#include "quorin.h"

#define QUORIN_EXTENSION(interface, slot, result_type, name, params, args, unbound) \
    extern "C" QUORIN_API result_type name params QUORIN_EXTENSION_FORWARD(         \
        interface, slot, result_type, params, args, unbound)
#include "extension_api.inc"
#undef QUORIN_EXTENSION

#define QUORIN_EXTENSION(interface, slot, result_type, name, params, args, unbound) +1
static_assert(0
#include "extension_api.inc"
                  == 25,
              "the extension APIs have 25 exports");
#undef QUORIN_EXTENSION
