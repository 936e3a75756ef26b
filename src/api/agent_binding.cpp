#include "api/agent_binding.h"

constinit agent_values agent_reach{};

void agent_values_clear() {
    agent_context.store(nullptr, std::memory_order_relaxed);
    agent_function_table.store(nullptr, std::memory_order_release);
    for (auto* pointer : {&metrics_interface, &serverless_interface, &span_interface,
                          &techtype_interface, &tracer_ext_interface}) {
        pointer->store(nullptr, std::memory_order_release);
    }
}
