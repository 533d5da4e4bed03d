// SPDX-License-Identifier: MIT
// The keyed hash of the entry tables.
//
// Keys come from the program under test, and a test that feeds in keys built
// to collide must not turn every lookup into a walk of the whole table. An
// unkeyed hash (std::hash) lets colliding keys be computed once and reused
// against any process; here every table draws its own seed, and the seed
// enters every step of the mix, so keys that collide under another hash, or
// under another table's seed, are spread like any others.
//
// The mix is the multiply-and-fold construction (a 64x64->128 multiply whose
// halves are xored together) over 8-byte words, read unaligned, with the
// length folded in: a handful of cycles for the short keys tests use.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velk {

namespace hash_detail {

inline constexpr std::uint64_t kSecret0 = 0xa0761d6478bd642fULL;
inline constexpr std::uint64_t kSecret1 = 0xe7037ed1a0b428dbULL;
inline constexpr std::uint64_t kSecret2 = 0x8ebc6af09c88c6e3ULL;

// Every 64-bit target of GCC and Clang has it (x86-64: mul; AArch64: mul and
// umulh); __extension__ keeps -Wpedantic quiet about the non-ISO type.
__extension__ using Wide = unsigned __int128;

inline std::uint64_t fold(std::uint64_t a, std::uint64_t b) noexcept {
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

inline std::uint64_t read64(const unsigned char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::uint64_t read32(const unsigned char* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace hash_detail

// A seed for a new table. The addresses differ between runs and processes
// (address-space layout is randomised) and the counter between the tables of
// one handle; but a handle destroyed and made again gets the same addresses
// back and counts from the start, so the moment the seed is drawn goes in
// too (nanoseconds of the monotonic clock: no two tables of a process are
// made at the same one). The fold spreads their varying bits over the whole
// word. Nothing observable depends on it; it only decides where keys sit in
// the slot array.
inline std::uint64_t make_seed(const void* table, const void* slots, std::uint64_t counter) noexcept {
    using namespace hash_detail;
    const auto a = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(table));
    const auto b = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(slots));
    const auto c = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&make_seed));
    const auto t = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return fold(a ^ kSecret0, b ^ kSecret1) ^ fold(c ^ counter, t ^ kSecret2);
}

inline std::uint64_t keyed_hash(std::string_view key, std::uint64_t seed) noexcept {
    using namespace hash_detail;
    const auto* p = reinterpret_cast<const unsigned char*>(key.data());
    std::size_t n = key.size();
    std::uint64_t h = seed ^ fold(seed ^ kSecret0, n ^ kSecret1);
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (n <= 16) {
        if (n >= 4) {
            // Two overlapping reads from each end cover 4 to 16 bytes.
            const std::size_t mid = (n >> 3) << 2;
            a = (read32(p) << 32) | read32(p + mid);
            b = (read32(p + n - 4) << 32) | read32(p + n - 4 - mid);
        } else if (n > 0) {
            a = (std::uint64_t{p[0]} << 16) | (std::uint64_t{p[n >> 1]} << 8) | p[n - 1];
        }
    } else {
        while (n > 16) {
            h = fold(read64(p) ^ seed ^ kSecret1, read64(p + 8) ^ h);
            p += 16;
            n -= 16;
        }
        // The last 16 bytes, overlapping what came before.
        a = read64(p + n - 16);
        b = read64(p + n - 8);
    }
    // The seed sits in both operands of every fold, so no choice of key bytes
    // can zero one of them without knowing it.
    return fold(kSecret2 ^ key.size(), fold(a ^ seed ^ kSecret1, b ^ h));
}

}  // namespace velk
