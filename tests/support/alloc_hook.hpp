// SPDX-License-Identifier: MIT
// Test-only control over every heap allocation of the test program and the
// library it loads: malloc, calloc, realloc and operator new are interposed
// in the test executable. While a window is open the hook counts
// allocations, can fail the Nth one, and remembers which blocks are still
// live, so a test can prove that a failed call leaked nothing.
#pragma once

#include <cstddef>

namespace alloc_hook {

struct Window {
    long allocations = 0;  // allocation attempts since the window opened
    long live = 0;         // blocks allocated in the window and not yet freed
    bool failed = false;   // the armed failure was delivered
};

// Opens a window; fail_at = N > 0 makes the Nth attempt return null (or throw
// std::bad_alloc from operator new). Only one window is open at a time.
void open(long fail_at = 0);
// Stops counting, failing and remembering new blocks; frees of the blocks
// remembered so far are still noted, so live can drop to zero later.
Window pause();
// Current figures of the window (tracking of frees continues until close).
Window peek();
// Ends the window entirely.
void close();

// RAII for the common case.
class Scope {
public:
    explicit Scope(long fail_at = 0) { open(fail_at); }
    ~Scope() { close(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    Window stop() { return pause(); }
};

}  // namespace alloc_hook
