#include "object_table.h"

namespace agent_core {

object_table::~object_table() {
    for (std::atomic<slot*>& chunk : chunks_) {
        slot* slots = chunk.load();
        if (slots == nullptr) continue;
        for (uint32_t i = 0; i < chunk_size; ++i) delete slots[i].record;
        delete[] slots;
    }
}

object_table::locked& object_table::locked::operator=(locked&& other) noexcept {
    if (this != &other) {
        unlock();
        slot_ = other.slot_, table_ = other.table_;
        other.slot_ = nullptr;
    }
    return *this;
}

bool object_table::claim_shared_index(uint32_t* index) {
    uint64_t head = free_head_.load(std::memory_order_acquire);
    while ((head & 0xFFFFFFFFu) != 0) {
        const auto top = static_cast<uint32_t>(head & 0xFFFFFFFFu) - 1;
        const uint64_t next = at(top)->next_free.load(std::memory_order_relaxed);
        const uint64_t replacement = ((head >> 32) + 1) << 32 | next;
        if (free_head_.compare_exchange_weak(head, replacement, std::memory_order_acquire)) {
            *index = top;
            return true;
        }
    }
    const uint32_t fresh = used_.load(std::memory_order_relaxed);
    if (fresh >= capacity) return false;
    std::lock_guard<std::mutex> hold(growth_);
    const uint32_t claimed = used_.load(std::memory_order_relaxed);
    if (claimed >= capacity) return false;
    std::atomic<slot*>& chunk = chunks_[claimed >> chunk_bits];
    if (chunk.load(std::memory_order_relaxed) == nullptr) {
        chunk.store(new slot[chunk_size], std::memory_order_release);
    }
    used_.store(claimed + 1, std::memory_order_release);
    *index = claimed;
    return true;
}

void object_table::free_index(uint32_t index) {
    slot* freed = at(index);
    uint64_t head = free_head_.load(std::memory_order_relaxed);
    do {
        freed->next_free.store(static_cast<uint32_t>(head & 0xFFFFFFFFu),
                               std::memory_order_relaxed);
    } while (!free_head_.compare_exchange_weak(head, ((head >> 32) + 1) << 32 | (index + 1),
                                               std::memory_order_release,
                                               std::memory_order_relaxed));
}

object_table::locked object_table::find_index(uint32_t index) {
    if (index >= used_.load(std::memory_order_acquire)) return {};
    slot* found = at(index);
    if (found->handle.load(std::memory_order_relaxed) == 0) return {};
    found->lock.lock();
    if (found->record == nullptr) {
        found->lock.unlock();
        return {};
    }
    return locked(found, this);
}

void object_table::lock_all() {
    growth_.lock();
    const uint32_t used = used_.load(std::memory_order_acquire);
    for (uint32_t index = 0; index < used; ++index) at(index)->lock.lock();
}

void object_table::unlock_all() {
    const uint32_t used = used_.load(std::memory_order_acquire);
    for (uint32_t index = 0; index < used; ++index) at(index)->lock.unlock();
    growth_.unlock();
}

}  // namespace agent_core
