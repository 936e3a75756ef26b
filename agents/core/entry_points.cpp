// The module's three entry points, the interfaces it hands out, and the agent's initialize
// and release: the same for every agent module on the core.
#include <cstdint>
#include <cstring>

#include "agent_contract.h"
#include "core_platform.h"
#include "slots.h"
#include "text.h"

namespace agent_core {
namespace {

namespace contract = agent_contract;

const char16_t* agent_version() { return module_output().version(); }

uint32_t agent_initialize(const contract::agent_init_record* record, void** context,
                          void** function_table, char16_t* error, uint64_t capacity);

struct interface_tables {
    void* library[2];
    void* version[1];
    void* core[contract::function_table_slots];
    void* metrics_interface[13];
    void* span_interface[8];
    void* techtype_interface[1];
    void* tracer_ext_interface[2];
    void* serverless_interface[1];

    interface_tables() {
        library[contract::library_version_slot] = reinterpret_cast<void*>(&agent_version);
        library[contract::library_agent_initialize_slot] =
            reinterpret_cast<void*>(&agent_initialize);
        version[0] = reinterpret_cast<void*>(&agent_version);
        core[0] = reinterpret_cast<void*>(&slots::unused_slot);
        core[contract::release_slot] = reinterpret_cast<void*>(&slots::release);
        core[2] = reinterpret_cast<void*>(&slots::reserved_slot);
#define QUORIN_CORE(slot, result_type, name, params, args, unbound) \
    core[slot] = reinterpret_cast<void*>(&slots::name);
#include "core_api.inc"
#undef QUORIN_CORE
#define QUORIN_EXTENSION(interface, slot, result_type, name, params, args, unbound) \
    interface[slot] = reinterpret_cast<void*>(&slots::name);
#include "extension_api.inc"
#undef QUORIN_EXTENSION
    }
};

const interface_tables& tables() {
    static const interface_tables instance;
    return instance;
}

struct offered_interface {
    uint32_t id;
    uint32_t version;
    void* const* table;
};

const offered_interface* find_interface(uint32_t id) {
    const interface_tables& t = tables();
    static const offered_interface offered[] = {
        {contract::library_interface_id, contract::library_interface_version, t.library},
        {contract::version_interface_id, contract::version_interface_version, t.version},
        {contract::legacy_version_interface_id, contract::version_interface_version, t.version},
        {contract::metrics_interface_id, contract::extension_interface_version,
         t.metrics_interface},
        {contract::span_interface_id, contract::extension_interface_version, t.span_interface},
        {contract::techtype_interface_id, contract::extension_interface_version,
         t.techtype_interface},
        {contract::tracer_ext_interface_id, contract::extension_interface_version,
         t.tracer_ext_interface},
        {contract::serverless_interface_id, contract::extension_interface_version,
         t.serverless_interface},
    };
    for (const offered_interface& entry : offered) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

uint32_t fail(uint32_t status, const std::string& text, char16_t* error, uint64_t capacity) {
    write_utf16(std::string(module_output().name()) + ": " + text, error, capacity);
    return status;
}

uint32_t agent_initialize(const contract::agent_init_record* record, void** context,
                          void** function_table, char16_t* error, uint64_t capacity) {
    if (record == nullptr || context == nullptr || function_table == nullptr) {
        return fail(QUORIN_STATUS_INVALID_ARGUMENT,
                    "the initialization record, context or table address is null", error, capacity);
    }
    session_info info{};
    std::memcpy(info.stub_version, record->stub_version, sizeof info.stub_version);
    char stamp[sizeof record->build_stamp + 1] = {};
    std::memcpy(stamp, record->build_stamp, sizeof record->build_stamp);
    info.build_stamp = escaped_text(stamp);
    std::string reason;
    if (!reserve_thread_slots(&reason))
        return fail(QUORIN_STATUS_GENERIC_ERROR, reason, error, capacity);
    recorder& core = the_recorder();
    core.begin(info);
    *context = &core;
    *function_table = const_cast<void**>(tables().core);
    return QUORIN_STATUS_OK;
}

}  // namespace

void slots::release(void* context) { the_recorder().release(context); }

}  // namespace agent_core

using agent_core::fail;

extern "C" AGENT_EXPORT uint32_t sdkagent_abi_initialize(uint64_t count, char16_t* const* options,
                                                         char16_t* error, uint64_t capacity) {
    if (count > 0 && options == nullptr) {
        return fail(QUORIN_STATUS_INVALID_ARGUMENT, "the options are a null pointer", error,
                    capacity);
    }
    std::vector<agent_core::agent_option> received;
    for (uint64_t i = 0; i < count; ++i) {
        if (options[i] == nullptr) continue;
        const char16_t* value = options[i];
        while (*value != 0 && *value != u'=') ++value;
        const std::string option = agent_core::utf16_to_utf8(options[i]);
        const size_t equals = option.find('=');
        if (*value == 0) {
            received.push_back({option, "", nullptr});
        } else {
            received.push_back({option.substr(0, equals), option.substr(equals + 1), value + 1});
        }
    }
    std::string reason;
    if (!agent_core::the_recorder().configure(received, &reason)) {
        return fail(agent_core::module_output().switched_off() ? QUORIN_STATUS_AGENT_NOT_ACTIVE
                                                               : QUORIN_STATUS_GENERIC_ERROR,
                    reason, error, capacity);
    }
    return QUORIN_STATUS_OK;
}

extern "C" AGENT_EXPORT uint32_t sdkagent_abi_get_library(uint32_t id, uint32_t version,
                                                          void** interface, char16_t* error,
                                                          uint64_t capacity) {
    if (interface == nullptr) {
        return fail(QUORIN_STATUS_INVALID_ARGUMENT, "the interface address is null", error,
                    capacity);
    }
    const agent_core::offered_interface* offered = agent_core::find_interface(id);
    if (offered == nullptr) {
        return fail(QUORIN_STATUS_INTERFACE_UNSUPPORTED,
                    agent_core::format("interface %u is not provided", id), error, capacity);
    }
    if (offered->version != version) {
        return fail(QUORIN_STATUS_FEATURE_LEVEL_UNSUPPORTED,
                    agent_core::format("interface %u is provided in version %u, not %u", id,
                                       offered->version, version),
                    error, capacity);
    }
    *interface = const_cast<void**>(offered->table);
    return QUORIN_STATUS_OK;
}

extern "C" AGENT_EXPORT uint32_t sdkagent_abi_shutdown() {
    agent_core::the_recorder().close();
    return QUORIN_STATUS_OK;
}
