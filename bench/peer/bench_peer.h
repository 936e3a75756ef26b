// A shared library beside quorin with functions that do nothing, the same work as a slot of
// the benchmark agent: the baselines that every forwarder is measured against.
#pragma once

#include <cstdint>

extern "C" {

// Called directly, through the procedure linkage table, as an application calls a forwarder.
uint64_t bench_peer_nothing(uint64_t handle);

// A function of the shape of an agent slot (context first), to be called through a pointer.
using bench_peer_slot_function = uint64_t (*)(void* context, uint64_t handle);
bench_peer_slot_function bench_peer_slot();
}
