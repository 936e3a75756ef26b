// Per-thread state: the tracers started on the thread and still open (its nesting), its id
// generator, whether it is inside one of the application's callbacks, and buffers for the
// texts of one call. The states live in a table the agent owns; a thread claims one at its
// first call and gives it up when it exits or when the agent is released, so a new thread
// never sees what an exited one left open, and the table is as large as the most threads that
// traced at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "ids.h"
#include "records.h"
#include "thread_binding.h"

namespace agent_core {

class object_table;

struct nesting_entry {
    quorin_handle_t handle;
    quorin_handle_t root;
    trace_context context;
    uint32_t depth;
    tracer_kind kind;
};

class thread_state {
  public:
    // Nesting levels tracked per thread; a tracer started deeper is reported at that depth.
    static constexpr uint32_t depth_limit = 64;
    static constexpr unsigned text_buffer_count = 8;

    // The innermost open tracer of this thread, or null. Tracers that another thread ended
    // are dropped from the nesting here.
    const nesting_entry* current(const object_table& objects);
    // False when depth_limit open tracers are held already.
    bool push(const nesting_entry& entry, const object_table& objects);
    void remove(quorin_handle_t handle);
    // The entry of a tracer this thread started and holds in its nesting, or null; it may have
    // ended on another thread since.
    const nesting_entry* find(quorin_handle_t handle) const;

    uint64_t claim() const { return claim_.load(std::memory_order_relaxed); }
    // Buffers for one call's texts, handed out in turn and emptied at each call's start.
    std::string& next_text_buffer();
    void start_call() { next_text_ = 0; }

    id_generator ids;
    // Start order on this thread; a tracer's tree is always started on one thread.
    uint64_t sequence = 0;
    bool in_callback = false;
    bool depth_reported = false;  // the depth limit was reported since the nesting last fit

  private:
    friend class thread_table;
    std::atomic<uint64_t> claim_{0};  // 0 while free
    nesting_entry nesting_[depth_limit];
    uint32_t depth_ = 0;
    std::string texts_[text_buffer_count];
    unsigned next_text_ = 0;
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
    // Frees the state of a thread that exits.
    void exited(thread_binding binding);
    // Frees every state (the agent's release); no call may run meanwhile.
    void free_all();
    // In a fork child: frees every state but the forking thread's, whose generator is reseeded.
    void keep_only_current(uint64_t seed);
    void set_seed(uint64_t seed) { seed_.store(seed, std::memory_order_relaxed); }
    // How many states the table holds: the most threads that traced at once, rounded up.
    size_t capacity();
    // Fork: the table's lock, held across the fork.
    void lock() { growth_.lock(); }
    void unlock() { growth_.unlock(); }

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
