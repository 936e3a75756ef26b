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

#include "core_platform.h"
#include "ids.h"
#include "object_table.h"
#include "spin_lock.h"
#include "trace_model.h"

namespace agent_core {

struct nesting_entry {
    quorin_handle_t handle;
    object_table::live_mark mark;  // of the handle
    quorin_handle_t root;
    trace_context context;
    uint32_t depth;
    tracer_kind kind;
};

// Aligned to a cache line, so that two threads' states share none.
class alignas(64) thread_state {
  public:
    thread_state() = default;
    ~thread_state();
    thread_state(const thread_state&) = delete;
    thread_state& operator=(const thread_state&) = delete;

    // Nesting levels tracked per thread; a tracer started deeper is reported at that depth.
    static constexpr uint32_t depth_limit = 64;
    static constexpr unsigned text_buffer_count = 8;

    // The innermost open tracer of this thread, or null. Tracers that another thread ended
    // are dropped from the nesting here.
    const nesting_entry* current() {
        while (depth_ > 0 && !live(nesting_[depth_ - 1])) --depth_;
        if (depth_ < depth_limit) depth_reported = false;
        return depth_ > 0 ? &nesting_[depth_ - 1] : nullptr;
    }
    // False when depth_limit open tracers are held already.
    bool push(const nesting_entry& entry) {
        if (depth_ == depth_limit) return push_full(entry);
        nesting_[depth_++] = entry;
        return true;
    }
    void remove(quorin_handle_t handle) {
        // Usually the innermost, but the application may end tracers out of order.
        if (depth_ > 0 && nesting_[depth_ - 1].handle == handle) {
            --depth_;
        } else {
            remove_below(handle);
        }
    }
    // The entry of a tracer this thread started and holds in its nesting, or null; it may have
    // ended on another thread since.
    const nesting_entry* find(quorin_handle_t handle) const {
        // Usually the innermost.
        if (depth_ > 0 && nesting_[depth_ - 1].handle == handle) return &nesting_[depth_ - 1];
        return find_below(handle);
    }

    uint64_t claim() const { return claim_.load(std::memory_order_relaxed); }
    // Buffers for a call's texts, handed out in turn and emptied when handed out: a call
    // keeps up to text_buffer_count of them at once.
    std::string& next_text_buffer();

    id_generator ids;
    // Start order on this thread; a tracer's tree is always started on one thread.
    uint64_t sequence = 0;
    bool in_callback = false;
    bool depth_reported = false;  // the depth limit was reported since the nesting last fit

    // Spare records and free object indexes the thread keeps for itself, so that steady
    // tracing touches neither the shared pool nor the table's free list. They stay with the
    // state (a thread that claims it later uses them) and go back when the thread exits or
    // the agent is released. Only the owning thread takes and keeps them, without a lock: the
    // lock serializes only their giving back with a fork, and a fork child forgets the spares
    // of the threads it does not have, which may have been half changed (a few records and
    // indexes are lost to the child, never used twice).
    static constexpr unsigned spare_record_limit = 8;
    static constexpr unsigned spare_index_limit = 16;
    // Null when none is kept; the caller owns the record.
    object_record* take_record() {
        return spare_records_ > 0 ? spare_record_[--spare_records_] : nullptr;
    }
    // False when the thread keeps enough already.
    bool keep_record(object_record* record) {
        if (spare_records_ == spare_record_limit) return false;
        spare_record_[spare_records_++] = record;
        return true;
    }
    // Indexes are kept for one table.
    bool take_index(const object_table& objects, uint32_t* index) {
        if (spare_indexes_ == 0 || spare_index_table_ != &objects) return false;
        *index = spare_index_[--spare_indexes_];
        return true;
    }
    bool keep_index(const object_table& objects, uint32_t index) {
        if (spare_indexes_ == 0) spare_index_table_ = &objects;
        if (spare_indexes_ == spare_index_limit || spare_index_table_ != &objects) return false;
        spare_index_[spare_indexes_++] = index;
        return true;
    }

    // A copy of an info object (a web application's, a database's...) that this thread made
    // tracers from: info objects do not change while their handle lives, so a tracer copies
    // their attributes from here without locking the object that every thread shares. Null
    // when the handle names no such live object or no copy is kept.
    const object_record* info_copy(quorin_handle_t handle, object_kind kind) const {
        // Usually the copy found last time.
        const info_entry& last = infos_[last_info_];
        if (last.handle == handle && handle != 0 && last.copy->kind == kind) {
            return object_table::live(last.mark, handle) ? last.copy : nullptr;
        }
        return other_info_copy(handle, kind);
    }
    // Keeps a copy of the live info object, which the caller holds locked, and gives it; null
    // when the object is too large to be copied.
    const object_record* keep_info_copy(const object_table::locked& info);

    // The thread state of the calling thread, or null when it has none.
    static thread_state* bound();

  private:
    friend class thread_table;
    const nesting_entry* find_below(quorin_handle_t handle) const;
    const object_record* other_info_copy(quorin_handle_t handle, object_kind kind) const;
    static bool live(const nesting_entry& entry) {
        return object_table::live(entry.mark, entry.handle);
    }
    void remove_below(quorin_handle_t handle);
    bool push_full(const nesting_entry& entry);
    // Hands the spares back to the shared pool and the table, and frees the info copies.
    void give_back(object_table& objects);
    // In a fork child, for a state whose thread the child does not have: drops the spares
    // and the info copies without touching them.
    void forget_spares();
    // Claims made free again: the state's claim while its spares go back.
    static constexpr uint64_t retiring = UINT64_MAX;

    static constexpr unsigned info_copy_limit = 4;
    // Most text bytes of an info object that is copied.
    static constexpr size_t info_copy_text_limit = 4096;
    struct info_entry {
        quorin_handle_t handle = 0;
        object_table::live_mark mark = nullptr;  // of the handle
        object_record* copy = nullptr;
    };

    spin_lock spares_lock_;
    unsigned spare_records_ = 0;
    unsigned spare_indexes_ = 0;
    unsigned next_info_ = 0;
    mutable unsigned last_info_ = 0;  // the info copy found last
    const object_table* spare_index_table_ = nullptr;
    object_record* spare_record_[spare_record_limit];
    uint32_t spare_index_[spare_index_limit];
    info_entry infos_[info_copy_limit];
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
    // Fork: the spares' lock of every state, with the table's lock held. A spares' lock is
    // taken after a slot's lock of the object table and before the record pool's.
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
