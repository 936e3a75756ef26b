#include "bench_internals.h"

#include "config/options.h"
#include "foundation/spin_lock.h"
#include "quorin.h"
#include "support/variable_names.h"

extern "C" void bench_internals_fill_variables(uint32_t count) {
    quorin_stub_free_variables();
    for (uint32_t i = 0; i < count; ++i) {
        quorin_stub_set_variable(bench_variable(i).c_str(), 1);
    }
}

extern "C" uint32_t bench_internals_resolve_options() {
    options_record record{-1, 0, nullptr, {}};
    const uint32_t status = options_resolve(&record);
    options_reset(&record);
    return status;
}

extern "C" void bench_internals_lock(std::atomic<uint32_t>* lock) { spin_lock_acquire(lock); }

extern "C" void bench_internals_unlock(std::atomic<uint32_t>* lock) { spin_lock_release(lock); }
