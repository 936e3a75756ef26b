// The library's own small bounded wide formatter, for texts with numbers and log messages.
// Conversions: %s (text; "(null)" for null), %u, %d, %x, with an optional '0' flag and width,
// and %% for a percent sign. It is the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

struct format_arg {
    constexpr format_arg(const char16_t* value) : text(value), number(0), is_text(true) {}
    constexpr format_arg(uint32_t value) : text(nullptr), number(value), is_text(false) {}
    constexpr format_arg(int32_t value) : text(nullptr), number(value), is_text(false) {}

    const char16_t* text;
    int64_t number;
    bool is_text;
};

// Stores at most capacity - 1 characters and a NUL (nothing when capacity is 0). Returns the
// length of the complete result without its NUL, whether or not it fitted.
size_t format_bounded(char16_t* buffer, size_t capacity, const char16_t* format,
                      const format_arg* args, size_t arg_count);
