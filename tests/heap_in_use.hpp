// Heap bytes the process has in use, for tests that check memory is given back: the count of
// the sanitizer's allocator when one replaces malloc, glibc's otherwise. (LeakSanitizer's
// runtime keeps no count and says 0: there its own check at exit stands in.)
#pragma once

#include <malloc.h>

#include <cstddef>

// Defined by every sanitizer runtime that brings its own allocator; null without one.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace tessel::test {

inline std::size_t heap_in_use() {
    if (__sanitizer_get_current_allocated_bytes != nullptr) return __sanitizer_get_current_allocated_bytes();
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;  // small blocks and mapped ones
}

}  // namespace tessel::test
