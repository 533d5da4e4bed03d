// SPDX-License-Identifier: MIT
// A hint that a cache line is wanted soon. Written as a volatile asm rather
// than __builtin_prefetch: GCC 12 deletes builtin prefetches from loops
// whose only effect they are (a member function guarded by a size test, as
// the table's prefetch step is), leaving the step an empty function.
#pragma once

namespace velk {

inline void prefetch_line(const void* address) noexcept {
#if defined(__x86_64__)
    asm volatile("prefetcht0 (%0)" : : "r"(address));
#elif defined(__aarch64__)
    asm volatile("prfm pldl1keep, [%0]" : : "r"(address));
#else
    __builtin_prefetch(address);
#endif
}

}  // namespace velk
