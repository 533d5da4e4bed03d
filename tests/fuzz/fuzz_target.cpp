// SPDX-License-Identifier: MIT
// libFuzzer entry: the input bytes choose a call sequence, which is checked
// against the same model as the randomised differential test.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "differential.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velk_model::ByteSource source(data, size);
    if (const auto failure = velk_model::run_differential(source, 1L << 20)) {
        std::fprintf(stderr, "model divergence: %s\n", failure->c_str());
        std::abort();
    }
    return 0;
}
