// SPDX-License-Identifier: MIT
#include "faults/cache_engine.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "velkmock.h"

namespace velkfault::cache {

void settle_fates(std::int32_t rc, std::span<const std::int32_t> statuses, std::span<Fate> fates) noexcept {
    bool over = rc != VELK_OK && rc != VELK_ERR_NO_MEMORY;
    for (std::size_t i = 0; i < fates.size(); ++i) {
        if (fates[i] != Fate::Pending) {
            continue;
        }
        if (over || statuses[i] != VELK_OK) {
            fates[i] = Fate::NotStored;
            over = over || statuses[i] == VELK_ERR_NO_MEMORY;
        } else {
            fates[i] = Fate::Stored;
        }
    }
}

Engine& engine() {
    static Engine& process = *new Engine(1, process_flag);
    return process;
}

// Outside the lock: a bad spec changes nothing.
std::string Engine::configure(std::string_view text) {
    Spec spec;
    if (std::string problem = parse_spec(text, spec); !problem.empty()) {
        return problem;
    }
    const std::lock_guard guard(lock_);
    spec_ = std::move(spec);
    for (auto& [pointer, handle] : handles_) {
        for (auto& [name, space] : handle.spaces) {
            if (spec_.off) {
                // Calls are not seen while off: what is known now would go stale.
                forget_all(space);
            }
            apply(name, space);
        }
    }
    on_.store(!spec_.off, std::memory_order_relaxed);
    return {};
}

void Engine::seed(std::uint64_t seed) {
    const std::lock_guard guard(lock_);
    seed_ = seed;
}

Engine::Handle& Engine::handle_of(const void* handle) {
    const auto [it, made] = handles_.try_emplace(handle);
    if (made) {
        it->second.number = next_handle_++;
    }
    return it->second;
}

Engine::Space& Engine::space_of(const void* handle, std::string_view ns) {
    Handle& owner = handle_of(handle);
    auto it = owner.spaces.find(ns);
    if (it == owner.spaces.end()) {
        it = owner.spaces.try_emplace(std::string(ns), seed_).first;
        apply(ns, it->second);
    }
    return it->second;
}

void Engine::apply(std::string_view ns, Space& space) {
    const Rule* rule = spec_.rule_for(ns);
    const std::uint64_t declared =
        space.declared_capacity > 0 ? static_cast<std::uint64_t>(space.declared_capacity) : 0;
    const Policy policy =
        rule != nullptr && rule->policy ? *rule->policy : policy_named(space.declared_policy);
    space.cache.configure(rule != nullptr ? rule->capacity : declared, policy);
}

void Engine::created(const void* handle) {
    const std::lock_guard guard(lock_);
    // A handle at an address whose destroy was never seen is a new one.
    if (const auto it = handles_.find(handle); it != handles_.end()) {
        for (const auto& [name, space] : it->second.spaces) {
            retired_.push_back(record_of(it->second.number, name, space));
        }
        handles_.erase(it);
    }
    handle_of(handle);
}

void Engine::destroyed(const void* handle) {
    const std::lock_guard guard(lock_);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        return;
    }
    std::vector<Record> gone;
    for (const auto& [name, space] : it->second.spaces) {
        gone.push_back(record_of(it->second.number, name, space));
    }
    retired_.insert(retired_.end(), gone.begin(), gone.end());
    handles_.erase(it);
}

std::string Engine::declared(const void* handle, std::string_view ns, std::int64_t capacity,
                             const char* policy, bool create) {
    const std::lock_guard guard(lock_);
    Space& space = space_of(handle, ns);
    space.declared_capacity = capacity;
    if (create) {
        space.declared_policy = policy != nullptr && *policy != '\0' ? policy : "lru";
    } else if (policy != nullptr) {
        space.declared_policy = policy;
    }
    apply(ns, space);
    const std::string& text = space.declared_policy;
    if (policy_named(text) != Policy::Unknown ||
        std::find(warned_.begin(), warned_.end(), text) != warned_.end()) {
        return {};
    }
    warned_.push_back(text);
    return "libvelkfault: cache mode: namespace '" + std::string(ns) + "' declares the eviction policy '" +
           text +
           "', which the cache mode does not know (lru, lfu, fifo, random): namespaces with it are counted, "
           "never "
           "evicted";
}

