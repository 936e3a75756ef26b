#include "agent/lifecycle.h"

#include <atomic>

#include "agent/agent_state.h"
#include "agent/binding.h"
#include "agent/error_buffer.h"
#include "api/agent_binding.h"
#include "foundation/format.h"
#include "foundation/spin_lock.h"
#include "foundation/wide_text.h"
#include "logging/logging.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

using namespace agent_contract;

constinit spin_lock lifecycle_lock{0};
constinit std::atomic<int32_t> fork_child{0};

void mark_fork_child() { fork_child_mark(); }
constinit platform_fork_handlers fork_handlers{{false}, nullptr, nullptr, mark_fork_child};

template <typename Body>
uint32_t locked(Body body) {
    platform_register_fork_handlers(&fork_handlers);
    if (fork_child.load(std::memory_order_acquire) != 0) return QUORIN_STATUS_FORK_CHILD;
    spin_lock_acquire(&lifecycle_lock);
    const uint32_t status = body();
    spin_lock_release(&lifecycle_lock);
    return status;
}

void forget_agent_version() {
    agent.load_state.store(load_state_none);
    agent.version[0] = 0;
}

uint32_t store_flags_variable(uint32_t flags) {
    constexpr size_t capacity = 76;
    char16_t text[capacity];
    const format_arg args[] = {flags};
    format_bounded(text, capacity, u"QUORIN_INTERNAL_CA627667445C40F0_INIT_FLAGS=%u", args, 1);
    return quorin_stub_set_variable(to_public(text), 1);
}

uint32_t initialize_body(uint32_t flags) {
    uint32_t status = store_flags_variable(flags);
    if (status != QUORIN_STATUS_OK) return status;
    status = agent_module_acquire();
    if (status != QUORIN_STATUS_OK) return status;
    status = agent_acquire();
    if (status != QUORIN_STATUS_OK) agent_module_release();
    return status;
}

}  // namespace

uint32_t agent_acquire() {
    if (agent.library_interface == nullptr) return QUORIN_STATUS_NOT_INITIALIZED;
    if (agent.agent_refs != 0) {
        ++agent.agent_refs;
        return QUORIN_STATUS_OK;
    }
    agent_init_record record{{1, 7, 1, 1}, {}, {}};
    for (size_t i = 0; build_stamp[i] != 0; ++i) record.build_stamp[i] = build_stamp[i];
    stub_log(QUORIN_LOGLEVEL_FINE, u"Initializing agent...");
    error_buffer error;
    error.clear();
    uint32_t status = extension_interface_get(u"metrics", metrics_interface_id, &metrics_interface);
    if (status == QUORIN_STATUS_OK) {
        const auto initialize = reinterpret_cast<agent_initialize_function>(
            agent.library_interface[library_agent_initialize_slot]);
        status = initialize(&record, agent_value_address(&agent_context),
                            agent_value_address(&agent_function_table), error.text, error_capacity);
        error.terminate();
        if (status == QUORIN_STATUS_OK) {
            agent.agent_refs = 1;
            stub_log(QUORIN_LOGLEVEL_INFO,
                     u"Corvantis Kestrane SDK for C/C++ initialized successfully.");
            return status;
        }
        // A failed agent may have stored its values already: no forwarder may reach them.
        agent_values_clear();
    }
    if (error.empty()) quorin_stub_xstrerror(status, to_public(error.text), error_capacity);
    stub_logf(QUORIN_LOGLEVEL_SEVERE,
              u"Could not initialize agent for Corvantis Kestrane SDK for C/C++: %s", error.text);
    return status;
}

uint32_t agent_release() {
    if (agent.library_interface == nullptr || agent.agent_refs == 0) {
        return QUORIN_STATUS_NOT_INITIALIZED;
    }
    if (--agent.agent_refs == 0) {
        agent_unbind();
        forget_agent_version();
    }
    return QUORIN_STATUS_OK;
}

void agent_unbind() {
    // Both are cleared before the release runs: a call the agent's release causes into the
    // API gets its default instead of reaching the agent with a null context.
    void* const context = agent_context.exchange(nullptr);
    auto* const table = static_cast<void* const*>(agent_function_table.exchange(nullptr));
    // An agent that reported success without storing its table has no release to call.
    if (context != nullptr && table != nullptr) {
        reinterpret_cast<release_function>(table[release_slot])(context);
    }
}

uint32_t agent_module_release() {
    if (agent.module_refs == 0) {
        stub_log(QUORIN_LOGLEVEL_INFO,
                 u"Cannot uninitialize Corvantis Kestrane SDK for C/C++ because it has not been "
                 u"initialized. (the agent module is not loaded)");
        return QUORIN_STATUS_NOT_INITIALIZED;
    }
    if (agent.module_refs > 1) {
        --agent.module_refs;
        return QUORIN_STATUS_OK;
    }
    if (agent.agent_refs != 0) {
        stub_logf(QUORIN_LOGLEVEL_WARNING, u"Releasing agent with %u refs...", agent.agent_refs);
        agent.agent_refs = 0;
        agent_unbind();
    }
    binding_reset();
    return QUORIN_STATUS_OK;
}


uint32_t fork_child_mark() {
    if (lifecycle_lock.load(std::memory_order_relaxed) == 0) return QUORIN_STATUS_OK;
    agent.library_interface = nullptr;
    agent_context.store(nullptr, std::memory_order_relaxed);
    agent_function_table.store(nullptr, std::memory_order_relaxed);
    fork_child.store(1, std::memory_order_release);
    return QUORIN_STATUS_OK;
}

extern "C" QUORIN_API quorin_status_t quorin_initialize_2(uint32_t flags) {
    return locked([flags] { return initialize_body(flags); });
}

extern "C" QUORIN_API quorin_status_t quorin_initialize(void) { return quorin_initialize_2(0); }

extern "C" QUORIN_API quorin_status_t quorin_shutdown(void) {
    return locked([] {
        agent_release();
        return agent_module_release();
    });
}

extern "C" QUORIN_API const quorin_wchar_t* quorin_agent_get_version_string(void) {
    return to_public(agent.version);
}

extern "C" QUORIN_API void quorin_stub_get_agent_load_info(int32_t* found, int32_t* compatible) {
    const int32_t state = agent.load_state.load();
    if (found != nullptr) *found = state > load_state_none ? 1 : 0;
    if (compatible != nullptr) *compatible = state >= load_state_library ? 1 : 0;
}

extern "C" QUORIN_API void quorin_stub_get_version(quorin_stub_version* version) {
    if (version == nullptr) return;
    version->major = 1;
    version->minor = 7;
    version->patch = 1;
}
