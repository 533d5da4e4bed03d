// SPDX-License-Identifier: MIT
// The one exception barrier of the library. Every exported function that
// allocates runs its body through it, so the library's own failure, running
// out of memory, never crosses into a C caller: it becomes
// VELK_ERR_NO_MEMORY (or a null handle). The store meets no other failure of
// its own; sizes no allocator could serve are reported as std::bad_alloc too.
//
// Nothing else is caught, on purpose. A callback that ends its thread
// (pthread_exit, or cancellation while it waits) unwinds through here with
// glibc's forced unwinding, which must not be swallowed; a C++ exception that
// a caller's callback throws is the caller's own and goes back to it. Both
// pass through with the lock released, because every body holds the lock
// through RAII. So the barrier is deliberately not noexcept.
#pragma once

#include <new>
#include <type_traits>

#include "velkmock.h"

namespace velk {

template <class Body>
auto guarded(Body&& body) -> decltype(body()) {
    using Result = decltype(body());
    try {
        return body();
    } catch (const std::bad_alloc&) {
        if constexpr (std::is_pointer_v<Result>) {
            return nullptr;
        } else {
            return VELK_ERR_NO_MEMORY;
        }
    }
}

}  // namespace velk
