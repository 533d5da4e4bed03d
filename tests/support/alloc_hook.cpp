// SPDX-License-Identifier: MIT
#include "alloc_hook.hpp"

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

using MallocFn = void* (*)(std::size_t);
using CallocFn = void* (*)(std::size_t, std::size_t);
using ReallocFn = void* (*)(void*, std::size_t);
using FreeFn = void (*)(void*);
using AlignedFn = void* (*)(std::size_t, std::size_t);

MallocFn real_malloc = nullptr;
CallocFn real_calloc = nullptr;
ReallocFn real_realloc = nullptr;
FreeFn real_free = nullptr;
AlignedFn real_aligned_alloc = nullptr;

// dlsym may itself allocate before the real functions are known; those few
// early requests are served from a static arena and never given back.
alignas(16) unsigned char bootstrap[4096];
std::size_t bootstrap_used = 0;
bool resolving = false;

bool from_bootstrap(const void* p) {
    const auto* c = static_cast<const unsigned char*>(p);
    return c >= bootstrap && c < bootstrap + sizeof bootstrap;
}

void* bootstrap_alloc(std::size_t size) {
    const std::size_t rounded = (size + 15) & ~std::size_t{15};
    if (bootstrap_used + rounded > sizeof bootstrap) {
        return nullptr;
    }
    void* p = bootstrap + bootstrap_used;
    bootstrap_used += rounded;
    std::memset(p, 0, rounded);
    return p;
}

void resolve() {
    if (real_free != nullptr) {
        return;
    }
    resolving = true;
    real_malloc = reinterpret_cast<MallocFn>(dlsym(RTLD_NEXT, "malloc"));
    real_calloc = reinterpret_cast<CallocFn>(dlsym(RTLD_NEXT, "calloc"));
    real_realloc = reinterpret_cast<ReallocFn>(dlsym(RTLD_NEXT, "realloc"));
    real_aligned_alloc = reinterpret_cast<AlignedFn>(dlsym(RTLD_NEXT, "aligned_alloc"));
    real_free = reinterpret_cast<FreeFn>(dlsym(RTLD_NEXT, "free"));
    resolving = false;
}

// Window state. A spin lock keeps the tracking table consistent if another
// thread allocates while a window is open. The atomics are the compiler's
// builtins, not std::atomic: its member functions are inline templates, and
// the linker may keep a sanitizer-instrumented copy of them from another
// object of the test program, which would run before the runtime is ready.
bool counting = false;
bool tracking = false;
bool table_lock = false;

bool flag(const bool& which) {
    return __atomic_load_n(&which, __ATOMIC_RELAXED);
}
void set_flag(bool& which, bool value) {
    __atomic_store_n(&which, value, __ATOMIC_SEQ_CST);
}
long fail_at = 0;
long attempts = 0;
bool failed = false;

// Open-addressing set of the blocks allocated inside the window.
constexpr std::size_t kSlots = std::size_t{1} << 17;
char tombstone_mark;
void* const kTombstone = &tombstone_mark;  // no allocation ever has this address
void* slots[kSlots];
long live_count = 0;

struct TableGuard {
    TableGuard() {
        while (__atomic_test_and_set(&table_lock, __ATOMIC_ACQUIRE)) {
        }
    }
    ~TableGuard() { __atomic_clear(&table_lock, __ATOMIC_RELEASE); }
};

std::size_t slot_of(const void* p) {
    return (reinterpret_cast<std::uintptr_t>(p) >> 4) * 0x9E3779B97F4A7C15ull >> (64 - 17);
}

void remember(void* p) {
    for (std::size_t i = slot_of(p), n = 0; n < kSlots; i = (i + 1) & (kSlots - 1), ++n) {
        if (slots[i] == nullptr || slots[i] == kTombstone) {
            slots[i] = p;
            ++live_count;
            return;
        }
    }
    std::abort();  // more live blocks than a test should ever make
}

void forget(void* p) {
    for (std::size_t i = slot_of(p), n = 0; n < kSlots && slots[i] != nullptr;
         i = (i + 1) & (kSlots - 1), ++n) {
        if (slots[i] == p) {
            slots[i] = kTombstone;
            --live_count;
            return;
        }
    }
}

// Counts one attempt; true if it must fail.
bool attempt() {
    if (!flag(counting)) {
        return false;
    }
    TableGuard guard;
    ++attempts;
    if (fail_at != 0 && attempts == fail_at) {
        failed = true;
        return true;
    }
    return false;
}

void note_allocated(void* p) {
    if (p != nullptr && flag(counting)) {
        TableGuard guard;
        remember(p);
    }
}

void note_freed(void* p) {
    if (p != nullptr && flag(tracking)) {
        TableGuard guard;
        forget(p);
    }
}

}  // namespace

namespace alloc_hook {

void open(long fail) {
    TableGuard guard;
    std::memset(slots, 0, sizeof slots);
    live_count = 0;
    attempts = 0;
    failed = false;
    fail_at = fail;
    set_flag(tracking, true);
    set_flag(counting, true);
}

Window peek() {
    TableGuard guard;
    return Window{attempts, live_count, failed};
}

Window pause() {
    set_flag(counting, false);
    return peek();
}

void close() {
    set_flag(counting, false);
    set_flag(tracking, false);
}

}  // namespace alloc_hook

extern "C" {

void* malloc(std::size_t size) {
    if (real_malloc == nullptr) {
        if (resolving) {
            return bootstrap_alloc(size);
        }
        resolve();
    }
    if (attempt()) {
        return nullptr;
    }
    void* p = real_malloc(size);
    note_allocated(p);
    return p;
}

void* calloc(std::size_t n, std::size_t size) {
    if (real_calloc == nullptr) {
        if (resolving) {
            return bootstrap_alloc(n * size);
        }
        resolve();
    }
    if (attempt()) {
        return nullptr;
    }
    void* p = real_calloc(n, size);
    note_allocated(p);
    return p;
}

void* realloc(void* old, std::size_t size) {
    if (real_realloc == nullptr) {
        resolve();
    }
    if (from_bootstrap(old)) {
        void* p = malloc(size);
        if (p != nullptr) {
            const auto room =
                static_cast<std::size_t>(bootstrap + sizeof bootstrap - static_cast<unsigned char*>(old));
            std::memcpy(p, old, size < room ? size : room);
        }
        return p;
    }
    if (attempt()) {
        return nullptr;
    }
    void* p = real_realloc(old, size);
    if (p != nullptr) {
        note_freed(old);
        note_allocated(p);
    }
    return p;
}

void free(void* p) {
    if (p == nullptr || from_bootstrap(p)) {
        return;
    }
    if (real_free == nullptr) {
        resolve();
    }
    note_freed(p);
    real_free(p);
}

}  // extern "C"

void* operator new(std::size_t size) {
    void* p = malloc(size != 0 ? size : 1);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return malloc(size != 0 ? size : 1);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete[](void* p) noexcept {
    free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    free(p);
}

// Over-aligned types (the handle is one) come through these.
namespace {
void* aligned(std::size_t size, std::align_val_t alignment) noexcept {
    if (real_free == nullptr) {
        resolve();
    }
    if (attempt()) {
        return nullptr;
    }
    const auto a = static_cast<std::size_t>(alignment);
    void* p = real_aligned_alloc(a, (size + a - 1) / a * a);
    note_allocated(p);
    return p;
}
}  // namespace

void* operator new(std::size_t size, std::align_val_t alignment) {
    void* p = aligned(size, alignment);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return aligned(size, alignment);
}
void operator delete(void* p, std::align_val_t) noexcept {
    free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    free(p);
}
