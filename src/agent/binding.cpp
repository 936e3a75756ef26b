#include "agent/binding.h"

#include "agent/agent_state.h"
#include "agent/error_buffer.h"
#include "agent/loader.h"
#include "api/agent_binding.h"
#include "config/variable_store.h"
#include "foundation/wide_text.h"
#include "foundation/wstr.h"
#include "logging/logging.h"
#include "quorin.h"

namespace {

using namespace agent_contract;

constexpr char16_t load_failed_prefix[] =
    u"Could not load agent module for Corvantis Kestrane SDK for C/C++";
constexpr char16_t init_failed_prefix[] = u"Could not initialize Corvantis Kestrane SDK for C/C++";

// The buffer's text, or the status's own text when the buffer is empty.
const char16_t* text_or_status(const error_buffer& buffer, uint32_t status, error_buffer& scratch) {
    if (!buffer.empty()) return buffer.text;
    quorin_stub_xstrerror(status, to_public(scratch.text), error_capacity);
    return scratch.text;
}

void record_version(interface_table version_table) {
    const auto version = reinterpret_cast<version_function>(version_table[library_version_slot]);
    wstr_copy_bounded(agent.version, version(), agent_version_capacity);
}

// Plain stores, freeing nothing: the counts, the library interface, the entry points and the
// module handle.
void forget_module() {
    agent.agent_refs = 0;
    agent.module_refs = 0;
    agent.library_interface = nullptr;
    agent.initialize = nullptr;
    agent.get_library.store(nullptr);
    agent.shutdown = nullptr;
    agent.module_handle = nullptr;
}

uint32_t request_interface(uint32_t id, uint32_t version, interface_table* found,
                           error_buffer& buffer) {
    *found = nullptr;
    void* received = nullptr;
    const uint32_t status = agent.get_library.load(std::memory_order_relaxed)(
        id, version, &received, buffer.text, error_capacity);
    buffer.terminate();
    *found = static_cast<interface_table>(received);
    return status;
}

// The library interface was refused: find out which version the module is, for the log.
void probe_version(error_buffer& buffer) {
    error_buffer scratch;
    buffer.clear();
    interface_table version_table;
    uint32_t status =
        request_interface(version_interface_id, version_interface_version, &version_table, buffer);
    if (status != QUORIN_STATUS_OK || version_table == nullptr) {
        stub_logf(QUORIN_LOGLEVEL_FINEST,
                  u"Could not get agent module version: '%s'. Trying legacy method.",
                  text_or_status(buffer, status, scratch));
        status = request_interface(legacy_version_interface_id, version_interface_version,
                                   &version_table, buffer);
        if (status == QUORIN_STATUS_OK && version_table != nullptr) record_version(version_table);
    } else {
        record_version(version_table);
    }
    if (agent.version[0] != 0) {
        stub_logf(QUORIN_LOGLEVEL_INFO, u"Agent module version is %s; probably incompatible",
                  agent.version);
    } else {
        stub_logf(QUORIN_LOGLEVEL_INFO, u"Agent module version could not be determined: %s",
                  text_or_status(buffer, status, scratch));
    }
}

uint32_t load_module(int32_t* failure_reported, error_buffer& buffer) {
    int32_t unexpected = 0;
    uint32_t status = module_find_loaded(&agent.module_handle, process_agent_module_name,
                                         buffer.text, error_capacity, &unexpected);
    if (status == QUORIN_STATUS_OK) {
        stub_log(QUORIN_LOGLEVEL_FINE, u"Loaded agent module provided by process agent.");
        return status;
    }
    if (unexpected != 0) {
        stub_logf(QUORIN_LOGLEVEL_INFO,
                  u"The process agent provided an agent module but it unexpectedly failed to "
                  u"load: %s",
                  buffer.text);
    }
    const char16_t* path = agent.options.agent_library_path;
    if (path == nullptr || path[0] == 0) {
        stub_logf(QUORIN_LOGLEVEL_INFO,
                  u"%s: Loading via the process module failed and no fallback path was provided.",
                  load_failed_prefix);
        *failure_reported = 1;
        return QUORIN_STATUS_AGENT_LOAD_FAILED;
    }
    status = module_load(&agent.module_handle, path, buffer.text, error_capacity, &unexpected);
    if (status == QUORIN_STATUS_OK || buffer.empty()) return status;
    stub_logf(QUORIN_LOGLEVEL_INFO, u"%s: %s", load_failed_prefix, buffer.text);
    if (unexpected != 0) {
        stub_log(QUORIN_LOGLEVEL_WARNING,
                 u"Unexpected error while loading the agent module (see previous message for "
                 u"details).");
    }
    *failure_reported = 1;
    return status == QUORIN_STATUS_GENERIC_ERROR ? QUORIN_STATUS_AGENT_LOAD_FAILED : status;
}

uint32_t bind_entry_points(int32_t* failure_reported, error_buffer& buffer) {
    buffer.clear();
    void* address = nullptr;
    uint32_t status = module_get_symbol(agent.module_handle, initialize_symbol, &address,
                                        buffer.text, error_capacity);
    agent.initialize = reinterpret_cast<initialize_function>(address);
    if (status == QUORIN_STATUS_OK) {
        status = module_get_symbol(agent.module_handle, get_library_symbol, &address, buffer.text,
                                   error_capacity);
        agent.get_library.store(reinterpret_cast<get_library_function>(address));
    }
    if (status == QUORIN_STATUS_OK) {
        status = module_get_symbol(agent.module_handle, shutdown_symbol, &address, buffer.text,
                                   error_capacity);
        agent.shutdown = reinterpret_cast<shutdown_function>(address);
    }
    if (status != QUORIN_STATUS_OK && !buffer.empty()) {
        stub_logf(QUORIN_LOGLEVEL_SEVERE, u"%s: %s", load_failed_prefix, buffer.text);
        *failure_reported = 1;
    }
    return status;
}

void log_option_summary() {
    stub_log(QUORIN_LOGLEVEL_CONFIG, u"  Options:");
    stub_logf(QUORIN_LOGLEVEL_CONFIG, u"    Agent active:  %s",
              agent.options.agent_active != 0 ? u"true" : u"false");
    stub_logf(QUORIN_LOGLEVEL_CONFIG, u"    Agent module:  '%s'", agent.options.agent_library_path);
    stub_logf(QUORIN_LOGLEVEL_CONFIG, u"    SDK log level: %s",
              logging_level_name(stub_get_logging_level()));
    stub_log(QUORIN_LOGLEVEL_CONFIG, u"  Additional options:");
    const string_list& additional = agent.options.additional_options;
    for (uint64_t i = 0; i < additional.count; ++i) {
        char16_t shown[256];
        option_shown(additional.items[i], shown, sizeof shown / sizeof shown[0]);
        stub_logf(QUORIN_LOGLEVEL_CONFIG, u"    %s", shown);
    }
    if (additional.count == 0) stub_log(QUORIN_LOGLEVEL_CONFIG, u"    (none)");
}

}  // namespace

