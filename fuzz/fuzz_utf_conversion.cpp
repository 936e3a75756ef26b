// The POSIX backend's UTF-8 <-> UTF-16 conversions on any input at any capacity: the result
// length is the full one, the stored units are its start and nothing lands past the capacity;
// the output is always well-formed, well-formed input converts back to itself, and ill-formed
// input differs only where U+FFFD replaced it.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/platform.h"
#include "platform/posix/owned_utf.h"

namespace {

constexpr size_t guard = 16;

// Length of the well-formed UTF-8 sequence at text[i], or 0 when there is none.
size_t well_formed_utf8(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

bool is_well_formed_utf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = well_formed_utf8(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

bool is_high(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The text with every unpaired surrogate replaced by U+FFFD.
std::u16string with_lone_surrogates_replaced(std::u16string text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (is_high(text[i]) && i + 1 < text.size() && is_low(text[i + 1])) {
            ++i;
        } else if (is_high(text[i]) || is_low(text[i])) {
            text[i] = 0xFFFD;
        }
    }
    return text;
}

std::u16string to_utf16(const std::string& text) {
    std::u16string result(utf8_to_utf16(text.data(), text.size(), nullptr, 0), u'\0');
    FUZZ_CHECK(utf8_to_utf16(text.data(), text.size(), result.data(), result.size()) ==
               result.size());
    return result;
}

std::string to_utf8(const std::u16string& text) {
    std::string result(utf16_to_utf8(text.data(), text.size(), nullptr, 0), '\0');
    FUZZ_CHECK(utf16_to_utf8(text.data(), text.size(), result.data(), result.size()) ==
               result.size());
    return result;
}

// One conversion into a buffer of the given capacity with guard units behind it.
template <typename Out, typename In, typename Convert>
void check_bounded(const In& input, const std::basic_string<Out>& full, size_t capacity,
                   Convert convert) {
    const Out untouched = static_cast<Out>(0xA5);
    std::vector<Out> buffer(capacity + guard, untouched);
    FUZZ_CHECK(convert(input.data(), input.size(), buffer.data(), capacity) == full.size());
    const size_t stored = std::min(capacity, full.size());
    FUZZ_CHECK(std::equal(buffer.begin(), buffer.begin() + stored, full.begin()));
    for (size_t i = stored; i < buffer.size(); ++i) FUZZ_CHECK(buffer[i] == untouched);
}

void check_utf8_input(const std::string& bytes, size_t capacity) {
    const std::u16string converted = to_utf16(bytes);
    check_bounded(bytes, converted, capacity, utf8_to_utf16);
    FUZZ_CHECK(with_lone_surrogates_replaced(converted) == converted);
    if (is_well_formed_utf8(bytes)) {
        FUZZ_CHECK(to_utf8(converted) == bytes);
    } else {
        FUZZ_CHECK(converted.find(char16_t{0xFFFD}) != std::u16string::npos);
    }
    // The owned form stops at the first NUL and is terminated.
    const std::string terminated = bytes.substr(0, bytes.find('\0'));
    char16_t* owned = utf8_to_utf16_owned(terminated.c_str());
    FUZZ_CHECK(owned != nullptr && owned == to_utf16(terminated));
    platform_heap_release(owned);
}

void check_utf16_input(const std::u16string& units, size_t capacity) {
    const std::string converted = to_utf8(units);
    check_bounded(units, converted, capacity, utf16_to_utf8);
    FUZZ_CHECK(is_well_formed_utf8(converted));
    FUZZ_CHECK(to_utf16(converted) == with_lone_surrogates_replaced(units));
    const std::u16string terminated = units.substr(0, units.find(u'\0'));
    char* owned = utf16_to_utf8_owned(terminated.c_str());
    FUZZ_CHECK(owned != nullptr && owned == to_utf8(terminated));
    platform_heap_release(owned);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A byte choosing the direction, a byte for the capacity, then the text to convert.
    if (size < 2) return 0;
    const bool from_utf16 = (data[0] & 1) != 0;
    const size_t capacity = data[1];
    const uint8_t* text = data + 2;
    const size_t length = size - 2;
    if (!from_utf16) {
        check_utf8_input(std::string(reinterpret_cast<const char*>(text), length), capacity);
    } else {
        std::u16string units;
        for (size_t i = 0; i + 1 < length; i += 2) {
            units.push_back(static_cast<char16_t>(text[i] | text[i + 1] << 8));
        }
        check_utf16_input(units, capacity);
    }
    return 0;
}
