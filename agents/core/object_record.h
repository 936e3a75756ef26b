// One object behind a handle: a tracer, an info object or a metric. Records are reused with
// the memory they grew (record_life.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "trace_model.h"

namespace agent_core {

// Bytes appended one text after the other, as a record keeps its texts. Appending is inline:
// the application's texts are appended on nearly every call.
class text_buffer {
  public:
    text_buffer() = default;
    text_buffer(const text_buffer&) = delete;
    text_buffer& operator=(const text_buffer&) = delete;

    const char* data() const { return data_.get(); }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    std::string_view view() const { return {data_.get(), size_}; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }
    void append(const char* bytes, size_t count) {
        if (count == 0) return;
        if (count > capacity_ - size_) grow(count);
        std::memcpy(data_.get() + size_, bytes, count);
        size_ += count;
    }
    void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
    // Room for count more bytes at the end, to be written there and then kept with commit.
    char* tail(size_t count) {
        if (count > capacity_ - size_) grow(count);
        return data_.get() + size_;
    }
    void commit(size_t count) { size_ += count; }
    text_buffer& operator+=(const char* text) {
        append(text, std::strlen(text));
        return *this;
    }

  private:
    // Makes room for count more bytes, at least doubling.
    void grow(size_t count);

    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// What a record holds besides its texts; cleared in one step when the record is reused.
struct record_fields {
    object_kind kind = object_kind::tracer;
    quorin_handle_t handle = 0;

    // Tracers.
    tracer_kind tracer = tracer_kind::custom_service;
    bool started = false;
    bool has_parent = false;
    // The parent came with the tracer (an in-process link, an incoming tag): it wins over the
    // tracer that is current on the starting thread.
    bool explicit_parent = false;
    // The application gave the span its ids before its start: it keeps them.
    bool given_ids = false;
    // Open in the parent when this process was forked: the parent sends it, the child never.
    bool from_parent = false;
    end_state state = end_state::ended;
    trace_context context{};  // its trace; its own span once started
    span_id parent{};         // when has_parent
    uint64_t start_us = 0;    // microseconds since 1970-01-01 UTC
    uint64_t end_us = 0;
    uint64_t sequence = 0;      // start order on the starting thread
    uint32_t depth = 0;         // levels below its local root on the starting thread
    quorin_handle_t root = 0;   // that local root (itself for a root)
    uint64_t thread_claim = 0;  // the core's mark of the starting thread
    bool has_error = false;
    bool limit_reported = false;  // the core warned once that attributes are dropped

    // Metrics.
    metric_kind metric = metric_kind::counter;
    bool floating = false;
};

struct object_record : record_fields {
    // Most attributes one object keeps; later ones are counted in dropped_attributes().
    static constexpr size_t attribute_limit = 128;

    std::string operation_name;  // spans
    std::string error_type;
    std::string error_message;

    object_record() = default;
    ~object_record() { release_shared(shared_); }
    object_record(const object_record&) = delete;
    object_record& operator=(const object_record&) = delete;

    size_t attribute_count() const { return shared_count_ + attributes_.size(); }
    attribute_view attribute(size_t index) const {
        const bool shared = index < shared_count_;
        const object_record& owner = shared ? *shared_ : *this;
        const stored_attribute& entry = owner.attributes_[shared ? index : index - shared_count_];
        const char* texts = owner.texts_.data();
        return {entry.key,
                entry.type,
                {texts + entry.name_offset, entry.name_size},
                {texts + entry.text_offset, entry.text_size},
                entry.integer,
                entry.floating};
    }
    // The first attribute of that key, if any.
    const attribute_view* find(attribute_key key, attribute_view* out) const;
    uint32_t dropped_attributes() const { return dropped_; }
    size_t text_bytes() const { return texts_.size(); }
    size_t text_bytes_kept() const { return texts_.capacity(); }
    // Memory the record holds, its buffers' capacity included.
    size_t memory_bytes() const {
        return sizeof(object_record) + texts_.capacity() +
               attributes_.capacity() * sizeof(stored_attribute) + operation_name.capacity() +
               error_type.capacity() + error_message.capacity();
    }

