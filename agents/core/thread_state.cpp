#include "thread_state.h"

namespace agent_core {
void thread_state::give_back(object_table& objects) {
    std::lock_guard<spin_lock> hold(give_back_lock_);
    spares.give_back(objects);
    infos.release();
}

thread_table::~thread_table() {
    for (chunk* block = first_.load(); block != nullptr;) {
        chunk* next = block->next.load();
        delete block;
        block = next;
    }
}

template <typename Function>
void thread_table::for_each(Function each) {
    for (chunk* block = first_.load(std::memory_order_acquire); block != nullptr;
         block = block->next.load(std::memory_order_acquire)) {
        for (thread_state& state : block->states) each(state);
    }
}

thread_state& thread_table::claim() {
    const uint64_t claim = next_claim_.fetch_add(1, std::memory_order_relaxed);
    thread_state* found = nullptr;
    for_each([&](thread_state& state) {
        uint64_t free = 0;
        if (found == nullptr && state.claim_.load(std::memory_order_relaxed) == 0 &&
            state.claim_.compare_exchange_strong(free, claim, std::memory_order_acq_rel)) {
            found = &state;
        }
    });
    if (found == nullptr) {
        auto* block = new chunk;
        found = &block->states[0];
        found->claim_.store(claim, std::memory_order_relaxed);
        std::lock_guard<std::mutex> hold(growth_);
        std::atomic<chunk*>* link = &first_;
        while (chunk* next = link->load(std::memory_order_relaxed)) link = &next->next;
        link->store(block, std::memory_order_release);
    }
    found->nesting.clear();
    found->in_callback = false;
    found->ids.seed(mix_bits(seed_.load(std::memory_order_relaxed) ^ mix_bits(claim)));
    bind_current_thread({found, claim});
    return *found;
}

size_t thread_table::capacity() {
    size_t states = 0;
    for_each([&](thread_state&) { ++states; });
    return states;
}

void thread_table::exited(thread_binding binding, object_table& objects) {
    // While the spares go back, no thread claims the state.
    uint64_t expected = binding.claim;
    if (!binding.state->claim_.compare_exchange_strong(expected, thread_state::retiring,
                                                       std::memory_order_acq_rel)) {
        return;
    }
    binding.state->give_back(objects);
    binding.state->claim_.store(0, std::memory_order_release);
}

void thread_table::free_all(object_table& objects) {
    for_each([&](thread_state& state) {
        state.texts.free();
        state.give_back(objects);
        state.claim_.store(0, std::memory_order_release);
    });
}

void thread_table::lock_spares() {
    for_each([](thread_state& state) { state.give_back_lock_.lock(); });
}

void thread_table::unlock_spares() {
    for_each([](thread_state& state) { state.give_back_lock_.unlock(); });
}

void thread_table::keep_only_current(uint64_t seed) {
    set_seed(seed);
    const thread_binding binding = current_thread_binding();
    for_each([&](thread_state& state) {
        if (&state == binding.state && state.claim_.load() == binding.claim) {
            state.ids.seed(mix_bits(seed ^ mix_bits(binding.claim)));
        } else {
            state.forget_spares();
            state.claim_.store(0, std::memory_order_relaxed);
        }
    });
}

}  // namespace agent_core