void Engine::namespace_deleted(const void* handle, std::string_view ns) {
    const std::lock_guard guard(lock_);
    Space& space = space_of(handle, ns);
    forget_all(space);
    // A put makes it again with the settings of one made implicitly.
    space.declared_capacity = 0;
    space.declared_policy = "lru";
    apply(ns, space);
}

void Engine::refuse(const void* handle, std::string_view ns, std::span<const std::uint64_t> sizes,
                    std::span<Fate> fates) {
    const std::lock_guard guard(lock_);
    const Cache& cache = space_of(handle, ns).cache;
    for (std::size_t i = 0; i < fates.size(); ++i) {
        if (fates[i] == Fate::Pending && cache.refuses(sizes[i])) {
            fates[i] = Fate::Refused;
        }
    }
}

std::vector<Victim> Engine::stored(const void* handle, std::string_view ns, std::span<const PutItem> items) {
    const std::lock_guard guard(lock_);
    Space& space = space_of(handle, ns);
    std::vector<Cache::Victim> evicted;
    std::vector<Victim> victims;
    try {
        for (const PutItem& item : items) {
            if (item.fate == Fate::Refused) {
                space.cache.refuse();
            } else if (item.fate == Fate::Stored && item.key != nullptr) {
                space.cache.store(space.keys.intern(item.key), item.size);
            }
        }
        space.cache.end_put(evicted);
        victims.reserve(evicted.size());
        for (const Cache::Victim& victim : evicted) {
            victims.push_back(Victim{space.keys.name(victim.id), victim.size});
        }
    } catch (...) {
        space.cache.abandon_put();
        // The store still has what could not be named: known again.
        for (const Cache::Victim& victim : evicted) {
            space.cache.restore(victim.id, victim.size);
        }
        throw;
    }
    for (const Cache::Victim& victim : evicted) {
        space.keys.release(victim.id);
    }
    return victims;
}

void Engine::restore(const void* handle, std::string_view ns, std::span<const Victim> kept) {
    const std::lock_guard guard(lock_);
    Space& space = space_of(handle, ns);
    for (const Victim& victim : kept) {
        space.cache.restore(space.keys.intern(victim.key), victim.size);
    }
}

void Engine::read(const void* handle, std::string_view ns, std::span<const ReadItem> items) {
    const std::lock_guard guard(lock_);
    Space& space = space_of(handle, ns);
    Cache& cache = space.cache;
    for (const ReadItem& item : items) {
        if (item.key == nullptr) {
            continue;
        }
        const Cache::Id id = space.keys.find(item.key);
        const bool known = cache.knows(id);
        if (item.seen == Seen::Found || (item.seen == Seen::Nothing && known && cache.size_of(id) == 0)) {
            if (known) {
                cache.hit(id);
            } else {
                cache.hit_unknown();  // stored elsewhere: neither counted nor evicted
            }
        } else {
            cache.miss();
        }
    }
}

void Engine::deleted(const void* handle, std::string_view ns, std::span<const char* const> keys) {
    const std::lock_guard guard(lock_);
    Space& space = space_of(handle, ns);
    for (const char* key : keys) {
        if (key == nullptr) {
            continue;
        }
        const Cache::Id id = space.keys.find(key);
        if (space.cache.knows(id)) {
            space.cache.forget(id);
            space.keys.release(id);
        }
    }
}

Record Engine::record_of(std::uint64_t handle, const std::string& ns, const Space& space) const {
    Record record;
    record.handle = handle;
    record.ns = ns;
    record.capacity = space.cache.bounded() ? space.cache.capacity() : 0;
    const Rule* rule = spec_.rule_for(ns);
    record.policy = rule != nullptr && rule->policy ? policy_text(*rule->policy) : space.declared_policy;
    record.stats = space.cache.stats();
    return record;
}

std::vector<Record> Engine::records() const {
    const std::lock_guard guard(lock_);
    std::vector<Record> all = retired_;
    for (const auto& [pointer, handle] : handles_) {
        for (const auto& [name, space] : handle.spaces) {
            all.push_back(record_of(handle.number, name, space));
        }
    }
    std::sort(all.begin(), all.end(), [](const Record& a, const Record& b) {
        return a.handle != b.handle ? a.handle < b.handle : a.ns < b.ns;
    });
    return all;
}

