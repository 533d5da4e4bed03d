// SPDX-License-Identifier: MIT
// The cache mode: a cache per handle and namespace (src/faults/cache.hpp),
// the settings each namespace declared and the rules that take their place,
// and the counts, kept after a namespace or handle is gone for the report.
//
// The interposer tells it, around each call that succeeded as far as it
// matters (with the journal's rule for calls the library makes of itself:
// one call observed once):
//   velk_client_create, velk_ll_create      created(handle)
//   velk_client_destroy, velk_ll_client_destroy  destroyed(handle), first
//   velk_create_namespace, velk_update_namespace (rc 0)  declared(...)
//   velk_delete_namespace (rc 0)             namespace_deleted(...)
//   a put (velk_batch_put; velk_ll_batch_put on "ll"):
//       before it is passed on, refuse(...) marks the items not to pass on
//       (their status: VELK_ERR_NO_MEMORY, their record cleared); when it
//       returns, settle_fates(...) then stored(...), which returns the
//       victims; the interposer removes them with the next library's
//       velk_batch_delete_items (one call) and gives back to restore(...)
//       any the store did not remove (a status other than 0 or
//       VELK_ERR_NOT_FOUND, or the whole call failed).
//   a get, get-into or query (rc >= 0)       read(...), one item per key
//   a delete (rc 0)                          deleted(...) with the keys whose status was 0
// Every call takes one mutex; on() is a relaxed load, and for the
// process's engine process_on() is that load on a flag of the library's
// own, all a call pays while the mode is off. Calls may throw
// std::bad_alloc, leaving the engine consistent (at worst without the
// call's last effects).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "faults/cache.hpp"
#include "faults/cache_spec.hpp"

namespace velkfault::cache {

// The namespace the low-level calls are counted on: the library behind
// keeps their entries there (the mock and the shared store do).
inline constexpr const char* kLowLevelNamespace = "ll";

// What a read reported for an item. A get or get-into reports an empty value
// as it reports nothing: Nothing, which is a hit when the key is known with
// an empty value. An item with a filter that reported nothing is NotFound
// (its entry may be there and not carry the pairs).
enum class Seen : std::uint8_t { Found, NotFound, Nothing };

// What became of a put item. The interposer starts every item Pending, but
// for one a plan dropped (NotStored); refuse() makes some Refused, and
// settle_fates() decides the rest from the call's answer.
enum class Fate : std::uint8_t { Pending, Stored, NotStored, Refused };

struct PutItem {
    const char* key;     // may be null (such an item stores nothing)
    std::uint64_t size;  // the value's length; 0 where it cannot be read safely
    Fate fate;
};

struct ReadItem {
    const char* key;  // null: the item reads no key and is not counted
    Seen seen;
};

// What a get or get-into item reported, as the cache mode sees it: its
// status (a get's callback: the value's length; get-into's: the same, or
// -ENOSPC with the length of a value too large for its buffer), and
// whether the item has a filter. The interposer and a recording's reader
// both decide with it.
constexpr Seen seen_by_get(std::int32_t status, std::uint64_t length, bool filtered) noexcept {
    if (status > 0 || (status < 0 && length > 0)) {
        return Seen::Found;
    }
    return status == 0 && !filtered ? Seen::Nothing : Seen::NotFound;
}
// A query record's status text: "ok" found the key.
constexpr Seen seen_by_query(std::string_view status) noexcept {
    return status == "ok" ? Seen::Found : Seen::NotFound;
}
// The same of a record's field (a text with a NUL within its width).
template <std::size_t N>
constexpr Seen seen_by_query(const char (&field)[N]) noexcept {
    static_assert(N >= 3);
    return field[0] == 'o' && field[1] == 'k' && field[2] == '\0' ? Seen::Found : Seen::NotFound;
}

struct Victim {
    std::string key;
    std::uint64_t size;
};

// One handle's namespace in the report.
struct Record {
    std::uint64_t handle = 0;  // 1 for "h1"
    std::string ns;
    std::uint64_t capacity = 0;  // the capacity eviction follows, 0: none
    std::string policy;          // the policy eviction follows (a declared unknown one as given)
    Stats stats;
};

// An item passed on stored its entry when its status is 0 and the call
// returned 0, or returned VELK_ERR_NO_MEMORY and the item comes before the
// first one passed on whose status is VELK_ERR_NO_MEMORY (the records after
// it are the caller's, untouched). Any other answer stored nothing.
void settle_fates(std::int32_t rc, std::span<const std::int32_t> statuses, std::span<Fate> fates) noexcept;

// The keys of one cache's known entries, numbered for the cache: open
// addressing with the hashes kept beside the numbers, so a lookup is one
// probe and one comparison, and numbers of forgotten keys are used again.
class KeyTable {
public:
    using Id = Cache::Id;
    // The number of a key, or Cache::kNone.
    Id find(std::string_view key) const noexcept;
    // The numbers of a batch's keys: their slots and names fetched ahead,
    // so that the batch's lookups wait for memory together, not in turn.
    // With `hashes`, each key's hash too, for intern().
    void find_all(std::span<const std::string_view> keys, std::span<Id> out,
                  std::uint64_t* hashes = nullptr) const noexcept;
    // The number of a key, given one if it has none.
    Id intern(std::string_view key);
    // The same, for a key whose hash find_all() gave.
    Id intern(std::string_view key, std::uint64_t hash);
    void release(Id id) noexcept;
    void clear() noexcept;
    const std::string& name(Id id) const noexcept { return names_[id].text; }

private:
    struct Slot {
        std::uint64_t hash;
        Id id;
    };
    std::size_t probe(std::string_view key, std::uint64_t hash) const noexcept;
    void grow();

