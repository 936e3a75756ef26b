#include "tracer_nesting.h"

namespace agent_core {

bool tracer_nesting::push_full(const nesting_entry& entry) {
    // Tracers that other threads ended may lie below open ones.
    uint32_t kept = 0;
    for (uint32_t i = 0; i < depth_; ++i) {
        if (live(entries_[i])) entries_[kept++] = entries_[i];
    }
    depth_ = kept;
    if (depth_ == depth_limit) return false;
    entries_[depth_++] = entry;
    return true;
}

void tracer_nesting::remove_below(quorin_handle_t handle) {
    for (uint32_t i = depth_ > 0 ? depth_ - 1 : 0; i > 0; --i) {
        if (entries_[i - 1].handle != handle) continue;
        for (uint32_t k = i; k < depth_; ++k) entries_[k - 1] = entries_[k];
        --depth_;
        return;
    }
}

const nesting_entry* tracer_nesting::find_below(quorin_handle_t handle) const {
    for (uint32_t i = depth_ > 0 ? depth_ - 1 : 0; i > 0; --i) {
        if (entries_[i - 1].handle == handle) return &entries_[i - 1];
    }
    return nullptr;
}

}  // namespace agent_core
