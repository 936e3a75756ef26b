#include "utf.h"

#include <cstdint>

namespace {

constexpr char32_t replacement = 0xFFFD;
// What decode_utf8 gives for an ill-formed sequence (no code point has this value).
constexpr char32_t ill_formed = 0xFFFFFFFF;

class unit_sink16 {
  public:
    unit_sink16(char16_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
    void put(char16_t unit) {
        if (count_ < capacity_) out_[count_] = unit;
        ++count_;
    }
    void put_code_point(char32_t cp) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (cp >> 10)));
            put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            put(static_cast<char16_t>(cp));
        }
    }
    size_t count() const { return count_; }

  private:
    char16_t* out_;
    size_t capacity_;
    size_t count_ = 0;
};

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one well-formed sequence at text[i]; returns its length, or the length of the
// maximal ill-formed prefix (at least 1) with *cp set to ill_formed.
size_t decode_utf8(const unsigned char* text, size_t length, size_t i, char32_t* cp) {
    const unsigned char lead = text[i];
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    }
    size_t needed;
    unsigned char low = 0x80, high = 0xBF;
    char32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        *cp = ill_formed;
        return 1;
    }
    size_t used = 1;
    for (size_t k = 0; k < needed; ++k) {
        if (i + used >= length) break;
        const unsigned char next = text[i + used];
        const bool in_range = k == 0 ? (next >= low && next <= high) : is_continuation(next);
        if (!in_range) break;
        value = (value << 6) | (next & 0x3F);
        ++used;
    }
    *cp = used == needed + 1 ? value : ill_formed;
    return used;
}

class unit_sink8 {
  public:
    unit_sink8(char* out, size_t capacity) : out_(out), capacity_(capacity) {}
    void put(unsigned byte) {
        if (count_ < capacity_) out_[count_] = static_cast<char>(byte);
        ++count_;
    }
    void put_code_point(char32_t cp) {
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xC0 | (cp >> 6));
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | (cp >> 12));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | (cp >> 18));
            put(0x80 | ((cp >> 12) & 0x3F));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    }
    size_t count() const { return count_; }

  private:
    char* out_;
    size_t capacity_;
    size_t count_ = 0;
};

size_t decode_all(const char* text, size_t length, char16_t* out, size_t capacity,
                  bool mark_invalid) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    unit_sink16 sink(out, capacity);
    for (size_t i = 0; i < length;) {
        char32_t cp;
        const size_t used = decode_utf8(bytes, length, i, &cp);
        if (cp != ill_formed) {
            sink.put_code_point(cp);
        } else if (mark_invalid) {
            for (size_t k = 0; k < used; ++k)
                sink.put(static_cast<char16_t>(0xDC00 + bytes[i + k]));
        } else {
            sink.put_code_point(replacement);
        }
        i += used;
    }
    return sink.count();
}

}  // namespace

size_t utf8_to_utf16(const char* text, size_t length, char16_t* out, size_t capacity) {
    return decode_all(text, length, out, capacity, false);
}

size_t utf8_to_utf16_marking_invalid(const char* text, size_t length, char16_t* out,
                                     size_t capacity) {
    return decode_all(text, length, out, capacity, true);
}

bool utf16_well_formed(const char16_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const char16_t unit = text[i];
        if (unit < 0xD800 || unit > 0xDFFF) continue;
        if (unit > 0xDBFF || i + 1 == length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
            return false;
        }
        ++i;
    }
    return true;
}

size_t utf16_to_utf8(const char16_t* text, size_t length, char* out, size_t capacity) {
    unit_sink8 sink(out, capacity);
    for (size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = replacement;
        }
        sink.put_code_point(cp);
    }
    return sink.count();
}
