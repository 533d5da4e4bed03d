// SPDX-License-Identifier: MIT
#include "faults/registry.hpp"

#include <dlfcn.h>
#include <link.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "velkfault.h"

namespace velkfault {

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
// Found in the calling library when the lookup order had nothing after us.
std::atomic<void*> fallback[kFunctionCount];

// nanosleep is a cancellation point: a thread cancelled while it waits
// unwinds from here, so nothing on the way may be noexcept. Uninstrumented
// by AddressSanitizer: the unwinding skips this frame's epilogue, which
// would leave the redzones of `left` poisoned on the thread's stack.
__attribute__((no_sanitize_address)) void wait_for(std::uint32_t microseconds) {
    timespec left{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

// Uninstrumented too, for the same reason: a cancelled wait unwinds through
// this frame into the forwarding function, whose journal entry has a
// destructor to run there, and AddressSanitizer's own code then runs on
// what were this frame's redzones.
__attribute__((no_sanitize_address)) Decision enter(Fn fn, std::int32_t items) {
    counts[fn].fetch_add(1, std::memory_order_relaxed);
    const std::uint32_t delay = delays[fn].load(std::memory_order_relaxed);
    if (delay != 0) {
        const int saved = errno;
        wait_for(delay);
        errno = saved;
    }
    const std::lock_guard guard(plan_lock);
    Rule& rule = rules[fn];
    if (rule.kind == Decision::Pass || (rule.kind == Decision::FailItem && items <= rule.item)) {
        return {Decision::Pass, 0, 0, delay};
    }
    if (rule.skip != 0) {
        --rule.skip;
        return {Decision::Pass, 0, 0, delay};
    }
    Decision decision{rule.kind, rule.code, rule.item, delay};
    if (!rule.forever && --rule.times == 0) {
        rule = Rule{};
    }
    return decision;
}

namespace {

// The base address of the object that holds `address`, or null.
const void* object_of(const void* address) noexcept {
    Dl_info info{};
    return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

// The definition of `name` that the loaded object `path` itself holds, if
// it is not this library: the lookup through its handle may also find
// definitions in what it depends on, or (for the program) in the global
// scope, ours included, and those do not count.
void* defined_in(const char* path, const char* name, const void* self) noexcept {
    // RTLD_NOLOAD: only a handle to what is loaded already, never a load.
    void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        return nullptr;
    }
    void* target = dlsym(handle, name);
    // The object is loaded, and stays loaded while its code calls us: the
    // handle only took a reference, which goes back at once.
    dlclose(handle);
    Dl_info info{};
    if (target == nullptr || dladdr(target, &info) == 0 || info.dli_fbase == self ||
        info.dli_fname == nullptr || std::strcmp(info.dli_fname, path) != 0) {
        return nullptr;
    }
    return target;
}

struct Search {
    const char* name;
    const void* self;
    void* found;
};

}  // namespace

// A definition outside the lookup order: in the library the call came from
// (`caller` is an address inside it), else in any loaded library (the
// caller's return address points elsewhere when it reached us by a tail
// call). Libraries loaded with RTLD_LOCAL are found only this way.
void* defined_elsewhere(const char* name, const void* caller) noexcept {
    Search search{name, object_of(reinterpret_cast<const void*>(&object_of)), nullptr};
    Dl_info info{};
    if (caller != nullptr && dladdr(caller, &info) != 0 && info.dli_fname != nullptr &&
        info.dli_fbase != search.self) {
        search.found = defined_in(info.dli_fname, name, search.self);
    }
    if (search.found == nullptr) {
        dl_iterate_phdr(
            [](dl_phdr_info* object, std::size_t, void* data) {
                auto& s = *static_cast<Search*>(data);
                if (object->dlpi_name != nullptr && object->dlpi_name[0] != '\0') {
                    s.found = defined_in(object->dlpi_name, s.name, s.self);
                }
                return s.found != nullptr ? 1 : 0;
            },
            &search);
    }
    return search.found;
}

void* next(Fn fn, const void* caller) noexcept {
    void* target = resolved[fn].load(std::memory_order_acquire);
    if (target != nullptr) {
        return target;
    }
    // dlsym is thread-safe; two threads racing here find the same address.
    target = dlsym(RTLD_NEXT, kFunctions[fn].name);
    if (target != nullptr) {
        resolved[fn].store(target, std::memory_order_release);
        return target;
    }
    target = fallback[fn].load(std::memory_order_acquire);
    if (target == nullptr) {
        target = defined_elsewhere(kFunctions[fn].name, caller);
        // The abort ends a process that gcov cannot record: run and checked
        // by faults.preloaded_plans ("nothing after libvelkfault").
        if (target == nullptr) {  // GCOVR_EXCL_START
            std::fprintf(stderr,
                         "libvelkfault: no definition of %s after libvelkfault.so.0: link -lvelkmock (or the "
                         "SDK) after -lvelkfault, with -Wl,--no-as-needed before them, or preload it after: "
                         "LD_PRELOAD=\"libvelkfault.so.0 libvelkmock.so.0\"\n",
                         kFunctions[fn].name);
            std::abort();
        }  // GCOVR_EXCL_STOP
        fallback[fn].store(target, std::memory_order_release);
    }
    return target;
}

bool in_front() noexcept {
    const void* self = object_of(reinterpret_cast<const void*>(&object_of));
    for (const FunctionInfo& function : kFunctions) {
        // RTLD_DEFAULT finds the definition that the process's calls reach.
        const void* reached = dlsym(RTLD_DEFAULT, function.name);
        if (reached != nullptr && object_of(reached) != self) {
            return false;
        }
    }
    return true;
}

int set_fail(int fn, std::int32_t code, std::uint32_t skip, std::uint32_t times) noexcept {
    if (fn < 0 || kFunctions[fn].returns == Returns::Nothing || kFunctions[fn].returns == Returns::Text) {
        return VELKFAULT_INVALID_ARGUMENT;
    }
    // A failed create sets errno to -code, which INT32_MIN has no value for.
    if (kFunctions[fn].returns == Returns::Handle && code == INT32_MIN) {
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
    if (!velkfault::in_front()) {
        return VELKFAULT_NOT_IN_FRONT;
    }
    return velkfault::set_fail(function != nullptr ? velkfault::find_function(function) : -1, code, skip,
                               times);
}

VELKFAULT_API int velkfault_fail_item(const char* function, int32_t item, int32_t status, uint32_t skip,
                                      uint32_t times) {
    if (!velkfault::in_front()) {
        return VELKFAULT_NOT_IN_FRONT;
    }
    return velkfault::set_fail_item(function != nullptr ? velkfault::find_function(function) : -1, item,
                                    status, skip, times);
}

VELKFAULT_API int velkfault_delay(const char* function, uint32_t microseconds) {
    if (!velkfault::in_front()) {
        return VELKFAULT_NOT_IN_FRONT;
    }
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
