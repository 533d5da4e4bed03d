// SPDX-License-Identifier: MIT
// The journal's JSON text, written without a library: the writer sits in
// every call of a program that runs with a journal, so it appends to one
// buffer and allocates nothing else.
//
// Texts are JSON strings when they are valid UTF-8 (controls, quotes and
// backslashes escaped) and {"base64": "..."} objects when they are not, so
// that any JSON reader gets every byte back. A value is {"length": N} and,
// by the journal's mode, "fnv1a64" (the FNV-1a hash of its bytes, 16 hex
// digits) or "base64" (the bytes themselves). Doubles are written so that
// they read back to the same bits: finite ones as the shortest number that
// does, infinities as "inf" and "-inf", a NaN as "nan" (the one a division
// by zero gives) or "nan:" and its 16 hex digits of bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velkfault::journal {

enum class Values { None, Hash, Full };

class Json {
public:
    std::string text;

    void open_object() { open('{'); }
    void close_object() { close('}'); }
    void open_array() { open('['); }
    void close_array() { close(']'); }
    // A member's name; its value follows.
    void key(std::string_view name);
    // A text, or null for a null pointer.
    void string(const char* value);
    void bytes(std::string_view value);
    void number(long long value);
    void unsigned_number(unsigned long long value);
    void real(double value);
    void boolean(bool value);
    void null();
    // A fixed-width text field of a record: up to its first NUL.
    void field(const char* chars, std::size_t width);
    // JSON written elsewhere, whole, as one value.
    void embed(std::string_view json);
    // A value of `count` parts (`lens` bytes each), written by `mode`.
    void value(const void* const* parts, const std::uint64_t* lens, std::int32_t count, Values mode);
    void value(const void* data, std::uint64_t length, Values mode);
    // Starts again, keeping the buffer's room.
    void clear() noexcept;

private:
    void open(char bracket);
    void close(char bracket);
    void before_value();
    // Per open bracket: nothing written in it yet. The journal's values
    // nest a few levels deep; deeper ones share the last level's flag.
    static constexpr int kDepth = 32;
    bool first_[kDepth] = {};
    int depth_ = 0;
    bool after_key_ = false;
};

// The length of the valid UTF-8 sequence of two bytes or more that
// begins `text`, or 0.
std::size_t utf8_sequence(std::string_view text) noexcept;

// Whether the bytes are valid UTF-8 (no overlong forms, no surrogates).
bool valid_utf8(std::string_view bytes) noexcept;

// Base64 (RFC 4648, with padding) of bytes given in pieces.
class Base64 {
public:
    explicit Base64(std::string& out) : out_(out) {}
    void add(const unsigned char* data, std::uint64_t length);
    void finish();

private:
    std::string& out_;
    unsigned char held_[3] = {};
    int count_ = 0;
};

// FNV-1a, 64 bits, over bytes given in parts.
class Fnv1a {
public:
    void add(const void* data, std::uint64_t length) noexcept;
    [[nodiscard]] std::uint64_t state() const noexcept { return state_; }
    [[nodiscard]] std::string hex() const;

private:
    std::uint64_t state_ = 14695981039346656037ULL;
};

// The text a double is written as, when it is not a plain number ("inf",
// "-inf", "nan", "nan:7ff8..."): empty for a finite one.
std::string non_finite_text(double value);

}  // namespace velkfault::journal
