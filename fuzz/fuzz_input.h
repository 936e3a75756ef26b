// Reads a fuzzer's input as a sequence of small values, so that seed inputs stay readable.
//
// A number is little-endian base 128: 7 bits per byte, the high bit set on every byte but the
// last. A text is a run of UTF-16 units ended by a 0x00 byte or by the end of the input: a
// byte stands for the unit of the same value, except 0xFF, which takes the next two bytes as
// one unit (high byte first) so that surrogates and every other unit can be reached. A text
// never holds a NUL unit: the library's texts are NUL-terminated. A byte text is the bytes up
// to a 0x00 byte or the end of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class fuzz_input {
  public:
    fuzz_input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }

    uint8_t byte() { return empty() ? 0 : data_[position_++]; }

    uint64_t number() {
        uint64_t value = 0;
        for (unsigned shift = 0; shift < 64 && !empty(); shift += 7) {
            const uint8_t b = byte();
            value |= uint64_t{b & 0x7Fu} << shift;
            if ((b & 0x80) == 0) break;
        }
        return value;
    }

    std::u16string text() {
        std::u16string result;
        while (!empty()) {
            const uint8_t b = byte();
            if (b == 0) break;
            char16_t unit = b;
            if (b == 0xFF) {
                const uint8_t high = byte();
                unit = static_cast<char16_t>(high << 8 | byte());
            }
            if (unit != 0) result.push_back(unit);
        }
        return result;
    }

    std::string bytes() {
        std::string result;
        for (uint8_t b = byte(); b != 0; b = byte()) result.push_back(static_cast<char>(b));
        return result;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// Stops the fuzzer with the input that broke a property, telling which.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
