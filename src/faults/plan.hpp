// SPDX-License-Identifier: MIT
// The plan given at load in the VELKFAULT environment variable: rules
// separated by ';', each FUNCTION=CODE[@SKIP][xTIMES],
// FUNCTION[ITEM]=STATUS[@SKIP][xTIMES] or FUNCTION~MICROSECONDS.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velkfault {

struct PlannedRule {
    enum Kind { Fail, FailItem, Delay } kind = Fail;
    int function = -1;
    std::int32_t code = 0;  // the code, or the item's status
    std::int32_t item = 0;
    std::uint32_t skip = 0;
    std::uint32_t times = 0;
    std::uint32_t microseconds = 0;
};

// Parses the whole plan. On the first malformed rule, returns a message
// naming it (and leaves `rules` with what came before); empty on success.
std::string parse_plan(std::string_view text, std::vector<PlannedRule>& rules);

// Puts parsed rules into effect, in order (a later rule for a function
// replaces an earlier one). Returns the message for a rule the registry
// refuses, empty when all took.
std::string apply_plan(const std::vector<PlannedRule>& rules);

// The plan VELKFAULT gives, put into effect: an empty text when done (or
// none is given), else why it cannot be.
std::string plan_from_environment();

}  // namespace velkfault
