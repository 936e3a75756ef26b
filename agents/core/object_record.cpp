#include "object_record.h"

#include <algorithm>

namespace agent_core {

void text_buffer::grow(size_t count) {
    const size_t needed = size_ + count;
    size_t larger = capacity_ < 32 ? 64 : 2 * capacity_;
    if (larger < needed) larger = needed;
    std::unique_ptr<char[]> grown(new char[larger]);
    if (size_ != 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = larger;
}

const attribute_view* object_record::find(attribute_key key, attribute_view* out) const {
    for (size_t i = 0; i < shared_count_; ++i) {
        if (shared_->attributes_[i].key == key) {
            *out = attribute(i);
            return out;
        }
    }
    for (size_t i = 0; i < attributes_.size(); ++i) {
        if (attributes_[i].key == key) {
            *out = attribute(shared_count_ + i);
            return out;
        }
    }
    return nullptr;
}

bool object_record::grow_or_drop() {
    if (attribute_count() >= attribute_limit) {
        add_dropped(1);
        return false;
    }
    if (attributes_.capacity() == 0) attributes_.reserve(16);
    return true;
}

void object_record::refer_to(const object_record& other) {
    other.references_.fetch_add(1, std::memory_order_relaxed);
    release_shared(shared_);
    shared_ = &other;
}

bool object_record::store(attribute_key key, value_type type, std::string_view name,
                          std::string_view text, int64_t integer, double floating) {
    if (!make_room()) return false;
    const auto name_offset = static_cast<uint32_t>(texts_.size());
    if (!name.empty()) texts_.append(name);
    const auto text_offset = static_cast<uint32_t>(texts_.size());
    if (!text.empty()) texts_.append(text);
    attributes_.push_back({key, type, name_offset, static_cast<uint32_t>(name.size()), text_offset,
                           static_cast<uint32_t>(text.size()), integer, floating});
    return true;
}

bool object_record::add_text(attribute_key key, std::string_view text, std::string_view name) {
    return store(key, value_type::text, name, text, 0, 0);
}

bool object_record::add_channel(int32_t type, std::string_view endpoint) {
    return store(attribute_key::channel, value_type::channel, {}, endpoint, type, 0);
}

bool object_record::add(const attribute_view& value) {
    return store(value.key, value.type, value.name, value.text, value.integer, value.floating);
}

void object_record::add_all(const object_record& other) {
    // A tracer made from an info object, in a record that held attributes before, takes the
    // first branch only.
    const bool fresh = attribute_count() == 0 && texts_.empty();
    if (!fresh || other.shared_count_ != 0 || attributes_.capacity() < other.attributes_.size()) {
        if (other.shared_count_ != 0 ||
            attribute_count() + other.attributes_.size() > attribute_limit) {
            for (size_t i = 0; i < other.attribute_count(); ++i) add(other.attribute(i));
            return;
        }
        if (attributes_.capacity() == 0) attributes_.reserve(16);
    }
    if (fresh) {
        // Both in one block each.
        texts_.append(other.texts_.view());
        attributes_.assign(other.attributes_.begin(), other.attributes_.end());
        return;
    }
    // The other's texts in one piece, its entries moved along with them.
    const auto shift = static_cast<uint32_t>(texts_.size());
    texts_.append(other.texts_.view());
    attributes_.reserve(std::max<size_t>(16, attributes_.size() + other.attributes_.size()));
    for (stored_attribute entry : other.attributes_) {
        entry.name_offset += shift;
        entry.text_offset += shift;
        attributes_.push_back(entry);
    }
}

void object_record::add_dropped(uint64_t count) {
    const uint64_t total = dropped_ + count;
    dropped_ = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}

}  // namespace agent_core
