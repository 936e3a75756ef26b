#include "thread_state.h"

#include "object_table.h"

namespace agent_core {

const nesting_entry* thread_state::current(const object_table& objects) {
    while (depth_ > 0 && !objects.live(nesting_[depth_ - 1].handle)) --depth_;
    if (depth_ < depth_limit) depth_reported = false;
    return depth_ > 0 ? &nesting_[depth_ - 1] : nullptr;
}

bool thread_state::push(const nesting_entry& entry, const object_table& objects) {
    if (depth_ == depth_limit) {
        // Tracers that other threads ended may lie below open ones.
        uint32_t kept = 0;
        for (uint32_t i = 0; i < depth_; ++i) {
            if (objects.live(nesting_[i].handle)) nesting_[kept++] = nesting_[i];
        }
        depth_ = kept;
        if (depth_ == depth_limit) return false;
    }
    nesting_[depth_++] = entry;
    return true;
}

void thread_state::remove(quorin_handle_t handle) {
    // Usually the innermost, but the application may end tracers out of order.
    for (uint32_t i = depth_; i > 0; --i) {
        if (nesting_[i - 1].handle != handle) continue;
        for (uint32_t k = i; k < depth_; ++k) nesting_[k - 1] = nesting_[k];
        --depth_;
        return;
    }
}

const nesting_entry* thread_state::find(quorin_handle_t handle) const {
    for (uint32_t i = depth_; i > 0; --i) {
        if (nesting_[i - 1].handle == handle) return &nesting_[i - 1];
    }
    return nullptr;
}

std::string& thread_state::next_text_buffer() {
    std::string& buffer = texts_[next_text_++ % text_buffer_count];
    buffer.clear();
    return buffer;
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
    found->depth_ = 0;
    found->in_callback = false;
    found->depth_reported = false;
    found->ids.seed(mix_bits(seed_.load(std::memory_order_relaxed) ^ mix_bits(claim)));
    bind_current_thread({found, claim});
    return *found;
}

size_t thread_table::capacity() {
    size_t states = 0;
    for_each([&](thread_state&) { ++states; });
    return states;
}

void thread_table::exited(thread_binding binding) {
    uint64_t expected = binding.claim;
    binding.state->claim_.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
}

void thread_table::free_all() {
    for_each([](thread_state& state) {
        for (std::string& text : state.texts_) std::string().swap(text);
        state.claim_.store(0, std::memory_order_release);
    });
}

void thread_table::keep_only_current(uint64_t seed) {
    set_seed(seed);
    const thread_binding binding = current_thread_binding();
    for_each([&](thread_state& state) {
        if (&state == binding.state && state.claim_.load() == binding.claim) {
            state.ids.seed(mix_bits(seed ^ mix_bits(binding.claim)));
        } else {
            state.claim_.store(0, std::memory_order_relaxed);
        }
    });
}

}  // namespace agent_core
