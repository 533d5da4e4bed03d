// SPDX-License-Identifier: MIT
// Random call sequences over two handles, checked call by call against an
// independent model of the documented behaviour. Bounded for CI; set
// VELKMOCK_DIFF_SEEDS to run more sequences (and VELKMOCK_DIFF_FIRST_SEED to
// replay one that failed).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "differential.hpp"

namespace {

long from_env(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::strtol(text, nullptr, 10) : fallback;
}

}  // namespace

TEST(Differential, RandomCallSequencesMatchTheModel) {
    constexpr long kStepsPerSeed = 400;
    const long first = from_env("VELKMOCK_DIFF_FIRST_SEED", 1);
    const long seeds = from_env("VELKMOCK_DIFF_SEEDS", 150);
    for (long seed = first; seed < first + seeds; ++seed) {
        velk_model::SeededSource source(static_cast<uint64_t>(seed));
        const auto failure = velk_model::run_differential(source, kStepsPerSeed);
        ASSERT_FALSE(failure.has_value()) << "seed " << seed << ", " << *failure;
    }
    std::printf("differential: %ld random calls over %ld seeds matched the model\n", seeds * kStepsPerSeed,
                seeds);
}
