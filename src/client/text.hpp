// SPDX-License-Identifier: MIT
// How text reaches the caller: bounded copies into fixed-width arrays, heap
// copies the caller frees, and lengths turned into per-item statuses.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace velk {

// Copies at most capacity - 1 bytes of `source` (stopping at its NUL) into
// `destination`, zero-fills the rest and always NUL-terminates. A null
// destination or capacity 0 writes nothing; a null source counts as "".
void copy_string(char* destination, std::size_t capacity, const char* source) noexcept;
void copy_string(char* destination, std::size_t capacity, std::string_view source) noexcept;

// A malloc'ed copy of `source` with its NUL, for the caller to free(); null
// when malloc fails.
char* duplicate_string(const char* source) noexcept;
char* duplicate_string(std::string_view source) noexcept;

// A value length as a per-item status of the get family: clamped to INT_MAX.
int saturating_get_status(std::size_t length) noexcept;

// Writes "<prefix><ns>/<key>" into 256-byte location fields with the
// semantics of copy_string. Put and delete write one location per item, all
// in one namespace, so the part before the key is laid out once per batch,
// zero-filled to the full width; each item then costs one fixed-size copy of
// it (a few wide moves) plus a copy of its key.
class LocationWriter {
public:
    static constexpr std::size_t kWidth = 256;

    explicit LocationWriter(std::string_view ns) noexcept;

    void write(char (&location)[kWidth], std::string_view key) const noexcept {
        const std::size_t room = kWidth - 1 - head_length_;
        std::memcpy(location, head_, kWidth);
        std::memcpy(location + head_length_, key.data(), key.size() < room ? key.size() : room);
    }

private:
    char head_[kWidth];
    std::size_t head_length_;
};

}  // namespace velk
