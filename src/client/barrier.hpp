// The one exception barrier of the library. Every exported function runs its
// body through it, so no C++ exception ever crosses into a C caller. The only
// failures the store can meet are failures to obtain memory (bad_alloc, or
// length_error for a size no allocator could serve); the lock is held through
// RAII inside the body, so unwinding releases it before the barrier answers.
#pragma once

#include <exception>
#include <type_traits>

#include "velkmock.h"

namespace velk {

template <class Body>
auto guarded(Body&& body) noexcept -> decltype(body()) {
    using Result = decltype(body());
    try {
        return body();
    } catch (...) {
        if constexpr (std::is_pointer_v<Result>) {
            return nullptr;
        } else {
            return VELK_ERR_NO_MEMORY;
        }
    }
}

}  // namespace velk
