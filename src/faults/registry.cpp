// SPDX-License-Identifier: MIT
#include "faults/registry.hpp"

#include <dlfcn.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "velkfault.h"

namespace velkfault {

const FunctionInfo kFunctions[kFunctionCount] = {
    {"velk_version", Returns::Text, false},
    {"velk_revision", Returns::Text, false},
    {"velk_build_time", Returns::Text, false},
    {"velk_client_create", Returns::Handle, false},
    {"velk_client_destroy", Returns::Nothing, false},
    {"velk_sdk_metrics_ctx_reset", Returns::Nothing, false},
    {"velk_client_get_metrics", Returns::Status, false},
    {"velk_sdk_metrics_serialize", Returns::Status, false},
    {"velk_batch_put", Returns::Status, true},
    {"velk_batch_get", Returns::Status, false},
    {"velk_batch_get_into", Returns::Status, false},
    {"velk_batch_delete_items", Returns::Status, true},
    {"velk_batch_delete", Returns::Status, true},
    {"velk_batch_query", Returns::Status, false},
    {"velk_query_result_free", Returns::Nothing, false},
    {"velk_create_namespace", Returns::Status, false},
    {"velk_update_namespace", Returns::Status, false},
    {"velk_delete_namespace", Returns::Status, false},
    {"velk_get_namespace", Returns::Status, false},
    {"velk_list_namespaces", Returns::Status, false},
    {"velk_get_nodes", Returns::Status, false},
    {"velk_ll_create", Returns::Handle, false},
    {"velk_ll_client_destroy", Returns::Nothing, false},
    {"velk_ll_batch_put", Returns::Status, true},
    {"velk_ll_batch_get", Returns::Status, false},
    {"velk_ll_batch_get_into", Returns::Status, false},
    {"velk_ll_batch_delete", Returns::Status, true},
    {"velk_ll_batch_query", Returns::Status, false},
};

int find_function(std::string_view name) noexcept {
    for (int i = 0; i < kFunctionCount; ++i) {
        if (name == kFunctions[i].name) {
            return i;
        }
    }
    return -1;
}

namespace {

struct Rule {
    Decision::Kind kind = Decision::Pass;
    std::int32_t code = 0;
    std::int32_t item = 0;
    std::uint32_t skip = 0;
    std::uint32_t times = 0;  // left to fail; 0 with `forever`
    bool forever = false;
};

// The plan. One mutex keeps each rule's counting exact when threads race;
// a call holds it only to decide, never while it waits or runs.
std::mutex plan_lock;
Rule rules[kFunctionCount];
std::atomic<std::uint32_t> delays[kFunctionCount];
std::atomic<std::uint64_t> counts[kFunctionCount];
std::atomic<void*> resolved[kFunctionCount];

void wait_for(std::uint32_t microseconds) noexcept {
    timespec left{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

Decision enter(Fn fn, std::int32_t items) noexcept {
    counts[fn].fetch_add(1, std::memory_order_relaxed);
    if (const std::uint32_t delay = delays[fn].load(std::memory_order_relaxed); delay != 0) {
        const int saved = errno;
        wait_for(delay);
        errno = saved;
    }
    const std::lock_guard guard(plan_lock);
    Rule& rule = rules[fn];
    if (rule.kind == Decision::Pass || (rule.kind == Decision::FailItem && items <= rule.item)) {
        return {};
    }
    if (rule.skip != 0) {
        --rule.skip;
        return {};
    }
    Decision decision{rule.kind, rule.code, rule.item};
    if (!rule.forever && --rule.times == 0) {
        rule = Rule{};
    }
    return decision;
}

void* next(Fn fn) noexcept {
    void* target = resolved[fn].load(std::memory_order_acquire);
    if (target == nullptr) {
        // dlsym is thread-safe; two threads racing here find the same address.
        target = dlsym(RTLD_NEXT, kFunctions[fn].name);
        if (target == nullptr) {
            std::fprintf(
                stderr,
                "libvelkfault: no definition of %s after libvelkfault.so.0: link -lvelkmock (or the SDK) "
                "after -lvelkfault, or preload it after: LD_PRELOAD=\"libvelkfault.so.0 "
                "libvelkmock.so.0\"\n",
                kFunctions[fn].name);
            std::abort();
        }
        resolved[fn].store(target, std::memory_order_release);
    }
    return target;
}

int set_fail(int fn, std::int32_t code, std::uint32_t skip, std::uint32_t times) noexcept {
    if (fn < 0 || kFunctions[fn].returns == Returns::Nothing || kFunctions[fn].returns == Returns::Text) {
        return VELKFAULT_INVALID_ARGUMENT;
    }
    const std::lock_guard guard(plan_lock);
    rules[fn] = Rule{Decision::FailCall, code, 0, skip, times, times == 0};
    return 0;
}

int set_fail_item(int fn, std::int32_t item, std::int32_t status, std::uint32_t skip,
                  std::uint32_t times) noexcept {
    if (fn < 0 || !kFunctions[fn].per_item || item < 0) {
        return VELKFAULT_INVALID_ARGUMENT;
    }
    const std::lock_guard guard(plan_lock);
    rules[fn] = Rule{Decision::FailItem, status, item, skip, times, times == 0};
    return 0;
}

int set_delay(int fn, std::uint32_t microseconds) noexcept {
    if (fn < 0) {
        return VELKFAULT_INVALID_ARGUMENT;
    }
    delays[fn].store(microseconds, std::memory_order_relaxed);
    return 0;
}

}  // namespace velkfault

extern "C" {

VELKFAULT_API int velkfault_fail(const char* function, int32_t code, uint32_t skip, uint32_t times) {
    return velkfault::set_fail(function != nullptr ? velkfault::find_function(function) : -1, code, skip,
                               times);
}

VELKFAULT_API int velkfault_fail_item(const char* function, int32_t item, int32_t status, uint32_t skip,
                                      uint32_t times) {
    return velkfault::set_fail_item(function != nullptr ? velkfault::find_function(function) : -1, item,
                                    status, skip, times);
}

VELKFAULT_API int velkfault_delay(const char* function, uint32_t microseconds) {
    return velkfault::set_delay(function != nullptr ? velkfault::find_function(function) : -1, microseconds);
}

VELKFAULT_API uint64_t velkfault_calls(const char* function) {
    const int fn = function != nullptr ? velkfault::find_function(function) : -1;
    return fn < 0 ? 0 : velkfault::counts[fn].load(std::memory_order_relaxed);
}

VELKFAULT_API void velkfault_reset(void) {
    using namespace velkfault;
    const std::lock_guard guard(plan_lock);
    for (int i = 0; i < kFunctionCount; ++i) {
        rules[i] = Rule{};
        delays[i].store(0, std::memory_order_relaxed);
        counts[i].store(0, std::memory_order_relaxed);
    }
}

}  // extern "C"
