// Protocol buffers wire format, written straight into a byte string. Nested messages reserve
// one byte for their length and move their content only when it needs more (rare for the small
// messages inside a span), so no size pass is needed.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace otel {

class protobuf_writer {
  public:
    explicit protobuf_writer(std::string& out) : out_(out) {}

    enum wire : uint8_t { varint_wire = 0, fixed64_wire = 1, length_wire = 2, fixed32_wire = 5 };

    void tag(uint32_t field, wire type) { varint((uint64_t{field} << 3) | type); }

    void varint(uint64_t value) {
        char bytes[10];
        size_t n = 0;
        while (value >= 0x80) {
            bytes[n++] = static_cast<char>(value | 0x80);
            value >>= 7;
        }
        bytes[n++] = static_cast<char>(value);
        out_.append(bytes, n);
    }
    void fixed64(uint64_t value) {
        char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
        out_.append(bytes, 8);
    }

    // Fields; the *_field forms of proto3 scalars leave out the default value, as protobuf's
    // own encoders do.
    void varint_field(uint32_t field, uint64_t value) {
        if (value == 0) return;
        tag(field, varint_wire);
        varint(value);
    }
    void fixed64_field(uint32_t field, uint64_t value) {
        if (value == 0) return;
        tag(field, fixed64_wire);
        fixed64(value);
    }
    void bytes_field(uint32_t field, const void* data, size_t size) {
        if (size == 0) return;
        tag(field, length_wire);
        varint(size);
        out_.append(static_cast<const char*>(data), size);
    }
    void string_field(uint32_t field, std::string_view value) {
        bytes_field(field, value.data(), value.size());
    }
    // Present even when default: members of a oneof and optional fields.
    void always_string(uint32_t field, std::string_view value) {
        tag(field, length_wire);
        varint(value.size());
        out_.append(value.data(), value.size());
    }
    void always_varint(uint32_t field, uint64_t value) {
        tag(field, varint_wire);
        varint(value);
    }
    void always_fixed64(uint32_t field, uint64_t value) {
        tag(field, fixed64_wire);
        fixed64(value);
    }
    void always_double(uint32_t field, double value) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        always_fixed64(field, bits);
    }

    // A nested message: begin returns a mark that end takes.
    size_t begin(uint32_t field) {
        tag(field, length_wire);
        out_.push_back('\0');
        return out_.size();
    }
    void end(size_t mark) {
        const size_t length = out_.size() - mark;
        if (length < 0x80) {
            out_[mark - 1] = static_cast<char>(length);
            return;
        }
        char bytes[10];
        size_t n = 0;
        for (uint64_t value = length;; value >>= 7) {
            bytes[n++] = static_cast<char>(value >= 0x80 ? (value | 0x80) : value);
            if (value < 0x80) break;
        }
        out_.insert(mark, n - 1, '\0');
        std::memcpy(&out_[mark - 1], bytes, n);
    }

  private:
    std::string& out_;
};

}  // namespace otel