bool Engine::stats(const char* handle, std::string_view ns, Stats& out) const {
    std::uint64_t number = 0;
    if (handle != nullptr) {
        const char* end = handle + std::strlen(handle);
        if (*handle != 'h' || std::from_chars(handle + 1, end, number).ptr != end || end == handle + 1) {
            return false;
        }
    }
    out = Stats{};
    bool seen = false;
    for (const Record& record : records()) {
        if (record.ns != ns || (handle != nullptr && record.handle != number)) {
            continue;
        }
        seen = true;
        out.hits += record.stats.hits;
        out.misses += record.stats.misses;
        out.evictions += record.stats.evictions;
        out.evicted_bytes += record.stats.evicted_bytes;
        out.refused += record.stats.refused;
        out.peak_bytes = std::max(out.peak_bytes, record.stats.peak_bytes);
    }
    return seen;
}

namespace {

// 64 bits of a key, eight bytes at a time through SplitMix64's finaliser:
// fast on the short keys caches hold, and well spread.
std::uint64_t mixed(std::uint64_t x) noexcept {
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9U;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebU;
    return x ^ (x >> 31);
}

std::uint64_t hash_of(std::string_view key) noexcept {
    std::uint64_t hash = 0x9e3779b97f4a7c15U ^ key.size();
    const char* at = key.data();
    std::size_t left = key.size();
    for (; left >= 8; at += 8, left -= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, at, 8);
        hash = mixed(hash ^ word);
    }
    std::uint64_t word = 0;
    std::memcpy(&word, at, left);
    return mixed(hash ^ word ^ (std::uint64_t{left} << 59));
}

}  // namespace

// The slot holding the key, or the empty slot where it would go.
std::size_t KeyTable::probe(std::string_view key, std::uint64_t hash) const noexcept {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.id == Cache::kNone || (slot.hash == hash && names_[slot.id].text == key)) {
            return at;
        }
    }
}

KeyTable::Id KeyTable::find(std::string_view key) const noexcept {
    if (slots_.empty()) {
        return Cache::kNone;
    }
    return slots_[probe(key, hash_of(key))].id;
}

KeyTable::Id KeyTable::intern(std::string_view key) {
    const std::uint64_t hash = hash_of(key);
    if (!slots_.empty()) {
        if (const Id id = slots_[probe(key, hash)].id; id != Cache::kNone) {
            return id;
        }
    }
    if (2 * (used_ + 1) > slots_.size()) {
        grow();
    }
    Id id = 0;
    if (free_.empty()) {
        if (free_.capacity() < names_.size() + 1) {
            free_.reserve(2 * (names_.size() + 1));
        }
        names_.emplace_back();
        id = static_cast<Id>(names_.size() - 1);
    } else {
        id = free_.back();
    }
    names_[id].text.assign(key);  // may throw: nothing refers to the id yet
    if (!free_.empty() && free_.back() == id) {
        free_.pop_back();
    }
    names_[id].hash = hash;
    slots_[probe(key, hash)] = Slot{hash, id};
    ++used_;
    return id;
}

// Linear probing: the entries after the freed slot that would be found
// before it move back into it, so no probe stops early.
void KeyTable::release(Id id) noexcept {
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = probe(names_[id].text, names_[id].hash);
    for (std::size_t at = (hole + 1) & mask; slots_[at].id != Cache::kNone; at = (at + 1) & mask) {
        const std::size_t home = slots_[at].hash & mask;
        // It may move when its home is not in (hole, at], cyclically.
        if (((at - home) & mask) >= ((at - hole) & mask)) {
            slots_[hole] = slots_[at];
            hole = at;
        }
    }
    slots_[hole].id = Cache::kNone;
    --used_;
    free_.push_back(id);  // room was made when the id was given out
}

void KeyTable::clear() noexcept {
    slots_.clear();
    names_.clear();
    free_.clear();
    used_ = 0;
}

void KeyTable::grow() {
    std::vector<Slot> slots(std::max<std::size_t>(16, 2 * slots_.size()), Slot{0, Cache::kNone});
    const std::size_t mask = slots.size() - 1;
    for (const Slot& slot : slots_) {
        if (slot.id != Cache::kNone) {
            std::size_t at = slot.hash & mask;
            while (slots[at].id != Cache::kNone) {
                at = (at + 1) & mask;
            }
            slots[at] = slot;
        }
    }
    slots_.swap(slots);
}

void Engine::forget_all(Space& space) noexcept {
    space.cache.clear();
    space.keys.clear();
}

}  // namespace velkfault::cache
