// quorin_stub_xstrerror for any code at any capacity, with guard units after the buffer:
// nothing is written past the capacity (nor, for system codes, past 65535 units), the text is
// always terminated, an own text is zero-filled to the end of the buffer, and what is stored
// is the start of the full text (or of the fallback when a system text does not fit).
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "quorin.h"

namespace {

constexpr char16_t untouched = 0xA5A5;
constexpr size_t guard = 16;
constexpr size_t system_limit = 65535;
constexpr std::u16string_view fallback = u"Unknown error.";

bool own_code(uint32_t status) {
    return status == 0 || (status >= 0xAFFE0001 && status <= 0xAFFE000E);
}

quorin_status_t pick_status(fuzz_input& input) {
    const uint8_t kind = input.byte() % 4;
    const uint64_t number = input.number();
    switch (kind) {
        case 0:  // the own codes and their neighbours
            return 0xAFFE0000 + static_cast<uint32_t>(number % 17);
        case 1:  // system codes with texts
            return static_cast<uint32_t>(number % 200);
        case 2:
            return number % 2 == 0 ? 0 : 0xFFFFFFFF - static_cast<uint32_t>(number % 64);
        default:
            return static_cast<uint32_t>(number);
    }
}

std::u16string text_of(quorin_status_t status, size_t capacity) {
    std::vector<char16_t> buffer(capacity, untouched);
    quorin_stub_xstrerror(status, reinterpret_cast<quorin_wchar_t*>(buffer.data()), capacity);
    return buffer.data();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input input(data, size);
    const quorin_status_t status = pick_status(input);
    const uint8_t shape = input.byte();
    // Small capacities around the texts' lengths mostly, sometimes above the system limit.
    size_t capacity = input.number();
    capacity = (shape & 7) == 7 ? system_limit - 4 + capacity % 12 : capacity % 300;

    FUZZ_CHECK(quorin_stub_xstrerror(status, nullptr, capacity) == nullptr);

    std::vector<char16_t> buffer(capacity + guard, untouched);
    auto* const public_buffer = reinterpret_cast<quorin_wchar_t*>(buffer.data());
    FUZZ_CHECK(quorin_stub_xstrerror(status, public_buffer, capacity) == public_buffer);
    const size_t limit = own_code(status) ? capacity : std::min(capacity, system_limit);
    for (size_t i = limit; i < buffer.size(); ++i) FUZZ_CHECK(buffer[i] == untouched);
    if (capacity == 0) return 0;

    const auto end = std::find(buffer.begin(), buffer.begin() + limit, char16_t{0});
    FUZZ_CHECK(end != buffer.begin() + limit);
    const std::u16string stored(buffer.begin(), end);
    const std::u16string full = text_of(status, std::max<size_t>(capacity, 4096));
    FUZZ_CHECK(!full.empty());
    if (capacity == 1) {
        FUZZ_CHECK(stored.empty());
    } else if (own_code(status)) {
        FUZZ_CHECK(stored == full.substr(0, capacity - 1));
        for (auto i = end; i != buffer.begin() + capacity; ++i) FUZZ_CHECK(*i == 0);
    } else if (stored != full) {
        // A system text that does not fit gives way to the fallback, cut to fit.
        FUZZ_CHECK(full.size() + 1 >= limit);
        FUZZ_CHECK(stored == fallback.substr(0, limit - 1));
    }
    // A system text never ends in a line break.
    FUZZ_CHECK(full.back() != u'\n' && full.back() != u'\r');
    return 0;
}
