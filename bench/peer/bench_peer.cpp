#include "bench_peer.h"

namespace {
uint64_t nothing_slot(void*, uint64_t) { return 1; }
}  // namespace

extern "C" uint64_t bench_peer_nothing(uint64_t) { return 1; }

// The address of the function itself, not of a linkage stub.
extern "C" bench_peer_slot_function bench_peer_slot() { return nothing_slot; }
