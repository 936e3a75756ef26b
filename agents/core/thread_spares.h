// Spare records and free object indexes a thread keeps for itself, so that steady tracing
// touches neither the shared record pool nor the object table's free list. Only the owning
// thread takes and keeps them, without a lock.
#pragma once

#include <cstdint>

namespace agent_core {

struct object_record;
class object_table;

class thread_spares {
  public:
    static constexpr unsigned record_limit = 8;
    static constexpr unsigned index_limit = 16;

    thread_spares() = default;
    ~thread_spares();
    thread_spares(const thread_spares&) = delete;
    thread_spares& operator=(const thread_spares&) = delete;

    // Null when none is kept; the caller owns the record.
    object_record* take_record() { return records_ > 0 ? record_[--records_] : nullptr; }
    // False when the thread keeps enough already.
    bool keep_record(object_record* record) {
        if (records_ == record_limit) return false;
        record_[records_++] = record;
        return true;
    }
    // Indexes are kept for one table.
    bool take_index(const object_table& objects, uint32_t* index) {
        if (indexes_ == 0 || index_table_ != &objects) return false;
        *index = index_[--indexes_];
        return true;
    }
    bool keep_index(const object_table& objects, uint32_t index) {
        if (indexes_ == 0) index_table_ = &objects;
        if (indexes_ == index_limit || index_table_ != &objects) return false;
        index_[indexes_++] = index;
        return true;
    }

    // Hands the records to the shared pool and the indexes back to the table.
    void give_back(object_table& objects);
    // Drops them without touching them: in a fork child, for a thread the child does not have,
    // which may have left them half changed (a few are lost to the child, never used twice).
    void forget() {
        records_ = indexes_ = 0;
        index_table_ = nullptr;
    }

  private:
    unsigned records_ = 0;
    unsigned indexes_ = 0;
    const object_table* index_table_ = nullptr;
    object_record* record_[record_limit];
    uint32_t index_[index_limit];
};

}  // namespace agent_core
