#include "id_generator.h"

#include "otel_platform.h"

#include <chrono>
#include <random>

namespace otel {

namespace {
constexpr uint64_t golden_gamma = 0x9E3779B97F4A7C15ull;

uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void store_big_endian(uint64_t value, uint8_t* out) {
    for (int i = 7; i >= 0; --i, value >>= 8) out[i] = static_cast<uint8_t>(value);
}
}  // namespace

id_generator::id_generator() : id_generator(0) { reseed(); }

id_generator::id_generator(uint64_t seed) : state_(seed) {
    fork_hook_ = fork_child_hook_add(
        [](void* self) { static_cast<id_generator*>(self)->perturb(current_process_id()); }, this);
}

id_generator::~id_generator() { release_fork_hook(); }

void id_generator::release_fork_hook() {
    fork_child_hook_remove(fork_hook_);
    fork_hook_ = -1;
}

void id_generator::reseed() {
    std::random_device entropy;
    uint64_t seed = (uint64_t{entropy()} << 32) ^ entropy();
    // The clock and an address keep two seeds apart even where the device is weak.
    seed ^= mix(static_cast<uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    seed ^= mix(reinterpret_cast<uintptr_t>(&seed));
    state_.store(seed, std::memory_order_relaxed);
}

void id_generator::perturb(uint64_t salt) {
    state_.fetch_xor(mix(salt + golden_gamma), std::memory_order_relaxed);
}

uint64_t id_generator::next() {
    for (;;) {
        const uint64_t value =
            mix(state_.fetch_add(golden_gamma, std::memory_order_relaxed) + golden_gamma);
        if (value != 0) return value;
    }
}

trace_id id_generator::new_trace_id() {
    trace_id id;
    store_big_endian(next(), id.bytes);
    store_big_endian(next(), id.bytes + 8);
    return id;
}

span_id id_generator::new_span_id() {
    span_id id;
    store_big_endian(next(), id.bytes);
    return id;
}

}  // namespace otel
