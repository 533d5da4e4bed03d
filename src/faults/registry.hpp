// SPDX-License-Identifier: MIT
// What the fault library knows: the 28 functions it stands in front of, the
// plan (one failure rule and one delay per function), the call counts, and
// where each call goes when it is passed on.
#pragma once

#include <cstdint>
#include <string_view>

namespace velkfault {

enum class Returns { Status, Handle, Nothing, Text };

enum Fn : int {
    kVersion,
    kRevision,
    kBuildTime,
    kClientCreate,
    kClientDestroy,
    kMetricsCtxReset,
    kClientGetMetrics,
    kMetricsSerialize,
    kBatchPut,
    kBatchGet,
    kBatchGetInto,
    kBatchDeleteItems,
    kBatchDelete,
    kBatchQuery,
    kQueryResultFree,
    kCreateNamespace,
    kUpdateNamespace,
    kDeleteNamespace,
    kGetNamespace,
    kListNamespaces,
    kGetNodes,
    kLlCreate,
    kLlClientDestroy,
    kLlBatchPut,
    kLlBatchGet,
    kLlBatchGetInto,
    kLlBatchDelete,
    kLlBatchQuery,
    kFunctionCount
};

struct FunctionInfo {
    const char* name;
    Returns returns;
    bool per_item;  // velkfault_fail_item applies
};

extern const FunctionInfo kFunctions[kFunctionCount];

// The function of that name, or -1.
int find_function(std::string_view name) noexcept;

// What to do with one call.
struct Decision {
    enum Kind { Pass, FailCall, FailItem } kind = Pass;
    std::int32_t code = 0;  // FailCall: the result; FailItem: the item's status
    std::int32_t item = 0;  // FailItem: which item
};

// Counts the call, waits its delay, and decides. `items` is the number of
// items a per-item rule could drop one of, or -1 where none can be dropped
// (the call cannot carry a dropped item: a bad argument the next library
// must see as it is); such calls do not use up an item rule.
Decision enter(Fn fn, std::int32_t items) noexcept;

// The next definition of the function after this library, resolved once;
// with none, one line on stderr and abort().
void* next(Fn fn) noexcept;

// The control calls' work, also used by the plan read at load.
int set_fail(int fn, std::int32_t code, std::uint32_t skip, std::uint32_t times) noexcept;
int set_fail_item(int fn, std::int32_t item, std::int32_t status, std::uint32_t skip,
                  std::uint32_t times) noexcept;
int set_delay(int fn, std::uint32_t microseconds) noexcept;

}  // namespace velkfault
