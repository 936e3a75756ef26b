#include "foundation/format.h"

namespace {

class writer {
  public:
    writer(char16_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
    void put(char16_t c) {
        if (count_ + 1 < capacity_) buffer_[count_] = c;
        ++count_;
    }
    size_t finish() {
        if (capacity_ > 0) buffer_[count_ < capacity_ ? count_ : capacity_ - 1] = 0;
        return count_;
    }

  private:
    char16_t* buffer_;
    size_t capacity_;
    size_t count_ = 0;
};

void put_number(writer& out, int64_t value, char conversion, bool zero_pad, size_t width) {
    uint64_t magnitude;
    bool negative = false;
    if (conversion == 'd') {
        negative = value < 0;
        magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    } else {
        magnitude = static_cast<uint32_t>(value);
    }
    const unsigned base = conversion == 'x' ? 16 : 10;
    char16_t digits[24];
    size_t n = 0;
    do {
        digits[n++] = u"0123456789abcdef"[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    const size_t length = n + (negative ? 1 : 0);
    if (!zero_pad)
        for (size_t i = length; i < width; ++i) out.put(u' ');
    if (negative) out.put(u'-');
    if (zero_pad)
        for (size_t i = length; i < width; ++i) out.put(u'0');
    while (n > 0) out.put(digits[--n]);
}

void put_text(writer& out, const char16_t* text, size_t width) {
    if (text == nullptr) text = u"(null)";
    size_t length = 0;
    while (text[length] != 0) ++length;
    for (size_t i = length; i < width; ++i) out.put(u' ');
    for (size_t i = 0; i < length; ++i) out.put(text[i]);
}

}  // namespace

size_t format_bounded(char16_t* buffer, size_t capacity, const char16_t* format,
                      const format_arg* args, size_t arg_count) {
    writer out(buffer, capacity);
    size_t next_arg = 0;
    for (const char16_t* p = format != nullptr ? format : u""; *p != 0; ++p) {
        if (*p != u'%') {
            out.put(*p);
            continue;
        }
        const char16_t* spec = p + 1;
        const bool zero_pad = *spec == u'0';
        if (zero_pad) ++spec;
        size_t width = 0;
        while (*spec >= u'0' && *spec <= u'9') width = width * 10 + (*spec++ - u'0');
        const char16_t conversion = *spec;
        if (conversion == u'%') {
            out.put(u'%');
        } else if (conversion == u's' || conversion == u'u' || conversion == u'd' ||
                   conversion == u'x') {
            if (next_arg < arg_count) {
                const format_arg& arg = args[next_arg];
                if (arg.is_text) {
                    put_text(out, arg.text, width);
                } else {
                    put_number(out, arg.number, conversion == u's' ? 'd' : char(conversion),
                               zero_pad, width);
                }
            }
            ++next_arg;
        } else {
            // Not a conversion we know: the text stays as written.
            out.put(u'%');
            continue;
        }
        p = spec;
    }
    return out.finish();
}
