#include "thread_state.h"

#include "object_table.h"

namespace agent_core {
namespace {

// The records of the core's objects pass through the calling thread's spares.
const bool record_spares_set = [] {
    set_thread_record_spares({[]() -> object_record* {
                                  thread_state* own = thread_state::bound();
                                  return own != nullptr ? own->take_record() : nullptr;
                              },
                              [](object_record* record) {
                                  thread_state* own = thread_state::bound();
                                  return own != nullptr && own->keep_record(record);
                              }});
    return true;
}();

}  // namespace

bool thread_state::push_full(const nesting_entry& entry) {
    // Tracers that other threads ended may lie below open ones.
    uint32_t kept = 0;
    for (uint32_t i = 0; i < depth_; ++i) {
        if (live(nesting_[i])) nesting_[kept++] = nesting_[i];
    }
    depth_ = kept;
    if (depth_ == depth_limit) return false;
    nesting_[depth_++] = entry;
    return true;
}

void thread_state::remove_below(quorin_handle_t handle) {
    for (uint32_t i = depth_ > 0 ? depth_ - 1 : 0; i > 0; --i) {
        if (nesting_[i - 1].handle != handle) continue;
        for (uint32_t k = i; k < depth_; ++k) nesting_[k - 1] = nesting_[k];
        --depth_;
        return;
    }
}

const nesting_entry* thread_state::find_below(quorin_handle_t handle) const {
    for (uint32_t i = depth_ > 0 ? depth_ - 1 : 0; i > 0; --i) {
        if (nesting_[i - 1].handle == handle) return &nesting_[i - 1];
    }
    return nullptr;
}

thread_state::~thread_state() {
    for (unsigned i = 0; i < spare_records_; ++i) delete spare_record_[i];
    for (info_entry& entry : infos_) object_record::release_shared(entry.copy);
}

thread_state* thread_state::bound() {
    const thread_binding binding = current_thread_binding();
    if (binding.state == nullptr ||
        binding.state->claim_.load(std::memory_order_acquire) != binding.claim) {
        return nullptr;
    }
    return binding.state;
}

const object_record* thread_state::other_info_copy(quorin_handle_t handle, object_kind kind) const {
    // Only this thread changes the copies, so it reads them without the lock.
    for (unsigned i = 0; i < info_copy_limit; ++i) {
        const info_entry& entry = infos_[i];
        if (entry.handle == handle && handle != 0 && entry.copy->kind == kind) {
            last_info_ = i;
            return object_table::live(entry.mark, handle) ? entry.copy : nullptr;
        }
    }
    return nullptr;
}

const object_record* thread_state::keep_info_copy(const object_table::locked& found) {
    const object_record& info = *found;
    if (info.text_bytes() > info_copy_text_limit) return nullptr;
    last_info_ = next_info_++ % info_copy_limit;
    info_entry& entry = infos_[last_info_];
    entry.handle = 0;
    // Tracers that share the old copy's attributes keep it.
    if (entry.copy != nullptr && entry.copy->shared_elsewhere()) {
        object_record::release_shared(entry.copy);
        entry.copy = nullptr;
    }
    if (entry.copy == nullptr) entry.copy = new object_record;
    entry.copy->reset(info.kind);
    entry.copy->handle = info.handle;
    entry.copy->add_all(info);
    entry.mark = found.mark();
    entry.handle = info.handle;
    return entry.copy;
}

void thread_state::give_back(object_table& objects) {
    // All under the lock, so that a fork finds the spares either here or back in place.
    std::lock_guard<spin_lock> hold(spares_lock_);
    for (unsigned i = 0; i < spare_records_; ++i) pool_record(spare_record_[i]);
    if (spare_index_table_ == &objects) {
        for (unsigned i = 0; i < spare_indexes_; ++i) objects.free_index(spare_index_[i]);
    }
    spare_records_ = spare_indexes_ = 0;
    for (info_entry& entry : infos_) {
        object_record::release_shared(entry.copy);
        entry = info_entry{};
    }
}

void thread_state::forget_spares() {
    spare_records_ = spare_indexes_ = 0;
    spare_index_table_ = nullptr;
    for (info_entry& entry : infos_) entry = info_entry{};
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
        for (std::string& text : state.texts_) std::string().swap(text);
        state.give_back(objects);
        state.claim_.store(0, std::memory_order_release);
    });
}

void thread_table::lock_spares() {
    for_each([](thread_state& state) { state.spares_lock_.lock(); });
}

void thread_table::unlock_spares() {
    for_each([](thread_state& state) { state.spares_lock_.unlock(); });
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
