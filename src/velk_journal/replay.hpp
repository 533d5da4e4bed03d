// SPDX-License-Identifier: MIT
// velk-journal's replay: makes the calls of a journal again, in the order
// they began, against a library, each through the fault layer with the
// effect the journal recorded for it (a plan's answer, a dropped item, a
// delay), and compares every answer with the recorded one.
//
// Calls the library made of itself (inside another, "within") are not made
// again: the library makes them again inside the outer call, and velk-
// journal, which defines the 28 functions itself, stands in front of them
// as libvelkfault did, applying the plan's effect the journal recorded for
// each. Handles belong to their process; a handle a forked child inherited
// is, for a library that keeps its store in the process, a copy of the
// parent's taken when the child was forked (the calls made on it before
// the fork are made on the copy too), and for a store kept in a server the
// same store.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "faults/functions.hpp"
#include "velk_journal/input.hpp"
#include "velkmock.h"

namespace velkjournal {

// Member names (of answers, for --ignore).
using Names = std::set<std::string, std::less<>>;

// The library replayed against: its 28 functions, and the shared store's
// own calls when it is one.
struct Api {
    std::string file;
    void* functions[velkfault::kFunctionCount] = {};
    int (*shared_clear)(const char*, const char*) = nullptr;
    const char* (*last_error)() = nullptr;
};
// Loads the library ("mock", "shared" or a path); a Trouble when it cannot
// be used.
Api load_library(const std::string& which);

// What a replay found.
struct Verdict {
    std::size_t replayed = 0;
    std::size_t planned = 0;   // made with their plan's effect
    std::size_t diverged = 0;  // calls with at least one difference
    // Per call (by seq), each difference.
    std::map<std::uint64_t, std::vector<std::string>> differences;
};

// Replays the whole journal; divergences are printed as they are found
// when `print` is set. A Trouble when the journal or the library cannot be
// used.
Verdict replay(Journal& journal, const Api& api, const Names& ignore, bool print);

// How much a replay may take of the machine for one call: the room its
// arguments need, and the delay its plan asks for. Beyond them a call is
// refused (a fuzzer's journals would take the machine). No limit unless
// set.
struct Limits {
    std::size_t bytes = static_cast<std::size_t>(-1);
    std::uint32_t delay_us = static_cast<std::uint32_t>(-1);
};
void set_limits(const Limits& limits) noexcept;
const Limits& limits() noexcept;

// Every member name the journal's answers hold, which --ignore may name.
Names known_names();

}  // namespace velkjournal
