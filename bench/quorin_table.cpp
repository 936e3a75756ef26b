// The table of quorin_bench: the forwarders, whole requests, the lifecycle and the options.
#include "summary_table.h"

void print_summary_table(const median_collector& results, std::FILE* out) {
    const std::string pointer = "function-pointer call";
    const std::string direct = "direct shared-library call";
    summary_table t(results);
    t.add("Call through a function pointer", "call_through_function_pointer");
    t.add("Direct call into a shared library", "direct_call_into_shared_library");
    t.add("Bound core forwarder", "bound_core_forwarder", pointer, "call_through_function_pointer",
          1.2);
    t.add("Bound core forwarder", "bound_core_forwarder", direct,
          "direct_call_into_shared_library");
    t.add("Bound core forwarder, another thread nesting init/shutdown",
          "bound_core_forwarder_beside_lifecycle_calls", "idle", "bound_core_forwarder", 1.11,
          " (speed >= 0.9x)");
    t.add("Unbound core forwarder", "unbound_core_forwarder", direct,
          "direct_call_into_shared_library", 1.1);
    t.add("Unbound extension forwarder", "unbound_extension_forwarder", direct,
          "direct_call_into_shared_library", 1.1);
    t.add("Bound extension forwarder", "bound_extension_forwarder", pointer,
          "call_through_function_pointer");
    t.add("5 direct calls into a shared library", "request_direct_calls");
    t.add_bounded("Request (5 calls), unbound", "request_unbound", 5, "5 direct calls",
                  "request_direct_calls");
    t.add("Agent's own work: its 5 slots called directly", "request_agent_work");
    t.add_over_work("Request (5 calls), bound", "request_bound", "agent's work",
                    "request_agent_work", 10);
    t.add_bounded("Nested quorin_initialize + quorin_shutdown", "nested_initialize_shutdown", 300);
    t.add("quorin_stub_set_variable, 10 variables", "set_variable/10");
    t.add("quorin_stub_set_variable, 1000 variables", "set_variable/1000", "10 variables",
          "set_variable/10");
    t.add("Option resolution, 10 variables", "resolve_options/10");
    t.add("Option resolution, 1000 variables", "resolve_options/1000", "10 variables",
          "resolve_options/10", 100, " (linear)");
    for (int threads : {1, 2, 4}) {
        const char* noun = threads == 1 ? "thread" : "threads";
        t.add(printf_text("Spin lock, %d %s", threads, noun),
              printf_text("spin_lock/threads:%d", threads),
              printf_text("std::mutex, %d %s", threads, noun),
              printf_text("std_mutex/threads:%d", threads));
    }
    t.print(out, "quorin benchmarks");
}
