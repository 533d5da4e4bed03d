// SPDX-License-Identifier: MIT
// What the cache mode is told: `on`, `off`, or rules NS=BYTES[:POLICY]
// separated by ';' (NS `*` for every namespace no rule names), and the seed
// of the random policy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faults/cache.hpp"

namespace velkfault::cache {

struct Rule {
    std::string ns;
    std::uint64_t capacity = 0;
    std::optional<Policy> policy;  // none: the declared one
};

struct Spec {
    bool off = false;
    std::vector<Rule> rules;  // a later rule for a name replaces an earlier one
    std::optional<Rule> others;

    // The rule for a namespace, or null: its declared settings apply.
    const Rule* rule_for(std::string_view ns) const noexcept;
};

// Parses a whole spec into `out`. On a malformed rule, returns a message
// naming it and leaves `out` as it was; empty on success.
std::string parse_spec(std::string_view text, Spec& out);

// VELKFAULT_SEED: a decimal number. Empty on success, else why not.
std::string parse_seed(std::string_view text, std::uint64_t& out);

}  // namespace velkfault::cache
