// How text reaches the caller: bounded copies into fixed-width arrays, heap
// copies the caller frees, and lengths turned into per-item statuses.
#pragma once

#include <cstddef>
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

// Writes "<prefix><ns>/<key>" into a 256-byte location field with the
// semantics of copy_string, without building the text first.
void write_location(char (&location)[256], std::string_view ns, std::string_view key) noexcept;

}  // namespace velk
