// The tracers started on one thread and still open there, innermost last: the thread's next
// tracer starts under the innermost one. Only the owning thread changes its nesting.
#pragma once

#include <cstdint>

#include "object_table.h"
#include "trace_model.h"

namespace agent_core {

struct nesting_entry {
    quorin_handle_t handle;
    object_table::live_mark mark;  // of the handle
    quorin_handle_t root;
    trace_context context;
    uint32_t depth;
    tracer_kind kind;
    bool has_trace_state;  // the tracers inside it take its trace state
};

class tracer_nesting {
  public:
    // Nesting levels tracked per thread; a tracer started deeper is reported at that depth.
    static constexpr uint32_t depth_limit = 64;

    // The innermost open tracer of this thread, or null. Tracers that another thread ended
    // are dropped from the nesting here.
    const nesting_entry* current() {
        while (depth_ > 0 && !live(entries_[depth_ - 1])) --depth_;
        if (depth_ < depth_limit) depth_reported = false;
        return depth_ > 0 ? &entries_[depth_ - 1] : nullptr;
    }
    // False when depth_limit open tracers are held already.
    bool push(const nesting_entry& entry) {
        if (depth_ == depth_limit) return push_full(entry);
        entries_[depth_++] = entry;
        return true;
    }
    void remove(quorin_handle_t handle) {
        // Usually the innermost, but the application may end tracers out of order.
        if (depth_ > 0 && entries_[depth_ - 1].handle == handle) {
            --depth_;
        } else {
            remove_below(handle);
        }
    }
    // The entry of a tracer this thread started and holds in its nesting, or null; it may have
    // ended on another thread since.
    const nesting_entry* find(quorin_handle_t handle) const {
        // Usually the innermost.
        if (depth_ > 0 && entries_[depth_ - 1].handle == handle) return &entries_[depth_ - 1];
        return find_below(handle);
    }
    // Empty, for a thread that claims the state anew.
    void clear() {
        depth_ = 0;
        depth_reported = false;
    }

    bool depth_reported = false;  // the depth limit was reported since the nesting last fit

  private:
    static bool live(const nesting_entry& entry) {
        return object_table::live(entry.mark, entry.handle);
    }
    const nesting_entry* find_below(quorin_handle_t handle) const;
    void remove_below(quorin_handle_t handle);
    bool push_full(const nesting_entry& entry);

    nesting_entry entries_[depth_limit];
    uint32_t depth_ = 0;
};

}  // namespace agent_core
