#include "foundation/wstr.h"

#include "platform/platform.h"
#include "quorin.h"

char16_t* wstr_alloc(uint64_t n) {
    if (n > 0x7FFFFFFFFFFFFFFCull) return nullptr;
    auto* text = static_cast<char16_t*>(platform_heap_allocate(2 * n + 2));
    if (text != nullptr) text[0] = 0;
    return text;
}

void wstr_release(char16_t** slot) {
    if (slot == nullptr || *slot == nullptr) return;
    platform_heap_release(*slot);
    *slot = nullptr;
}

uint32_t wstr_assign(char16_t** slot, const char16_t* source) {
    if (slot == nullptr) return QUORIN_STATUS_INVALID_ARGUMENT;
    char16_t* copy = nullptr;
    if (source != nullptr) {
        copy = wstr_duplicate(source);
        if (copy == nullptr) return QUORIN_STATUS_OUT_OF_MEMORY;
    }
    wstr_release(slot);
    *slot = copy;
    return QUORIN_STATUS_OK;
}

char16_t* wstr_copy_bounded(char16_t* destination, const char16_t* source, uint64_t capacity) {
    if (capacity == 0 || destination == nullptr) return destination;
    if (source == nullptr) source = u"";
    uint64_t i = 0;
    for (; i + 1 < capacity && source[i] != 0; ++i) destination[i] = source[i];
    for (; i < capacity; ++i) destination[i] = 0;
    return destination;
}

namespace {
class bounded_writer {
  public:
    bounded_writer(char16_t* destination, uint64_t capacity)
        : destination_(destination), capacity_(capacity) {}
    void emit(char16_t c) {
        if (count_ < capacity_) destination_[count_] = c;
        ++count_;
    }
    uint64_t finish() {
        if (capacity_ > 0 && count_ >= capacity_) destination_[capacity_ - 1] = 0;
        return count_;
    }

  private:
    char16_t* destination_;
    uint64_t capacity_;
    uint64_t count_ = 0;
};
}  // namespace

uint64_t wstr_format_placeholders(char16_t* destination, uint64_t capacity,
                                  const char16_t* text_template, const char16_t* const* arguments,
                                  uint64_t argument_count) {
    bounded_writer out(destination, capacity);
    const char16_t* p = text_template != nullptr ? text_template : u"";
    for (;;) {
        const char16_t c = *p++;
        if (c != u'%') {
            out.emit(c);
            if (c == 0) break;
            continue;
        }
        const char16_t d = *p++;
        if (d >= u'0' && d <= u'9') {
            const uint64_t k = static_cast<uint64_t>(d - u'0');
            if (k < argument_count && arguments != nullptr && arguments[k] != nullptr) {
                for (const char16_t* a = arguments[k]; *a != 0; ++a) out.emit(*a);
            }
            continue;
        }
        out.emit(d);
        if (d == 0) break;
    }
    return out.finish();
}

size_t wstr_length(const char16_t* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

char16_t* wstr_duplicate(const char16_t* text) {
    const size_t n = wstr_length(text);
    char16_t* copy = wstr_alloc(n);
    if (copy == nullptr) return nullptr;
    for (size_t i = 0; i <= n; ++i) copy[i] = text[i];
    return copy;
}

namespace {
char16_t fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
}  // namespace

bool wstr_equal_ignore_case(const char16_t* a, const char16_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
        if (a[i] == 0) return true;
    }
    return true;
}
