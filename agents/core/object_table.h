// The objects behind the handles: a table of slots, each with its own lock, so that calls on
// different objects never wait for each other. A handle holds its slot's index in the low
// bits and the slot's generation above them: a handle is never given out twice while the
// module is loaded, and a stale or invented handle finds no object.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <type_traits>

#include "record_life.h"
#include "spin_lock.h"

namespace agent_core {

class object_table {
    struct slot;

  public:
    static constexpr unsigned index_bits = 24;
    // Most objects alive at once; a create beyond it yields the handle 0.
    static constexpr uint32_t capacity = (1u << index_bits) - 1;

    // The word that tells whether a handle's object is still live, to be checked again later
    // without looking the handle up: a slot lives as long as the table.
    using live_mark = const std::atomic<uint64_t>*;
    static bool live(live_mark mark, quorin_handle_t handle) {
        return mark->load(std::memory_order_acquire) == handle;
    }

    object_table() = default;
    ~object_table();
    object_table(const object_table&) = delete;
    object_table& operator=(const object_table&) = delete;

    // A live object, locked while this exists.
    class locked {
      public:
        locked() = default;
        locked(locked&& other) noexcept : slot_(other.slot_), table_(other.table_) {
            other.slot_ = nullptr;
        }
        locked& operator=(locked&& other) noexcept;
        ~locked() { unlock(); }
        explicit operator bool() const { return slot_ != nullptr; }
        object_record* operator->() const { return slot_->record; }
        object_record& operator*() const { return *slot_->record; }
        live_mark mark() const { return &slot_->handle; }
        void unlock() {
            if (slot_ != nullptr) slot_->lock.unlock();
            slot_ = nullptr;
        }
        // Removes the object from the table; its handle is dead from now on. keep(table,
        // index) keeps the object's index among the calling thread's spares (false: the
        // table frees it).
        template <typename Keep>
        record_ptr take(Keep keep) {
            slot* held = slot_;
            object_table* table = table_;
            record_ptr record(held->record);
            held->record = nullptr;
            held->handle.store(0, std::memory_order_release);
            // A slot whose generations are used up is retired, so that no handle repeats.
            const bool retired = held->generation == last_generation;
            unlock();
            if (retired) return record;
            const auto index = static_cast<uint32_t>(record->handle & index_mask) - 1;
            if (!keep(*table, index)) table->free_index(index);
            return record;
        }

      private:
        friend class object_table;
        locked(slot* held, object_table* table) : slot_(held), table_(table) {}
        slot* slot_ = nullptr;
        object_table* table_ = nullptr;
    };

    // Publishes the record under a new handle (written into it) and takes it over; 0, and the
    // record left with the caller, when the table is full. take(table, &index) takes the index
    // from the calling thread's spares (false: none is kept).
    template <typename Take>
    quorin_handle_t insert(record_ptr&& record, Take take) {
        uint32_t index = 0;
        if (!take(*this, &index) && !claim_shared_index(&index)) return 0;
        slot* target = at(index);
        std::lock_guard<spin_lock> hold(target->lock);
        const quorin_handle_t handle = ++target->generation << index_bits | (index + 1);
        record->handle = handle;
        target->record = record.release();
        target->handle.store(handle, std::memory_order_release);
        return handle;
    }
    // Empty when the handle names no live object.
    locked find(quorin_handle_t handle) {
        slot* found = live_slot(handle);
        return found != nullptr ? lock_holding(found, handle) : locked();
    }
    // The same for a handle whose live mark the caller kept, without looking the handle up.
    locked find(live_mark mark, quorin_handle_t handle) {
        // The mark is the first member of its slot.
        return lock_holding(reinterpret_cast<slot*>(const_cast<std::atomic<uint64_t>*>(mark)),
                            handle);
    }
    // Whether the handle names a live object, without taking its lock.
    bool live(quorin_handle_t handle) const { return live_slot(handle) != nullptr; }
    // Calls the function with every live object, locked (the agent's release).
    template <typename Function>
    void for_each(Function each) {
        const uint32_t used = used_.load(std::memory_order_acquire);
        for (uint32_t index = 0; index < used; ++index) {
            if (locked held = find_index(index)) each(held);
        }
    }
    // Makes the index of a removed object free for any thread.
    void free_index(uint32_t index);
    // Fork: every lock of the table, held across the fork.
    void lock_all();
    void unlock_all();

  private:
    // A cache line each, so that threads working on their own objects share none.
    struct alignas(64) slot {
        std::atomic<uint64_t> handle{0};  // 0 while free
        spin_lock lock;
        object_record* record = nullptr;
        uint64_t generation = 0;  // of the last handle it held
        std::atomic<uint32_t> next_free{0};
    };
    static_assert(std::is_standard_layout_v<slot>, "a live mark leads back to its slot");
    static constexpr unsigned chunk_bits = 10;
    static constexpr uint32_t chunk_size = 1u << chunk_bits;
    static constexpr uint32_t chunk_count = (capacity + chunk_size) / chunk_size;

    static constexpr uint64_t index_mask = (uint64_t{1} << index_bits) - 1;
    static constexpr uint64_t last_generation = (uint64_t{1} << (64 - index_bits)) - 1;
    slot* at(uint32_t index) const {
        // Every index below the high-water mark has its chunk.
        return &chunks_[index >> chunk_bits].load(
            std::memory_order_acquire)[index & (chunk_size - 1)];
    }
    // The slot that holds the handle's object at the moment, or null.
    slot* live_slot(quorin_handle_t handle) const {
        if ((handle & index_mask) == 0) return nullptr;
        const auto index = static_cast<uint32_t>(handle & index_mask) - 1;
        // A chunk is made before any of its slots is handed out and lives as long as the
        // table: a handle whose chunk is missing names nothing.
        slot* chunk = chunks_[index >> chunk_bits].load(std::memory_order_acquire);
        if (chunk == nullptr) return nullptr;
        slot* found = &chunk[index & (chunk_size - 1)];
        return found->handle.load(std::memory_order_acquire) == handle ? found : nullptr;
    }
    // The slot, locked, while it holds the handle's object; empty otherwise.
    locked lock_holding(slot* held, quorin_handle_t handle) {
        held->lock.lock();
        if (held->handle.load(std::memory_order_relaxed) != handle) {
            held->lock.unlock();
            return {};
        }
        return locked(held, this);
    }
    locked find_index(uint32_t index);
    // An index from the shared free list, else a fresh one; false when the table is full.
    bool claim_shared_index(uint32_t* index);

    std::atomic<slot*> chunks_[chunk_count] = {};
    std::atomic<uint32_t> used_{0};
    // Free indexes as a stack: (change count << 32) | (index + 1); 0 when empty.
    std::atomic<uint64_t> free_head_{0};
    std::mutex growth_;
};

}  // namespace agent_core
