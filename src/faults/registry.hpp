// SPDX-License-Identifier: MIT
// What the fault library knows: the 28 functions it stands in front of, the
// plan (one failure rule and one delay per function), the call counts, and
// where each call goes when it is passed on.
#pragma once

#include <cstdint>

#include "faults/decision.hpp"
#include "faults/functions.hpp"

namespace velkfault {

// Counts the call, waits its delay, and decides. `items` is the number of
// items a per-item rule could drop one of, or -1 where none can be dropped
// (the call cannot carry a dropped item: a bad argument the next library
// must see as it is); such calls do not use up an item rule. Not noexcept:
// the wait is a cancellation point, and a thread cancelled in it unwinds
// through here to its caller.
Decision enter(Fn fn, std::int32_t items);

// The next definition of the function after this library, resolved once.
// When the process's lookup order has none after this library (a library
// loaded with RTLD_LOCAL calling its own exported names), the definition in
// the library the call came from, `caller` being an address inside it. With
// neither, one line on stderr and abort().
void* next(Fn fn, const void* caller) noexcept;

// Whether the process's calls reach this library: no library before it in
// the lookup order defines one of the 28 functions. When one does, the
// control calls refuse (VELKFAULT_NOT_IN_FRONT): a plan there would never
// take effect.
bool in_front() noexcept;

// A definition of `name` outside the lookup order: in the library that holds
// `caller`, else in any loaded library other than this one; null with none.
void* defined_elsewhere(const char* name, const void* caller) noexcept;

// The control calls' work, also used by the plan read at load.
int set_fail(int fn, std::int32_t code, std::uint32_t skip, std::uint32_t times) noexcept;
int set_fail_item(int fn, std::int32_t item, std::int32_t status, std::uint32_t skip,
                  std::uint32_t times) noexcept;
int set_delay(int fn, std::uint32_t microseconds) noexcept;

}  // namespace velkfault
