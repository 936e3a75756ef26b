// Arguments and results of the exports as raw 64-bit patterns, so that one table of rows can
// call every export whatever its parameter types.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

// The bits a value of this width keeps.
inline uint64_t cut_to_width(uint64_t value, size_t width) {
    return width >= 8 ? value : value & ((uint64_t{1} << (8 * width)) - 1);
}

template <typename T>
T from_bits(uint64_t bits) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<uintptr_t>(bits));
    } else if constexpr (std::is_floating_point_v<T>) {
        return std::bit_cast<double>(bits);
    } else {
        return static_cast<T>(bits);
    }
}

template <typename T>
uint64_t to_bits(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<uintptr_t>(value);
    } else {
        return cut_to_width(static_cast<uint64_t>(value), sizeof(T));
    }
}

// Calls function with arguments[0..] converted to its parameter types; the result's bits, 0
// for none.
template <typename R, typename... P, size_t... I>
uint64_t invoke_with_bits(R (*function)(P...),
                          [[maybe_unused]] const std::vector<uint64_t>& arguments,
                          std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
        function(from_bits<P>(arguments.at(I))...);
        return 0;
    } else {
        return to_bits<R>(function(from_bits<P>(arguments.at(I))...));
    }
}
