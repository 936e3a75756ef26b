#include "api/agent_binding.h"

constinit std::atomic<void*> agent_context{nullptr};
constinit std::atomic<void*> agent_function_table{nullptr};
constinit std::atomic<void*> metrics_interface{nullptr};
constinit std::atomic<void*> serverless_interface{nullptr};
constinit std::atomic<void*> span_interface{nullptr};
constinit std::atomic<void*> techtype_interface{nullptr};
constinit std::atomic<void*> tracer_ext_interface{nullptr};

void agent_values_clear() {
    agent_context.store(nullptr, std::memory_order_relaxed);
    agent_function_table.store(nullptr, std::memory_order_release);
    for (auto* pointer : {&metrics_interface, &serverless_interface, &span_interface,
                          &techtype_interface, &tracer_ext_interface}) {
        pointer->store(nullptr, std::memory_order_release);
    }
}
