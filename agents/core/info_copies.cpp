#include "info_copies.h"

namespace agent_core {

const object_record* info_copies::find_other(quorin_handle_t handle, object_kind kind) const {
    for (unsigned i = 0; i < limit; ++i) {
        const entry& candidate = entries_[i];
        if (candidate.handle == handle && handle != 0 && candidate.copy->kind == kind) {
            last_ = i;
            return object_table::live(candidate.mark, handle) ? candidate.copy : nullptr;
        }
    }
    return nullptr;
}

const object_record* info_copies::keep(const object_table::locked& found) {
    const object_record& info = *found;
    if (info.text_bytes() > text_limit) return nullptr;
    last_ = next_++ % limit;
    entry& kept = entries_[last_];
    kept.handle = 0;
    // Tracers that share the old copy's attributes keep it.
    if (kept.copy != nullptr && kept.copy->shared_elsewhere()) {
        object_record::release_shared(kept.copy);
        kept.copy = nullptr;
    }
    if (kept.copy == nullptr) kept.copy = new object_record;
    kept.copy->reset(info.kind);
    kept.copy->handle = info.handle;
    kept.copy->add_all(info);
    kept.mark = found.mark();
    kept.handle = info.handle;
    return kept.copy;
}

void info_copies::release() {
    for (entry& kept : entries_) {
        object_record::release_shared(kept.copy);
        kept = entry{};
    }
}

void info_copies::forget() {
    for (entry& kept : entries_) kept = entry{};
}

}  // namespace agent_core
