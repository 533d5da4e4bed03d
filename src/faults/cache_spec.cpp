// SPDX-License-Identifier: MIT
#include "faults/cache_spec.hpp"

#include <charconv>
#include <limits>

namespace velkfault::cache {
namespace {

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

// A number of bytes: decimal, with an optional KiB, MiB, GiB or TiB; at
// most INT64_MAX, the most a namespace's declared capacity can say.
bool parse_bytes(std::string_view text, std::uint64_t& out) {
    std::uint64_t number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || stop == text.data()) {
        return false;
    }
    const std::string_view unit(stop, static_cast<std::size_t>(end - stop));
    unsigned shift = 0;
    if (unit == "KiB") {
        shift = 10;
    } else if (unit == "MiB") {
        shift = 20;
    } else if (unit == "GiB") {
        shift = 30;
    } else if (unit == "TiB") {
        shift = 40;
    } else if (!unit.empty()) {
        return false;
    }
    constexpr auto kMost = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (number > (kMost >> shift)) {
        return false;
    }
    out = number << shift;
    return true;
}

std::string parse_rule(std::string_view text, Rule& rule) {
    const std::size_t equals = text.rfind('=');
    if (equals == std::string_view::npos) {
        return "expected on, off or NS=BYTES[:POLICY]";
    }
    rule.ns = std::string(trimmed(text.substr(0, equals)));
    if (rule.ns.empty()) {
        return "expected a namespace name (or *) before '='";
    }
    std::string_view rest = text.substr(equals + 1);
    const std::size_t colon = rest.find(':');
    if (!parse_bytes(trimmed(rest.substr(0, colon)), rule.capacity)) {
        return "expected a number of bytes (such as 1048576 or 1MiB) after '='";
    }
    if (colon != std::string_view::npos) {
        const std::string_view name = trimmed(rest.substr(colon + 1));
        const Policy policy = policy_named(name);
        if (policy == Policy::Unknown) {
            return "unknown policy '" + std::string(name) + "': expected lru, lfu, fifo or random";
        }
        rule.policy = policy;
    }
    return {};
}

}  // namespace

const Rule* Spec::rule_for(std::string_view ns) const noexcept {
    for (const Rule& rule : rules) {
        if (rule.ns == ns) {
            return &rule;
        }
    }
    return others ? &*others : nullptr;
}

std::string parse_spec(std::string_view text, Spec& out) {
    Spec spec;
    bool any = false;
    std::string_view alone;  // a rule that must be the only one
    while (!text.empty()) {
        const std::size_t end = text.find(';');
        const std::string_view item = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (item.empty()) {
            continue;  // "a;;b" and a trailing ';' are harmless
        }
        if (!alone.empty() || (item == "off" && any)) {
            return "rule 'off': off stands alone, with no other rule";
        }
        any = true;
        if (item == "on") {
            continue;
        }
        if (item == "off") {
            spec.off = true;
            alone = item;
            continue;
        }
        Rule rule;
        if (std::string problem = parse_rule(item, rule); !problem.empty()) {
            return "rule '" + std::string(item) + "': " + problem;
        }
        if (rule.ns == "*") {
            spec.others = std::move(rule);
            continue;
        }
        bool replaced = false;
        for (Rule& earlier : spec.rules) {
            if (earlier.ns == rule.ns) {
                earlier = rule;
                replaced = true;
            }
        }
        if (!replaced) {
            spec.rules.push_back(std::move(rule));
        }
    }
    if (!any) {
        return "no rule: expected on, off or NS=BYTES[:POLICY] rules separated by ';'";
    }
    out = std::move(spec);
    return {};
}

std::string parse_seed(std::string_view text, std::uint64_t& out) {
    const std::string_view number = trimmed(text);
    std::uint64_t seed = 0;
    const char* end = number.data() + number.size();
    const auto [stop, error] = std::from_chars(number.data(), end, seed);
    if (error != std::errc() || stop != end || number.empty()) {
        return "VELKFAULT_SEED '" + std::string(text) +
               "': expected a whole number from 0 to 18446744073709551615";
    }
    out = seed;
    return {};
}

}  // namespace velkfault::cache
