// The memory of an OTLP span: elements and texts one after the other, kept when the span is
// cleared, so that a span taken back from the pool is filled again without allocating.
// Appending is a bounds check and a copy; growing, rare once spans are reused, is out of line.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>

namespace otel {

template <typename element>
class reusable_buffer {
    static_assert(std::is_trivially_copyable_v<element>, "grown by copying");

  public:
    // Room for `count` elements that the caller writes before anything else is appended.
    element* extend(size_t count) {
        if (!fits(count)) grow(count);
        element* out = data_.get() + size_;
        size_ += count;
        return out;
    }
    bool fits(size_t count) const { return count <= capacity_ - size_; }
    // Keeps the first `count` elements.
    void truncate(size_t count) { size_ = std::min(size_, count); }
    size_t size() const { return size_; }
    element* data() const { return data_.get(); }
    size_t capacity_bytes() const { return capacity_ * sizeof(element); }
    // Forgets the elements; memory past retain_bytes is freed.
    void clear(size_t retain_bytes) {
        size_ = 0;
        if (capacity_bytes() > retain_bytes) {
            data_.reset();
            capacity_ = 0;
        }
    }

  private:
    void grow(size_t count);

    std::unique_ptr<element[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

template <typename element>
void reusable_buffer<element>::grow(size_t count) {
    const size_t capacity = std::max({size_ + count, 2 * capacity_, 256 / sizeof(element)});
    auto data = std::make_unique_for_overwrite<element[]>(capacity);
    std::copy_n(data_.get(), size_, data.get());
    data_ = std::move(data);
    capacity_ = capacity;
}

// Where a text lies in the span's arena.
struct text_ref {
    uint32_t offset = 0;
    uint32_t length = 0;
};

namespace text_copy_detail {
// The first and the last `chunk` bytes of a text of chunk to 2 * chunk bytes.
template <size_t chunk>
void copy_ends(char* out, const char* text, size_t size) {
    char head[chunk], tail[chunk];
    std::memcpy(head, text, chunk);
    std::memcpy(tail, text + size - chunk, chunk);
    std::memcpy(out, head, chunk);
    std::memcpy(out + size - chunk, tail, chunk);
}
}  // namespace text_copy_detail

// Writes text.size() bytes. Keys and values are mostly shorter than 32 bytes: those are copied
// in a few overlapping moves rather than through a call.
inline void copy_text(char* out, std::string_view text) {
    const char* in = text.data();
    const size_t size = text.size();
    if (size <= 16) {
        if (size >= 8) {
            text_copy_detail::copy_ends<8>(out, in, size);
        } else if (size >= 4) {
            text_copy_detail::copy_ends<4>(out, in, size);
        } else if (size != 0) {
            out[0] = in[0];
            out[size / 2] = in[size / 2];
            out[size - 1] = in[size - 1];
        }
    } else if (size <= 32) {
        text_copy_detail::copy_ends<16>(out, in, size);
    } else {
        std::memcpy(out, in, size);
    }
}

// The texts of one span, one after the other.
class text_arena {
  public:
    text_ref append(std::string_view text) {
        text_ref ref;
        copy_text(extend(text.size(), &ref), text);
        return ref;
    }
    // Two texts with one bounds check: an attribute's key and value.
    void append(std::string_view first, std::string_view second, text_ref* first_ref,
                text_ref* second_ref) {
        copy_text(extend_before(first.size(), second, first_ref, second_ref), first);
    }
    // Room for `size` bytes, which the caller writes at the pointer returned before anything
    // else is appended, followed by a text.
    char* extend_before(size_t size, std::string_view text, text_ref* room_ref,
                        text_ref* text_ref) {
        char* out = extend(size + text.size(), room_ref);
        room_ref->length = static_cast<uint32_t>(size);
        *text_ref = {room_ref->offset + room_ref->length, static_cast<uint32_t>(text.size())};
        copy_text(out + size, text);
        return out;
    }
    // Room for `size` bytes that the caller writes before anything else is appended.
    char* extend(size_t size, text_ref* ref) {
        // Texts past 4 GiB do not occur; offsets are 32-bit.
        *ref = {static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(size)};
        return bytes_.extend(size);
    }
    bool fits(size_t size) const { return bytes_.fits(size); }
    std::string_view view(text_ref ref) const { return {bytes_.data() + ref.offset, ref.length}; }
    size_t capacity_bytes() const { return bytes_.capacity_bytes(); }
    void clear(size_t retain_bytes) { bytes_.clear(retain_bytes); }

  private:
    reusable_buffer<char> bytes_;
};

extern template class reusable_buffer<char>;

}  // namespace otel
