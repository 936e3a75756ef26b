// Trace and span ids: a SplitMix64 sequence shared by all threads (one atomic addition per
// 64 bits), seeded from the operating system's entropy. Never returns a zero id. A fork child
// continues on a sequence of its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "otlp_model.h"

namespace otel {

class id_generator {
  public:
    id_generator();
    explicit id_generator(uint64_t seed);  // a known sequence, for tests
    ~id_generator();
    id_generator(const id_generator&) = delete;
    id_generator& operator=(const id_generator&) = delete;

    trace_id new_trace_id();
    span_id new_span_id();
    uint64_t next();  // never zero

    // A fresh seed from the system: for a fork child, whose copy of the sequence would
    // otherwise repeat its parent's ids.
    void reseed();
    // Mixes a value (a process id) into the state without asking the system for entropy:
    // what a fork child handler may do.
    void perturb(uint64_t salt);
    // Frees the place of the fork hook, for a generator a fork child abandons with its owner.
    void release_fork_hook();

  private:
    std::atomic<uint64_t> state_{0};
    int fork_hook_ = -1;  // perturbs the child's copy with its process id
};

}  // namespace otel
