// Makes one allocation of the library fail, and disarms it again when the scope ends even when
// the code under test made fewer allocations than expected.
// Unit tests only: it uses the platform layer of the internal library.
#pragma once

#include <cstdint>

#include "platform/platform.h"

class scoped_allocation_failure {
  public:
    // nth = 1: the next allocation fails.
    explicit scoped_allocation_failure(uint64_t nth) { platform_heap_fail_nth(nth); }
    ~scoped_allocation_failure() { platform_heap_fail_nth(0); }
    scoped_allocation_failure(const scoped_allocation_failure&) = delete;
    scoped_allocation_failure& operator=(const scoped_allocation_failure&) = delete;
};
