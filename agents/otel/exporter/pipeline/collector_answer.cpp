#include "collector_answer.h"

#include "utf.h"

namespace otel {

namespace {

// Just enough of the protobuf wire format to walk a message's fields.
class protobuf_reader {
  public:
    explicit protobuf_reader(std::string_view data) : data_(data) {}

    struct field {
        uint32_t number = 0;
        uint32_t wire = 0;
        uint64_t value = 0;      // varint and fixed fields
        std::string_view bytes;  // length-delimited fields
    };

    // The next field; false at the end, and for good once the data is malformed.
    bool next(field& out) {
        if (data_.empty() || broken_) return false;
        uint64_t key = 0;
        if (!varint(key) || (key >> 3) == 0 || (key >> 3) > 0x1FFFFFFF) return fail();
        out.number = static_cast<uint32_t>(key >> 3);
        out.wire = static_cast<uint32_t>(key & 7);
        switch (out.wire) {
            case 0:
                return varint(out.value) || fail();
            case 1:
                return skip(8, out) || fail();
            case 5:
                return skip(4, out) || fail();
            case 2: {
                uint64_t length = 0;
                if (!varint(length) || length > data_.size()) return fail();
                return skip(static_cast<size_t>(length), out);
            }
            default:  // groups are not used by these messages
                return fail();
        }
    }
    bool broken() const { return broken_; }

  private:
    bool varint(uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64 && !data_.empty(); shift += 7) {
            const auto byte = static_cast<uint8_t>(data_.front());
            data_.remove_prefix(1);
            value |= uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) return true;
        }
        return false;
    }
    bool skip(size_t n, field& out) {
        if (n > data_.size()) return false;
        out.bytes = data_.substr(0, n);
        data_.remove_prefix(n);
        return true;
    }
    bool fail() {
        broken_ = true;
        return false;
    }

    std::string_view data_;
    bool broken_ = false;
};

}  // namespace

std::optional<partial_success> read_partial_success(std::string_view body) {
    protobuf_reader response(body);
    protobuf_reader::field f;
    std::optional<partial_success> found;
    while (response.next(f)) {
        if (f.number != 1 || f.wire != 2) continue;
        partial_success part;
        protobuf_reader inner(f.bytes);
        protobuf_reader::field g;
        while (inner.next(g)) {
            if (g.number == 1 && g.wire == 0) part.rejected = g.value;
            if (g.number == 2 && g.wire == 2) part.message = cleaned_message(g.bytes);
        }
        if (inner.broken()) return std::nullopt;
        found = std::move(part);
    }
    if (response.broken()) return std::nullopt;
    return found;
}

std::string read_status_message(std::string_view body) {
    protobuf_reader status(body);
    protobuf_reader::field f;
    std::string message;
    while (status.next(f)) {
        if (f.number == 2 && f.wire == 2) message = cleaned_message(f.bytes);
    }
    return status.broken() ? std::string() : message;
}

std::string cleaned_message(std::string_view text, size_t limit) {
    // Each byte that is not part of UTF-8 arrives as a lone low surrogate.
    std::u16string units(utf8_to_utf16_marking_invalid(text.data(), text.size(), nullptr, 0), 0);
    utf8_to_utf16_marking_invalid(text.data(), text.size(), units.data(), units.size());
    std::string out;
    size_t fits = 0;  // the length at the last character that leaves room for "..."
    for (size_t i = 0; i < units.size();) {
        const char16_t unit = units[i];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size();
        char piece[4] = {' '};
        size_t size = 1;
        if (!pair && unit >= 0xD800 && unit <= 0xDFFF) {
            piece[0] = '?';
        } else if (unit >= 0x20 && (unit < 0x7F || unit > 0x9F)) {  // not a C0 or C1 control
            size = utf16_to_utf8(&units[i], pair ? 2 : 1, piece, sizeof piece);
        }
        if (out.size() + size > limit) {
            out.resize(fits);
            return out + "...";
        }
        out.append(piece, size);
        if (out.size() + 3 <= limit) fits = out.size();
        i += pair ? 2 : 1;
    }
    return out;
}

std::string host_of_location(std::string_view location) {
    const size_t scheme = location.find("://");
    if (scheme == std::string_view::npos) return {};
    std::string_view authority = location.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    return cleaned_message(authority, 100);
}

}  // namespace otel
