// SPDX-License-Identifier: MIT
// Temporary arrays of a batch call. Batches of up to N records, the common
// case, live on the stack and cost no allocation; larger ones take one heap
// block. The records are not cleared: every user writes each record whole
// (clearing first would cost a batch of one more than its work). A failed
// heap allocation is reported by ok() rather than by an exception, so callers
// can answer VELK_ERR_NO_MEMORY before they have touched anything; so is a
// byte size that does not fit in size_t, which must never wrap into a small
// block that the caller would then write `count` records into.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <type_traits>

namespace velk {

template <class T, std::size_t N>
class ScratchArray {
    static_assert(std::is_trivial_v<T>, "scratch records are plain C records");

public:
    explicit ScratchArray(std::size_t count) noexcept : data_(count <= N ? local_ : allocate(count)) {}
    ~ScratchArray() {
        if (data_ != local_) {
            std::free(data_);
        }
    }
    ScratchArray(const ScratchArray&) = delete;
    ScratchArray& operator=(const ScratchArray&) = delete;

    [[nodiscard]] bool ok() const noexcept { return data_ != nullptr; }
    [[nodiscard]] T* data() noexcept { return data_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }

private:
    static T* allocate(std::size_t count) noexcept {
        std::size_t bytes = 0;
        if (__builtin_mul_overflow(count, sizeof(T), &bytes)) {
            return nullptr;
        }
        return static_cast<T*>(std::malloc(bytes));
    }

    T local_[N];
    T* data_;
};

}  // namespace velk