    struct Name {
        std::string text;
        std::uint64_t hash = 0;
    };
    std::vector<Slot> slots_;  // a power of two of them, at most half used
    std::vector<Name> names_;  // by id
    std::vector<Id> free_;     // room for every id, so a release cannot fail
    std::size_t used_ = 0;
};

class Engine {
public:
    explicit Engine(std::uint64_t seed = 1) : on_(own_on_), seed_(seed) {}
    // An engine whose on-flag is `flag` (the process's: process_on()).
    Engine(std::uint64_t seed, std::atomic<bool>& flag) : on_(flag), seed_(seed) {}
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool on() const noexcept { return on_.load(std::memory_order_relaxed); }
    // Applies a spec (`off` turns the mode off and forgets every entry; the
    // counts and settings stay). Returns the problem with a malformed one,
    // which changes nothing; empty on success.
    std::string configure(std::string_view spec);
    // The seed of the random policy for namespaces seen from now on.
    void seed(std::uint64_t seed);

    void created(const void* handle);
    void destroyed(const void* handle);
    // A successful create (policy null or "": "lru") or update (policy
    // null: unchanged). Returns a line to print once for a policy the mode
    // does not know, else empty.
    std::string declared(const void* handle, std::string_view ns, std::int64_t capacity, const char* policy,
                         bool create);
    void namespace_deleted(const void* handle, std::string_view ns);

    // Marks Refused the Pending items whose size alone exceeds the capacity.
    void refuse(const void* handle, std::string_view ns, std::span<const std::uint64_t> sizes,
                std::span<Fate> fates);
    std::vector<Victim> stored(const void* handle, std::string_view ns, std::span<const PutItem> items);
    void restore(const void* handle, std::string_view ns, std::span<const Victim> kept);
    void read(const void* handle, std::string_view ns, std::span<const ReadItem> items);
    void deleted(const void* handle, std::string_view ns, std::span<const char* const> keys);

    // Every handle's namespaces, the destroyed ones' included, by handle
    // then name.
    std::vector<Record> records() const;
    // One handle's namespace ("h1"), or with a null handle every handle's
    // namespace of that name: counts summed, the largest peak. False when
    // the mode has seen none.
    bool stats(const char* handle, std::string_view ns, Stats& out) const;

    // Around fork(): the child must not inherit the mutex held by a thread
    // it does not have.
    void lock_for_fork() noexcept { lock_.lock(); }
    void unlock_after_fork() noexcept { lock_.unlock(); }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };
    struct Space {
        explicit Space(std::uint64_t seed) : cache(seed) {}
        Cache cache;
        std::int64_t declared_capacity = 0;
        std::string declared_policy = "lru";
        KeyTable keys;  // the known entries' keys
    };
    struct Handle {
        std::uint64_t number = 0;
        std::unordered_map<std::string, Space, Hash, std::equal_to<>> spaces;
    };

    Handle& handle_of(const void* handle);
    Space& space_of(const void* handle, std::string_view ns);
    void apply(std::string_view ns, Space& space);
    Record record_of(std::uint64_t handle, const std::string& ns, const Space& space) const;
    static void forget_all(Space& space) noexcept;

    mutable std::mutex lock_;
    std::atomic<bool> own_on_{false};
    std::atomic<bool>& on_;
    Spec spec_;
    std::uint64_t seed_;
    std::uint64_t next_handle_ = 1;
    std::unordered_map<const void*, Handle> handles_;
    std::vector<Record> retired_;         // of destroyed handles
    std::vector<std::string> warned_;     // unknown policies already reported
    std::vector<Cache::Victim> evicted_;  // stored()'s, under the lock
};

// The process's engine; never destroyed, so calls at exit still find it.
Engine& engine();
// Whether the process's engine was ever made (a program that never used
// the mode has none, and nothing to report at exit).
bool engine_in_use() noexcept;
// Whether it is on: a relaxed load of its flag, the one thing every call of
// the interposer looks at while the mode is off.
inline constinit std::atomic<bool> process_flag{false};
inline bool process_on() noexcept {
    return process_flag.load(std::memory_order_relaxed);
}

// The report of VELKFAULT_CACHE_REPORT: {"namespaces": [{"handle": "h1",
// "ns": ..., "capacity": N, "policy": ..., "hits": N, "misses": N,
// "evictions": N, "evicted_bytes": N, "refused": N, "peak_bytes": N}]}.
std::string report_json(std::span<const Record> records);
// The short table velkfault-run --cache prints: one line per namespace
// name, its handles summed.
std::string report_table(std::span<const Record> records);
// A JSON string of `text`: bytes that are not UTF-8 become U+FFFD.
void append_json_string(std::string& out, std::string_view text);

// Defined with the control calls (cache_api.cpp), in the library only.
// At load: VELKFAULT_SEED, then VELKFAULT_CACHE (unset or empty: off). The
// problem to print before exiting with status 2, or empty.
std::string from_environment();
// At exit, when the mode saw a namespace: the report into
// VELKFAULT_CACHE_REPORT when it names a file, and with `table` the table
// on stderr. Returns a line to print when the report could not be
// written, or empty.
std::string report_at_exit(bool table);

}  // namespace velkfault::cache