uint32_t binding_prepare(int32_t* failure_reported) {
    *failure_reported = 0;
    agent.options = options_record{-1, 0, nullptr, {}};
    agent_values_clear();
    forget_module();

    options_record early{-1, 0, nullptr, {}};
    if (options_resolve(&early) == QUORIN_STATUS_OK && early.log_level >= 0) {
        quorin_stub_set_logging_level(early.log_level);
    }
    options_reset(&early);

    stub_log(QUORIN_LOGLEVEL_INFO, u"Initializing Corvantis Kestrane SDK for C/C++ ...");
    stub_log(QUORIN_LOGLEVEL_INFO, u"SDK stub version 1.7.1.1, build date 2022.12.15 10:27:48.");
    stub_log(QUORIN_LOGLEVEL_FINE, u"Preparing arguments...");
    const uint32_t status = options_resolve(&agent.options);
    if (status != QUORIN_STATUS_OK) return status;
    if (agent.options.log_level >= 0) quorin_stub_set_logging_level(agent.options.log_level);
    log_option_summary();
    if (agent.options.agent_active != 0) return QUORIN_STATUS_OK;
    stub_log(QUORIN_LOGLEVEL_CONFIG, u"Agent not active.");
    return QUORIN_STATUS_AGENT_NOT_ACTIVE;
}

