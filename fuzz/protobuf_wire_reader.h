// A generic reader of the protocol buffers wire format for the fuzz targets. It knows the four
// wire types and nothing of any message: the caller names the fields a message may hold, and
// reads the nested messages itself, so every length-delimited field it opens must hold an exact
// sequence of fields. Varints must be minimal, as a correct writer produces them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include "fuzz_input.h"

enum wire_type : uint8_t { varint_wire = 0, fixed64_wire = 1, length_wire = 2, fixed32_wire = 5 };

struct wire_field {
    uint32_t number;
    wire_type type;
    uint64_t value;          // varint and fixed fields
    std::string_view bytes;  // length-delimited fields
};

inline std::optional<uint64_t> read_varint(std::string_view& bytes) {
    uint64_t value = 0;
    for (unsigned shift = 0; shift < 64 && !bytes.empty(); shift += 7) {
        const auto b = static_cast<uint8_t>(bytes.front());
        bytes.remove_prefix(1);
        if (shift == 63 && b > 1) return std::nullopt;
        value |= uint64_t{b & 0x7Fu} << shift;
        if ((b & 0x80) == 0) {
            if (b == 0 && shift > 0) return std::nullopt;  // a needless trailing byte
            return value;
        }
    }
    return std::nullopt;
}

inline std::optional<uint64_t> read_fixed(std::string_view& bytes, size_t size) {
    if (bytes.size() < size) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value |= uint64_t{static_cast<uint8_t>(bytes[i])} << 8 * i;
    bytes.remove_prefix(size);
    return value;
}

// The fields of one message in order; nothing unless the bytes are exactly a run of fields.
inline std::optional<std::vector<wire_field>> read_wire_fields(std::string_view bytes) {
    std::vector<wire_field> fields;
    while (!bytes.empty()) {
        const auto tag = read_varint(bytes);
        if (!tag || (*tag >> 3) == 0 || (*tag >> 3) > 0x1FFFFFFF) return std::nullopt;
        wire_field field{static_cast<uint32_t>(*tag >> 3), static_cast<wire_type>(*tag & 7), 0, {}};
        std::optional<uint64_t> value;
        switch (field.type) {
            case varint_wire:
                value = read_varint(bytes);
                break;
            case fixed64_wire:
                value = read_fixed(bytes, 8);
                break;
            case fixed32_wire:
                value = read_fixed(bytes, 4);
                break;
            case length_wire:
                value = read_varint(bytes);
                if (!value || *value > bytes.size()) return std::nullopt;
                field.bytes = bytes.substr(0, *value);
                bytes.remove_prefix(*value);
                break;
            default:
                return std::nullopt;
        }
        if (!value) return std::nullopt;
        field.value = *value;
        fields.push_back(field);
    }
    return fields;
}

// A packed repeated fixed64 field's content.
inline std::vector<uint64_t> read_packed_fixed64(std::string_view bytes) {
    FUZZ_CHECK(bytes.size() % 8 == 0);
    std::vector<uint64_t> values;
    while (!bytes.empty()) values.push_back(*read_fixed(bytes, 8));
    return values;
}

// One message whose fields are all among those it is told (number and wire type).
class wire_message {
  public:
    struct known {
        uint32_t number;
        wire_type type;
    };

    wire_message(std::string_view bytes, std::initializer_list<known> fields) {
        auto read = read_wire_fields(bytes);
        FUZZ_CHECK(read.has_value());
        fields_ = std::move(*read);
        for (const wire_field& f : fields_) {
            bool expected = false;
            for (const known& k : fields) expected |= k.number == f.number && k.type == f.type;
            FUZZ_CHECK(expected);
        }
    }

    size_t size() const { return fields_.size(); }
    size_t count(uint32_t number) const {
        size_t n = 0;
        for (const wire_field& f : fields_) n += f.number == number;
        return n;
    }
    bool has(uint32_t number) const { return count(number) > 0; }
    // Every length-delimited field of the number, in order: nested messages or packed values.
    std::vector<std::string_view> all(uint32_t number) const {
        std::vector<std::string_view> found;
        for (const wire_field& f : fields_) {
            if (f.number == number) found.push_back(f.bytes);
        }
        return found;
    }
    // A singular field: at most once, and the default (0 or empty) when left out.
    uint64_t value(uint32_t number) const { return single(number).value; }
    std::string_view text(uint32_t number) const { return single(number).bytes; }

  private:
    wire_field single(uint32_t number) const {
        FUZZ_CHECK(count(number) <= 1);
        for (const wire_field& f : fields_) {
            if (f.number == number) return f;
        }
        return {number, varint_wire, 0, {}};
    }

    std::vector<wire_field> fields_;
};
