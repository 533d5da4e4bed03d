// SPDX-License-Identifier: MIT
// What the fault layer does with one call: pass it on, answer it with a
// code, or hand it on without some of its items; and whether a delay ran
// first. The plan decides it when a program runs; velk-journal takes it
// from a journal's line to make the call again the same way.
#pragma once

#include <cstdint>

namespace velkfault {

struct Decision {
    enum Kind { Pass, FailCall, FailItem } kind = Pass;
    std::int32_t code = 0;       // FailCall: the result; FailItem: the item's status
    std::int32_t item = 0;       // FailItem: which item
    std::uint32_t delay_us = 0;  // how long a planned delay waited first; 0: none
};

// An item a batch is handed on without, and the status its record gets.
struct Drop {
    std::int32_t item;
    std::int32_t status;
};

}  // namespace velkfault
