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
// in one namespace, so the part before the key is laid out once per batch.
// The first location is written piece by piece; from the second on, the head
// is zero-filled to the full width once and each item costs one fixed-size
// copy of it plus a copy of its key. A batch of one pays for no more than it
// writes.
class LocationWriter {
public:
    static constexpr std::size_t kWidth = 256;

    explicit LocationWriter(std::string_view ns) noexcept;

    void write(char (&location)[kWidth], std::string_view key) noexcept {
        const std::size_t room = kWidth - 1 - head_length_;
        const std::size_t take = key.size() < room ? key.size() : room;
        if (written_ == 0) {
            std::memcpy(location, head_, head_length_);
            std::memcpy(location + head_length_, key.data(), take);
            std::memset(location + head_length_ + take, 0, kWidth - head_length_ - take);
            written_ = 1;
            return;
        }
        if (written_ == 1) {
            std::memset(head_ + head_length_, 0, kWidth - head_length_);
            written_ = 2;
        }
        std::memcpy(location, head_, kWidth);
        std::memcpy(location + head_length_, key.data(), take);
    }

private:
    char head_[kWidth];
    std::size_t head_length_;
    int written_ = 0;  // 0: none yet, 1: one, 2: the head is zero-filled
};

}  // namespace velk
