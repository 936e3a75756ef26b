#include "record_life.h"

#include <mutex>
#include <vector>

#include "kept_at_exit.h"
#include "spin_lock.h"
#include "thread_state.h"

namespace agent_core {
namespace {

// Spare records, kept up to a number and a size so that the pool stays small after a burst.
class record_pool {
  public:
    ~record_pool() {
        for (object_record* record : spares_) delete record;
    }

    object_record* take() {
        std::lock_guard<spin_lock> hold(lock);
        if (spares_.empty()) return nullptr;
        object_record* record = spares_.back();
        spares_.pop_back();
        kept_bytes_ -= record->memory_bytes();
        return record;
    }

    // Out of line: inlined into the recycler, it would have the recycler save registers on its
    // usual way, into the thread's spares.
    [[gnu::noinline]] void give(object_record* record) {
        // Records come back from every thread, and from an output's own thread in bursts: the
        // pool keeps them within a number and a size.
        if (record->text_bytes_kept() <= spare_text_bytes) {
            const size_t bytes = record->memory_bytes();
            std::lock_guard<spin_lock> hold(lock);
            if (spares_.size() < kept_records && kept_bytes_ + bytes <= pooled_record_bytes) {
                spares_.push_back(record);
                kept_bytes_ += bytes;
                return;
            }
        }
        delete record;
    }

    void trim() {
        std::vector<object_record*> spares;
        {
            std::lock_guard<spin_lock> hold(lock);
            spares.swap(spares_);
            kept_bytes_ = 0;
        }
        for (object_record* record : spares) delete record;
    }

    spin_lock lock;

  private:
    static constexpr size_t kept_records = 4096;
    std::vector<object_record*> spares_;
    size_t kept_bytes_ = 0;  // the memory the spares hold
};

kept_at_exit<record_pool> kept_pool;
record_pool& pool = kept_pool.value;

}  // namespace

void recycle_dropped_record(object_record* record) {
    thread_state* own = thread_state::bound();
    recycle_record(record, own != nullptr ? &own->spares : nullptr);
}

record_ptr new_pooled_record(object_kind kind) {
    object_record* record = pool.take();
    if (record == nullptr) {
        record = new object_record;
        record->kind = kind;
    } else {
        record->reset(kind);
    }
    return record_ptr(record);
}

void pool_record(object_record* record) { pool.give(record); }
void trim_record_pool() { pool.trim(); }
void lock_record_pool() { pool.lock.lock(); }
void unlock_record_pool() { pool.lock.unlock(); }

}  // namespace agent_core
