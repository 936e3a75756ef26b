// Variables that are no option of the library, for filling a variable store.
#pragma once

#include <cstdint>
#include <string>

#include "quorin.h"

using bench_text = std::basic_string<quorin_wchar_t>;

inline bench_text bench_text_of(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// "bench_variable_42=value 42"
inline bench_text bench_variable(uint32_t index) {
    const std::string number = std::to_string(index);
    return bench_text_of("bench_variable_" + number + "=value " + number);
}
