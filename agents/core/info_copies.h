// Copies of the info objects (a web application's, a database's...) that one thread made
// tracers from: info objects do not change while their handle lives, so a tracer copies their
// attributes from here without locking the object that every thread shares. Only the owning
// thread changes the copies, so it reads them without a lock.
#pragma once

#include <cstddef>

#include "object_table.h"

namespace agent_core {

class info_copies {
  public:
    info_copies() = default;
    ~info_copies() { release(); }
    info_copies(const info_copies&) = delete;
    info_copies& operator=(const info_copies&) = delete;

    // The copy of the live info object of that handle and kind; null when the handle names no
    // such live object or no copy is kept.
    const object_record* find(quorin_handle_t handle, object_kind kind) const {
        // Usually the copy found last time.
        const entry& last = entries_[last_];
        if (last.handle == handle && handle != 0 && last.copy->kind == kind) {
            return object_table::live(last.mark, handle) ? last.copy : nullptr;
        }
        return find_other(handle, kind);
    }
    // Keeps a copy of the live info object, which the caller holds locked, and gives it; null
    // when the object is too large to be copied.
    const object_record* keep(const object_table::locked& info);

    // Frees the copies (those that tracers share live on with them).
    void release();
    // Drops them without touching them: in a fork child, for a thread the child does not have.
    void forget();

  private:
    static constexpr unsigned limit = 4;
    // Most text bytes of an info object that is copied.
    static constexpr size_t text_limit = 4096;
    struct entry {
        quorin_handle_t handle = 0;
        object_table::live_mark mark = nullptr;  // of the handle
        object_record* copy = nullptr;
    };
    const object_record* find_other(quorin_handle_t handle, object_kind kind) const;

    unsigned next_ = 0;
    mutable unsigned last_ = 0;  // the copy found last
    entry entries_[limit];
};

}  // namespace agent_core
