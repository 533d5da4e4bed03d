// SPDX-License-Identifier: MIT
// One namespace of one handle as the cache mode sees it: the entries stored
// through this library, the order its policy evicts them in, and its counts.
// Keys are small integers here (the engine names them, a recording's reader
// numbers them), so that the cache mode and the simulations behind a
// miss-ratio curve run this same code and cannot disagree.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace velkfault::cache {

// "lru", "lfu", "fifo", "random"; any other text is Unknown: its namespace
// is counted but never evicted.
enum class Policy : std::uint8_t { Lru, Lfu, Fifo, Random, Unknown };

Policy policy_named(std::string_view text) noexcept;
// The policy's text; "" for Unknown (whose text only its namespace knows).
const char* policy_text(Policy policy) noexcept;

struct Stats {
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
    std::uint64_t evictions = 0;
    std::uint64_t evicted_bytes = 0;
    std::uint64_t refused = 0;
    std::uint64_t peak_bytes = 0;  // known bytes, the most after any put call's eviction
};

// SplitMix64: small, fast, and simple enough to write again in a test.
class Generator {
public:
    explicit Generator(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() noexcept;

private:
    std::uint64_t state_;
};

class Cache {
public:
    using Id = std::uint32_t;
    static constexpr Id kNone = UINT32_MAX;
    struct Victim {
        Id id;
        std::uint64_t size;
    };

    explicit Cache(std::uint64_t seed) noexcept : generator_(seed) {}

    // The settings eviction follows. Bounded when capacity > 0 and the
    // policy is known. A smaller capacity evicts nothing until the next put
    // call ends.
    void configure(std::uint64_t capacity, Policy policy);
    std::uint64_t capacity() const noexcept { return capacity_; }
    Policy policy() const noexcept { return policy_; }
    bool bounded() const noexcept { return capacity_ > 0 && policy_ != Policy::Unknown; }
    // A value this size is never passed on: alone it exceeds the capacity.
    bool refuses(std::uint64_t size) const noexcept { return bounded() && size > capacity_; }

    bool knows(Id id) const noexcept { return id < entries_.size() && entries_[id].present; }
    // A hint that the entry is wanted soon.
    void prefetch(Id id) const noexcept {
        if (id < entries_.size()) {
            __builtin_prefetch(&entries_[id]);
        }
    }
    std::uint64_t size_of(Id id) const noexcept { return entries_[id].size; }
    std::uint64_t known_bytes() const noexcept { return known_; }
    // Every known entry, in no particular order.
    template <class F>
    void each_entry(F&& f) const {
        for (Id id = 0; id < entries_.size(); ++id) {
            if (entries_[id].present) {
                f(id, entries_[id].size);
            }
        }
    }

    // A put item refused for its size.
    void refuse() noexcept { ++stats_.refused; }
    // A put item that stored its entry (a use), within the current put call.
    void store(Id id, std::uint64_t size);
    // The put call is over: while the known bytes exceed the capacity, the
    // policy's victim goes, the entries this call stored last of all (the
    // earliest item first). Victims are forgotten and appended to `victims`.
    void end_put(std::vector<Victim>& victims);
    // A put call that ends without its eviction (it failed on the way): its
    // entries stay known and are not exempt from the next call's.
    void abandon_put() noexcept { call_.clear(); }
    // A read found a known entry (a hit and a use); found an entry this
    // cache does not know (a hit only); found nothing (a miss).
    void hit(Id id) noexcept;
    void hit_unknown() noexcept { ++stats_.hits; }
    void miss() noexcept { ++stats_.misses; }
    void forget(Id id) noexcept;
    void clear() noexcept;
    // A victim the store did not remove after all: known again, as the
    // newest entry, and no longer counted as evicted.
    void restore(Id id, std::uint64_t size);

    const Stats& stats() const noexcept { return stats_; }

private:
    struct Entry {
        std::uint64_t size = 0;
        std::uint64_t last_use = 0;  // clock of the last use
        std::uint64_t birth = 0;     // clock of the first store
        std::uint64_t uses = 0;
        Id prev = kNone;  // the list (lru: by last use; fifo: by birth)
        Id next = kNone;
        std::uint32_t place = 0;  // lfu: heap position; random: slot
        bool present = false;
        bool exempt = false;  // stored by the put call being evicted after
    };

    void make_room(Id id);
    void add_entry(Id id, std::uint64_t size) noexcept;
    // The policy's order of the known entries.
    void prepare_insert();
    void insert_order(Id id) noexcept;
    void touch_order(Id id) noexcept;
    void erase_order(Id id) noexcept;
    void rebuild_order();
    void evict(Id id, std::vector<Victim>& victims);
    void evict_unexempt(std::vector<Victim>& victims);
    void release_exempt() noexcept;

    // lru and fifo: a doubly linked list, oldest first.
    void list_append(Id id) noexcept;
    void list_unlink(Id id) noexcept;
    // lfu: a binary heap on (uses, last use).
    bool heap_less(Id a, Id b) const noexcept;
    void heap_up(std::uint32_t at) noexcept;
    void heap_down(std::uint32_t at) noexcept;
    void heap_set(std::uint32_t at, Id id) noexcept;
    void heap_push(Id id) noexcept;
    void heap_erase(Id id) noexcept;
    // random: a Fenwick tree counting the entries by slot (in order of
    // first store), so that the k-th candidate is found in O(log n).
    void slots_add(std::uint32_t slot, int delta) noexcept;
    std::uint32_t slots_find(std::uint64_t index) const noexcept;
    void slots_compact(std::size_t size);

    std::uint64_t capacity_ = 0;
    Policy policy_ = Policy::Unknown;
    std::vector<Entry> entries_;
    std::uint64_t known_ = 0;
    std::uint64_t clock_ = 0;
    std::vector<Id> call_;    // ids the current put call stored, in item order
    std::vector<Id> exempt_;  // of those, the ones evicted last, earliest first
    bool withdrawn_ = false;  // the exempt ones are out of the heap or the tree
    Id head_ = kNone;
    Id tail_ = kNone;
    std::vector<Id> heap_;
    std::vector<std::uint32_t> tree_;  // Fenwick tree over slots, 1-based
    std::vector<Id> slot_id_;          // the entry in each slot, or kNone
    std::uint32_t next_slot_ = 0;
    std::uint64_t candidates_ = 0;  // entries counted in tree_
    Generator generator_;
    Stats stats_;
};

}  // namespace velkfault::cache