uint32_t agent_module_bind(int32_t* failure_reported) {
    uint32_t status = binding_prepare(failure_reported);
    if (status != QUORIN_STATUS_OK) return status;
    stub_log(QUORIN_LOGLEVEL_FINE, u"Loading agent module...");
    error_buffer buffer_a;
    status = load_module(failure_reported, buffer_a);
    if (status != QUORIN_STATUS_OK) return status;
    agent.load_state.store(load_state_module);
    status = bind_entry_points(failure_reported, buffer_a);
    if (status != QUORIN_STATUS_OK) return status;

    stub_log(QUORIN_LOGLEVEL_FINE, u"Initializing agent module...");
    error_buffer buffer_b;
    buffer_b.clear();
    const string_list& additional = agent.options.additional_options;
    status = agent.initialize(additional.count, additional.items, buffer_b.text, error_capacity);
    buffer_b.terminate();
    if (status != QUORIN_STATUS_OK) {
        if (buffer_b.empty()) return status;
        // A module its own settings switch off is no failure, as an agent switched off here
        // is none.
        if (status == QUORIN_STATUS_AGENT_NOT_ACTIVE) {
            stub_logf(QUORIN_LOGLEVEL_INFO, u"Agent not active: %s", buffer_b.text);
        } else {
            stub_logf(QUORIN_LOGLEVEL_SEVERE, u"%s: %s", init_failed_prefix, buffer_b.text);
        }
        *failure_reported = 1;
        return status;
    }
    agent.module_refs = 1;

    interface_table library = nullptr;
    status = request_interface(library_interface_id, library_interface_version, &library, buffer_b);
    // Success without an interface is no interface: nothing may call through a null table.
    if (status == QUORIN_STATUS_OK && library == nullptr) {
        status = QUORIN_STATUS_INTERFACE_UNSUPPORTED;
    }
    if (status == QUORIN_STATUS_OK) {
        agent.library_interface = library;
        agent.load_state.store(load_state_library);
        record_version(library);
        stub_logf(QUORIN_LOGLEVEL_INFO, u"Loaded agent module version: %s", agent.version);
        return QUORIN_STATUS_OK;
    }
    if (!buffer_b.empty()) {
        stub_logf(QUORIN_LOGLEVEL_SEVERE, u"%s: %s", init_failed_prefix, buffer_b.text);
        *failure_reported = 1;
    }
    probe_version(buffer_a);
    return status;
}

uint32_t agent_module_acquire() {
    if (agent.module_refs != 0) {
        ++agent.module_refs;
        return QUORIN_STATUS_OK;
    }
    agent.load_state.store(load_state_none);
    agent.version[0] = 0;
    int32_t failure_reported = 0;
    const uint32_t status = agent_module_bind(&failure_reported);
    if (status == QUORIN_STATUS_OK) {
        stub_log(QUORIN_LOGLEVEL_INFO,
                 u"Corvantis Kestrane SDK for C/C++ agent module loaded successfully.");
        return status;
    }
    if (failure_reported == 0) {
        error_buffer text;
        quorin_stub_xstrerror(status, to_public(text.text), error_capacity);
        stub_logf(QUORIN_LOGLEVEL_SEVERE, u"%s: %s", load_failed_prefix, text.text);
    }
    binding_reset();
    return status;
}

void binding_reset() {
    // Nothing may reach the module once it is gone: the context, the table, every extension
    // interface and the entry point of the enabling exports are cleared before it is shut
    // down and freed.
    agent_values_clear();
    const shutdown_function shutdown = agent.shutdown;
    agent.get_library.store(nullptr);
    if (agent.module_refs != 0) shutdown();
    if (agent.module_handle != nullptr) module_free(&agent.module_handle);
    options_reset(&agent.options);
    forget_module();
}

uint32_t extension_interface_get(const char16_t* display_name, uint32_t interface_id,
                                 std::atomic<void*>* destination) {
    const get_library_function get_library = agent.get_library.load();
    if (get_library == nullptr) return QUORIN_STATUS_NOT_INITIALIZED;
    error_buffer buffer;
    buffer.clear();
    // The agent writes into a local: what a refusing agent wrote never reaches a forwarder.
    void* received = nullptr;
    uint32_t status = get_library(interface_id, extension_interface_version, &received, buffer.text,
                                  error_capacity);
    buffer.terminate();
    if (status == QUORIN_STATUS_OK && received == nullptr) {
        status = QUORIN_STATUS_INTERFACE_UNSUPPORTED;
    }
    destination->store(status == QUORIN_STATUS_OK ? received : nullptr, std::memory_order_release);
    const char16_t* name = display_name != nullptr ? display_name : u"(unnamed)";
    if (status == QUORIN_STATUS_OK) {
        stub_logf(QUORIN_LOGLEVEL_INFO, u"Loaded extension API %s.", name);
        return status;
    }
    error_buffer scratch;
    stub_logf(QUORIN_LOGLEVEL_SEVERE, u"Failed to load extension API %s: %s", name,
              text_or_status(buffer, status, scratch));
    return status;
}
