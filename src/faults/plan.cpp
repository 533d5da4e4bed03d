// SPDX-License-Identifier: MIT
#include "faults/plan.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "faults/registry.hpp"

namespace velkfault {
namespace {

// Reads a whole decimal number of type T from the front of `text`.
template <class T>
bool take_number(std::string_view& text, T& out) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;  // from_chars takes no '+'
    }
    const auto [stop, error] = std::from_chars(begin, end, out);
    if (error != std::errc() || stop == begin) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(stop - text.data()));
    return true;
}

std::string parse_rule(std::string_view rule, PlannedRule& out) {
    const std::size_t op = rule.find_first_of("=~[");
    if (op == std::string_view::npos || op == 0) {
        return "expected FUNCTION=CODE, FUNCTION[ITEM]=STATUS or FUNCTION~MICROSECONDS";
    }
    const std::string_view name = rule.substr(0, op);
    out.function = find_function(name);
    if (out.function < 0) {
        return "unknown function '" + std::string(name) + "'";
    }
    std::string_view rest = rule.substr(op);
    if (rest.front() == '~') {
        rest.remove_prefix(1);
        out.kind = PlannedRule::Delay;
        if (!take_number(rest, out.microseconds) || !rest.empty()) {
            return "expected a number of microseconds after '~'";
        }
        return {};
    }
    out.kind = PlannedRule::Fail;
    if (rest.front() == '[') {
        rest.remove_prefix(1);
        out.kind = PlannedRule::FailItem;
        if (!take_number(rest, out.item) || out.item < 0 || rest.empty() || rest.front() != ']') {
            return "expected an item number and ']' after '['";
        }
        rest.remove_prefix(1);
        if (rest.empty() || rest.front() != '=') {
            return "expected '=' after the item";
        }
    }
    rest.remove_prefix(1);  // '='
    if (!take_number(rest, out.code)) {
        return "expected a status code (a number) after '='";
    }
    if (!rest.empty() && rest.front() == '@') {
        rest.remove_prefix(1);
        if (!take_number(rest, out.skip)) {
            return "expected a number of calls to skip after '@'";
        }
    }
    if (!rest.empty() && rest.front() == 'x') {
        rest.remove_prefix(1);
        if (!take_number(rest, out.times)) {
            return "expected a number of times after 'x'";
        }
    }
    if (!rest.empty()) {
        return "unexpected '" + std::string(rest) + "' at the end";
    }
    return {};
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string parse_plan(std::string_view text, std::vector<PlannedRule>& rules) {
    while (!text.empty()) {
        const std::size_t end = text.find(';');
        const std::string_view rule = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (rule.empty()) {
            continue;  // "a;;b" and a trailing ';' are harmless
        }
        PlannedRule parsed;
        if (std::string problem = parse_rule(rule, parsed); !problem.empty()) {
            return "rule '" + std::string(rule) + "': " + problem;
        }
        rules.push_back(parsed);
    }
    return {};
}

std::string apply_plan(const std::vector<PlannedRule>& rules) {
    for (const PlannedRule& rule : rules) {
        int rc = 0;
        switch (rule.kind) {
            case PlannedRule::Fail:
                rc = set_fail(rule.function, rule.code, rule.skip, rule.times);
                break;
            case PlannedRule::FailItem:
                rc = set_fail_item(rule.function, rule.item, rule.code, rule.skip, rule.times);
                break;
            case PlannedRule::Delay:
                rc = set_delay(rule.function, rule.microseconds);
                break;
        }
        if (rc != 0) {
            const char* why = rule.kind == PlannedRule::FailItem
                                  ? "takes no per-item failures"
                                  : "returns nothing or a text, so it cannot fail";
            return std::string("rule for ") + kFunctions[rule.function].name + ": " + why;
        }
    }
    return {};
}

std::string plan_from_environment() {
    const char* text = std::getenv("VELKFAULT");
    if (text == nullptr) {
        return {};
    }
    std::vector<PlannedRule> rules;
    std::string problem = parse_plan(text, rules);
    // The refusal ends the process with _exit, which gcov cannot record:
    // run and checked by faults.preloaded_plans.
    if (problem.empty() && !rules.empty() && !in_front()) {  // GCOVR_EXCL_START
        // The calls would reach the library that comes first, never this
        // one: the plan could not take effect.
        return "plan cannot take effect: a library loaded before libvelkfault.so.0 defines the velk_ "
               "functions, so calls never reach it; load it first: LD_PRELOAD=\"libvelkfault.so.0 "
               "libvelkmock.so.0\"";
    }  // GCOVR_EXCL_STOP
    if (problem.empty()) {
        problem = apply_plan(rules);
    }
    return problem;
}

}  // namespace velkfault
