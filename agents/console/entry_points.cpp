// The module's three entry points, the interfaces it hands out, and the agent's initialize
// and release.
#include <cstdint>
#include <cstring>

#include "agent/contract.h"
#include "slots.h"
#include "text.h"

namespace console {
namespace {

namespace contract = agent_contract;

constexpr char16_t version_text[] = u"console agent 1.0.0";
constexpr char output_option[] = "console_output";

const char16_t* agent_version() { return version_text; }

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
#include "api/core_api.inc"
#undef QUORIN_CORE
#define QUORIN_EXTENSION(interface, slot, result_type, name, params, args, unbound) \
    interface[slot] = reinterpret_cast<void*>(&slots::name);
#include "api/extension_api.inc"
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
    write_utf16("console agent: " + text, error, capacity);
    return status;
}

uint32_t agent_initialize(const contract::agent_init_record* record, void** context,
                          void** function_table, char16_t* error, uint64_t capacity) {
    if (record == nullptr || context == nullptr || function_table == nullptr) {
        return fail(QUORIN_STATUS_INVALID_ARGUMENT,
                    "the initialization record, context or table address is null", error, capacity);
    }
    session& state = the_session();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.active()) state.finish();
    state.begin();
    char stamp[sizeof record->build_stamp + 1] = {};
    std::memcpy(stamp, record->build_stamp, sizeof record->build_stamp);
    state.write_line(format("# console agent 1.0.0 writing to %s (stub %u.%u.%u.%u, build %s)",
                            state.output_name().c_str(), record->stub_version[0],
                            record->stub_version[1], record->stub_version[2],
                            record->stub_version[3], printable_text(stamp).c_str()));
    *context = &state;
    *function_table = const_cast<void**>(tables().core);
    return QUORIN_STATUS_OK;
}

}  // namespace

namespace slots {

void release(void* context) {
    session& state = the_session();
    quorin_agent_logging_callback logging = nullptr;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (context != &state || !state.active()) {
            state.write_line("# warning: release: not this agent's context, or not initialized");
            return;
        }
        state.finish();
        state.write_line("# console agent released");
        logging = state.logging_callback.exchange(nullptr);
        state.warning_callback = nullptr;
        state.verbose_callback = nullptr;
    }
    if (logging != nullptr) logging("console agent released");
}

}  // namespace slots
}  // namespace console

using console::fail;

extern "C" CONSOLE_AGENT_EXPORT uint32_t sdkagent_abi_initialize(uint64_t count,
                                                                 char16_t* const* options,
                                                                 char16_t* error,
                                                                 uint64_t capacity) {
    if (count > 0 && options == nullptr) {
        return fail(QUORIN_STATUS_INVALID_ARGUMENT, "the options are a null pointer", error,
                    capacity);
    }
    const char16_t* destination = u"";
    std::vector<std::string> unknown;
    for (uint64_t i = 0; i < count; ++i) {
        const std::string option = console::utf16_to_utf8(options[i]);
        const size_t equals = option.find('=');
        const std::string name = option.substr(0, equals);
        if (console::equal_ignore_case(name, console::output_option) &&
            equals != std::string::npos) {
            destination = options[i] + equals + 1;  // ASCII name: units and bytes agree
        } else if (name.size() > 8 && console::equal_ignore_case(name.substr(0, 8), "console_")) {
            unknown.push_back(name);
        }
    }
    console::session& state = console::the_session();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::string reason;
    if (!state.open_output(destination, &reason)) {
        return fail(
            QUORIN_STATUS_GENERIC_ERROR,
            "cannot open the output '" + console::utf16_to_utf8(destination) + "': " + reason,
            error, capacity);
    }
    for (const std::string& name : unknown) {
        state.write_line("# warning: unknown console agent option '" + name + "' is ignored");
    }
    return QUORIN_STATUS_OK;
}

extern "C" CONSOLE_AGENT_EXPORT uint32_t sdkagent_abi_get_library(uint32_t id, uint32_t version,
                                                                  void** interface, char16_t* error,
                                                                  uint64_t capacity) {
    if (interface == nullptr) {
        return fail(QUORIN_STATUS_INVALID_ARGUMENT, "the interface address is null", error,
                    capacity);
    }
    const console::offered_interface* offered = console::find_interface(id);
    if (offered == nullptr) {
        return fail(QUORIN_STATUS_INTERFACE_UNSUPPORTED,
                    console::format("interface %u is not provided", id), error, capacity);
    }
    if (offered->version != version) {
        return fail(QUORIN_STATUS_FEATURE_LEVEL_UNSUPPORTED,
                    console::format("interface %u is provided in version %u, not %u", id,
                                    offered->version, version),
                    error, capacity);
    }
    *interface = const_cast<void**>(offered->table);
    return QUORIN_STATUS_OK;
}

extern "C" CONSOLE_AGENT_EXPORT uint32_t sdkagent_abi_shutdown() {
    console::session& state = console::the_session();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.active()) state.finish();
    state.close_output();
    return QUORIN_STATUS_OK;
}
