// SPDX-License-Identifier: MIT
// libFuzzer entry for velk-journal's reader and the replay's line decoder:
// the input is a journal, indexed, built call by call and replayed against
// the mock. A journal may be refused (with its line and why), never crash,
// hang or read outside the replay's own arrays.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "velk_journal/input.hpp"
#include "velk_journal/replay.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const velkjournal::Api mock = [] {
        // What one call may take: a journal may ask for room and waits that
        // no run of a fuzzer can give.
        velkjournal::Limits limits;
        limits.bytes = std::size_t{1} << 24;
        limits.delay_us = 1000;
        velkjournal::set_limits(limits);
        return velkjournal::load_library(VELKMOCK_FUZZ_MOCK);
    }();
    try {
        velkjournal::Journal journal(std::string_view(reinterpret_cast<const char*>(data), size), "input");
        velkjournal::replay(journal, mock, {}, false);
    } catch (const velkjournal::Trouble&) {
    }
    return 0;
}
