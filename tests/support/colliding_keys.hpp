// SPDX-License-Identifier: MIT
// Keys that all share one std::hash<std::string_view> value, as a hostile
// caller would precompute them. libstdc++ hashes a string_view with the
// 64-bit multiply-xorshift hash of its bytes (seed 0xc70f6907); each step of
// it is invertible, so for 16-byte keys any first word can be completed with
// a second word that drives the state to a chosen value. Second words with a
// NUL byte are skipped: keys are C texts. Shared by tests and benchmarks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace velk_test {

inline std::vector<std::string> colliding_keys(std::size_t count) {
    constexpr std::uint64_t kMul = (std::uint64_t{0xc6a4a793} << 32) + 0x5bd1e995;
    constexpr std::uint64_t kSeed = 0xc70f6907;
    // The multiplicative inverse of kMul modulo 2^64, by Newton's iteration.
    std::uint64_t inverse = kMul;
    for (int i = 0; i < 5; ++i) {
        inverse *= 2 - kMul * inverse;
    }
    const auto shift_mix = [](std::uint64_t v) {
        return v ^ (v >> 47);
    };
    const auto mix_word = [&](std::uint64_t word) {
        return shift_mix(word * kMul) * kMul;
    };
    // shift_mix is its own inverse for a shift of more than half the width.
    const auto unmix_word = [&](std::uint64_t mixed) {
        return shift_mix(mixed * inverse) * inverse;
    };

    const std::uint64_t start = kSeed ^ (16 * kMul);
    const std::uint64_t target = 0x0123456789abcdefULL;  // state after both words
    std::vector<std::string> keys;
    char first[9];
    for (std::uint64_t n = 0; keys.size() < count; ++n) {
        std::snprintf(first, sizeof first, "c%07llu", static_cast<unsigned long long>(n));
        std::uint64_t w1 = 0;
        std::memcpy(&w1, first, 8);
        const std::uint64_t after_first = (start ^ mix_word(w1)) * kMul;
        const std::uint64_t w2 = unmix_word((target * inverse) ^ after_first);
        char bytes[16];
        std::memcpy(bytes, &w1, 8);
        std::memcpy(bytes + 8, &w2, 8);
        if (std::memchr(bytes + 8, 0, 8) == nullptr) {
            keys.emplace_back(bytes, sizeof bytes);
        }
    }
    return keys;
}

}  // namespace velk_test
