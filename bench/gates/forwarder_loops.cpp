// Calls forwarders in loops, for callgrind to count (see loop_dumps.h).
#include <cstdint>
#include <cstdio>

#include "gates/loop_dumps.h"
#include "quorin.h"
#include "support/agent_session.h"

namespace {

constexpr uint64_t calls = 1000;
constexpr quorin_handle_t handle = 42;

using loop_function = void (*)(uint64_t count, quorin_handle_t handle);

template <void (*call)(quorin_handle_t)>
__attribute__((noinline)) void call_loop(uint64_t count, quorin_handle_t handle) {
    for (uint64_t i = 0; i < count; ++i) call(handle);
}

// The same loop without the call: what "net of the loop" takes away.
__attribute__((noinline)) void empty_loop(uint64_t count, quorin_handle_t handle) {
    for (uint64_t i = 0; i < count; ++i) asm volatile("" : : "r"(handle));
}

void measure(const char* name, loop_function loop) {
    dump_loop_runs(name, calls, [loop](uint64_t count) { loop(count, handle); });
}

}  // namespace

int main() {
    measure("empty", empty_loop);
    measure("unbound_core", call_loop<quorin_tracer_start>);
    measure("unbound_extension", call_loop<quorin_metric_delete>);
    const agent_session session;
    if (session.status() != QUORIN_STATUS_OK) {
        std::fprintf(stderr, "the benchmark agent could not be bound: 0x%X\n", session.status());
        return 1;
    }
    measure("bound_core", call_loop<quorin_tracer_start>);
    measure("bound_extension", call_loop<quorin_metric_delete>);
    return 0;
}