    // Each returns false, and counts the attribute as dropped, when attribute_limit are held.
    bool add_text(attribute_key key, std::string_view text, std::string_view name = {});
    // An attribute whose name and text write_name(text_buffer&) and write_text(text_buffer&)
    // append to the record's texts: the application's texts are made printable on the way in,
    // without a copy between.
    template <typename WriteName, typename WriteText>
    bool add_written(attribute_key key, value_type type, WriteName write_name, WriteText write_text,
                     int64_t integer = 0, double floating = 0) {
        if (!make_room()) return false;
        const auto name_offset = static_cast<uint32_t>(texts_.size());
        write_name(texts_);
        const auto text_offset = static_cast<uint32_t>(texts_.size());
        write_text(texts_);
        attributes_.push_back({key, type, name_offset, text_offset - name_offset, text_offset,
                               static_cast<uint32_t>(texts_.size() - text_offset), integer,
                               floating});
        return true;
    }
    template <typename Write>
    bool add_written_text(attribute_key key, Write write) {
        return add_written(
            key, value_type::text, [](text_buffer&) {}, write);
    }
    bool add_integer(attribute_key key, int64_t value, std::string_view name = {}) {
        // Without a name, the usual case, nothing goes to the texts.
        if (!name.empty()) return store(key, value_type::integer, name, {}, value, 0);
        if (!make_room()) return false;
        const auto end = static_cast<uint32_t>(texts_.size());
        attributes_.push_back({key, value_type::integer, end, 0, end, 0, value, 0});
        return true;
    }
    bool add_channel(int32_t type, std::string_view endpoint);
    bool add(const attribute_view& value);
    // Every attribute of the other object (an info object's, for a tracer made from it).
    void add_all(const object_record& other);
    // The attributes of the other record, ahead of this one's own, without copying them: the
    // other holds a reference for this one until this one shares another's or is freed.
    // Only for a record without attributes yet, from one that holds its own only and no
    // longer changes while it is shared (see shared_elsewhere).
    [[gnu::always_inline]] void share_attributes(const object_record& other) {
        // A reused record usually shares them already.
        if (shared_ != &other) refer_to(other);
        shared_count_ = static_cast<uint32_t>(other.attributes_.size());
    }
    // Whether another record refers to this one's attributes, so that this one must not
    // change. Only its owner asks, and only its owner lets others refer to it.
    bool shared_elsewhere() const { return references_.load(std::memory_order_acquire) > 1; }
    // Gives up the owner's reference to a record made with new: the record is freed with the
    // last reference.
    static void release_shared(const object_record* record) {
        if (record != nullptr && record->references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete record;
        }
    }
    void add_dropped(uint64_t count);

    // Inline: every tracer's record is reset on the way in.
    void reset(object_kind new_kind) {
        // Everything but the memory the texts and the attribute list grew.
        static constexpr record_fields cleared{};
        static_cast<record_fields&>(*this) = cleared;
        kind = new_kind;
        operation_name.clear(), error_type.clear(), error_message.clear();
        attributes_.clear(), texts_.clear();
        dropped_ = 0;
        // The reference is kept: the next tracer is most likely made from the same record.
        shared_count_ = 0;
    }

  private:
    struct stored_attribute {
        attribute_key key;
        value_type type;
        uint32_t name_offset, name_size, text_offset, text_size;
        int64_t integer;
        double floating;
    };
    // False (counted as dropped) when attribute_limit are held.
    bool make_room() {
        if (attribute_count() < attribute_limit && attributes_.capacity() != 0) return true;
        return grow_or_drop();
    }
    bool grow_or_drop();
    // Takes a reference to the other record's attributes in place of the one held.
    void refer_to(const object_record& other);
    bool store(attribute_key key, value_type type, std::string_view name, std::string_view text,
               int64_t integer, double floating);

    std::vector<stored_attribute> attributes_;
    text_buffer texts_;  // the names and texts of the attributes, one after the other
    uint32_t dropped_ = 0;
    // Whose attributes come first, and how many of them; the reference outlives a reset.
    const object_record* shared_ = nullptr;
    uint32_t shared_count_ = 0;
    // The owner's and those of the records that share this one's attributes.
    mutable std::atomic<uint32_t> references_{1};
};

}  // namespace agent_core
