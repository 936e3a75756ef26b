// Per-thread state: the tracers started on the thread and still open (its nesting), its id
// generator, its spare records and indexes, its copies of info objects, whether it is inside
// one of the application's callbacks, and buffers for the texts of one call. The states live
// in a table the agent owns; a thread claims one at its first call and gives it up when it
// exits or when the agent is released, so a new thread never sees what an exited one left
// open, and the table is as large as the most threads that traced at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "call_texts.h"
#include "core_platform.h"
#include "ids.h"
#include "info_copies.h"
#include "object_table.h"
#include "spin_lock.h"
#include "thread_spares.h"
#include "tracer_nesting.h"

namespace agent_core {

// Aligned to a cache line, so that two threads' states share none.
class alignas(64) thread_state {
  public:
    thread_state() = default;
    thread_state(const thread_state&) = delete;
    thread_state& operator=(const thread_state&) = delete;

    uint64_t claim() const { return claim_.load(std::memory_order_relaxed); }
    // The thread state of the calling thread, or null when it has none. Inline: a record that
    // is dropped goes to the spares of the calling thread's state.
    static thread_state* bound() {
        const thread_binding binding = current_thread_binding();
        if (binding.state == nullptr ||
            binding.state->claim_.load(std::memory_order_acquire) != binding.claim) {
            return nullptr;
        }
        return binding.state;
    }

    id_generator ids;
    // Start order on this thread; a tracer's tree is always started on one thread.
    uint64_t sequence = 0;
    bool in_callback = false;
    // The spares and the info copies stay with the state (a thread that claims it later uses
    // them) and go back when the thread exits or the agent is released.
    thread_spares spares;
    info_copies infos;
    tracer_nesting nesting;
    call_texts texts;

  private:
    friend class thread_table;
    // Hands the spares back to the shared pool and the table, and frees the info copies.
    void give_back(object_table& objects);
    // In a fork child, for a state whose thread the child does not have: drops the spares
    // and the info copies without touching them.
    void forget_spares() {
        spares.forget();
        infos.forget();
    }
    // Claims made free again: the state's claim while its spares go back.
    static constexpr uint64_t retiring = UINT64_MAX;

    std::atomic<uint64_t> claim_{0};  // 0 while free
    // Serializes the giving back of the spares and the info copies with a fork: a fork child
    // finds them either here or back in place.
    spin_lock give_back_lock_;
};

class thread_table {
  public:
    thread_table() = default;
    ~thread_table();
    thread_table(const thread_table&) = delete;
    thread_table& operator=(const thread_table&) = delete;

    // The calling thread's state; claims a free one at the thread's first call.
    thread_state& current() {
        const thread_binding binding = current_thread_binding();
        if (binding.state != nullptr &&
            binding.state->claim_.load(std::memory_order_acquire) == binding.claim) {
            return *binding.state;
        }
        return claim();
    }
    // Frees the state of a thread that exits; its spares go back.
    void exited(thread_binding binding, object_table& objects);
    // Frees every state (the agent's release); no call may run meanwhile.
    void free_all(object_table& objects);
    // In a fork child: frees every state but the forking thread's, whose generator is reseeded.
    void keep_only_current(uint64_t seed);
    void set_seed(uint64_t seed) { seed_.store(seed, std::memory_order_relaxed); }
    // How many states the table holds: the most threads that traced at once, rounded up.
    size_t capacity();
    // Fork: the table's lock, held across the fork.
    void lock() { growth_.lock(); }
    void unlock() { growth_.unlock(); }
    // Fork: the give-back lock of every state, with the table's lock held. It is taken after
    // a slot's lock of the object table and before the record pool's.
    void lock_spares();
    void unlock_spares();

  private:
    static constexpr size_t chunk_size = 16;
    struct chunk {
        thread_state states[chunk_size];
        std::atomic<chunk*> next{nullptr};
    };
    thread_state& claim();
    template <typename Function>
    void for_each(Function each);

    std::atomic<chunk*> first_{nullptr};
    std::atomic<uint64_t> next_claim_{1};
    std::atomic<uint64_t> seed_{0};
    std::mutex growth_;
};

}  // namespace agent_core
