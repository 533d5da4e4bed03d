// SPDX-License-Identifier: MIT
#include "faults/cache_engine.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

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

namespace {
std::atomic<bool> engine_made{false};
}  // namespace

Engine& engine() {
    static Engine& process = []() -> Engine& {
        Engine& made = *new Engine(1, process_flag);
        engine_made.store(true, std::memory_order_release);
        return made;
    }();
    return process;
}

bool engine_in_use() noexcept {
    return engine_made.load(std::memory_order_acquire);
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
    std::vector<Cache::Victim>& evicted = evicted_;  // its room kept from call to call
    evicted.clear();
    std::vector<Victim> victims;
    try {
        constexpr std::size_t kBatch = 64;
        std::string_view keys[kBatch];
        Cache::Id ids[kBatch];
        std::uint64_t hashes[kBatch];
        for (std::size_t first = 0; first < items.size(); first += kBatch) {
            const std::span<const PutItem> batch =
                items.subspan(first, std::min(kBatch, items.size() - first));
            std::size_t n = 0;
            for (const PutItem& item : batch) {
                if (item.fate == Fate::Stored && item.key != nullptr) {
                    keys[n++] = item.key;
                }
            }
            space.keys.find_all({keys, n}, {ids, n}, hashes);
            for (std::size_t i = 0; i < n; ++i) {
                space.cache.prefetch(ids[i]);
            }
            std::size_t next = 0;
            for (const PutItem& item : batch) {
                if (item.fate == Fate::Refused) {
                    space.cache.refuse();
                } else if (item.fate == Fate::Stored && item.key != nullptr) {
                    const Cache::Id known = ids[next];
                    // A key the batch stores twice is known the second time.
                    space.cache.store(
                        known != Cache::kNone ? known : space.keys.intern(keys[next], hashes[next]),
                        item.size);
                    ++next;
                }
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
    constexpr std::size_t kBatch = 64;
    std::string_view keys[kBatch];
    Cache::Id ids[kBatch];
    for (std::size_t first = 0; first < items.size(); first += kBatch) {
        const std::span<const ReadItem> batch = items.subspan(first, std::min(kBatch, items.size() - first));
        std::size_t n = 0;
        for (const ReadItem& item : batch) {
            if (item.key != nullptr) {
                keys[n++] = item.key;
            }
        }
        space.keys.find_all({keys, n}, {ids, n});
        for (std::size_t i = 0; i < n; ++i) {
            cache.prefetch(ids[i]);
        }
        std::size_t next = 0;
        for (const ReadItem& item : batch) {
            if (item.key == nullptr) {
                continue;
            }
            const Cache::Id id = ids[next++];
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

template <class Word>
std::uint64_t load(const char* at) noexcept {
    Word word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Both halves of a 64 by 64 bit product, folded together.
__extension__ using Wide = unsigned __int128;
std::uint64_t folded(std::uint64_t a, std::uint64_t b) noexcept {
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// The first and the last eight bytes of a key of up to sixteen, with whole
// loads that may overlap (a copy of a varying length would go through
// memory, and wait for it); fewer bytes, as the wide hashes of the same
// shape read them. Two keys may read alike: they are compared whole anyway.
std::pair<std::uint64_t, std::uint64_t> ends_of(const char* at, std::size_t size) noexcept {
    if (size >= 8) {
        return {load<std::uint64_t>(at), load<std::uint64_t>(at + size - 8)};
    }
    if (size >= 4) {
        return {load<std::uint32_t>(at), load<std::uint32_t>(at + size - 4)};
    }
    if (size > 0) {
        const auto byte = [&](std::size_t i) {
            return std::uint64_t{static_cast<unsigned char>(at[i])};
        };
        return {byte(0) << 16 | byte(size / 2) << 8 | byte(size - 1), 0};
    }
    return {0, 0};
}

// 64 bits of a key: sixteen bytes at a time, each pair of words multiplied
// by the other (a fast, well-spread mix for the short keys caches hold).
std::uint64_t hash_of(std::string_view key) noexcept {
    constexpr std::uint64_t kA = 0xa0761d6478bd642fU;
    constexpr std::uint64_t kB = 0xe7037ed1a0b428dbU;
    const char* at = key.data();
    std::size_t left = key.size();
    std::uint64_t seed = 0x9e3779b97f4a7c15U ^ key.size();
    for (; left > 16; at += 16, left -= 16) {
        seed = folded(load<std::uint64_t>(at) ^ kA, load<std::uint64_t>(at + 8) ^ seed);
    }
    const auto [first, last] = ends_of(at, left);
    return folded(kA ^ key.size(), folded(first ^ kA, last ^ seed ^ kB));
}

// Whether two texts of `size` bytes are the same, for the short ones
// without a call.
bool same_bytes(const char* a, const char* b, std::size_t size) noexcept {
    if (size <= 16) {
        const auto [a1, a2] = ends_of(a, size);
        const auto [b1, b2] = ends_of(b, size);
        return ((a1 ^ b1) | (a2 ^ b2)) == 0;  // the ends cover every byte
    }
    return std::memcmp(a, b, size) == 0;
}

}  // namespace

// The slot holding the key, or the empty slot where it would go.
std::size_t KeyTable::probe(std::string_view key, std::uint64_t hash) const noexcept {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.id == Cache::kNone) {
            return at;
        }
        const std::string& name = names_[slot.id].text;
        if (slot.hash == hash && name.size() == key.size() &&
            same_bytes(name.data(), key.data(), key.size())) {
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

void KeyTable::find_all(std::span<const std::string_view> keys, std::span<Id> out,
                        std::uint64_t* hashes_out) const noexcept {
    if (slots_.empty()) {
        std::fill(out.begin(), out.end(), Cache::kNone);
        for (std::size_t i = 0; hashes_out != nullptr && i < keys.size(); ++i) {
            hashes_out[i] = hash_of(keys[i]);
        }
        return;
    }
    constexpr std::size_t kBatch = 64;
    std::uint64_t own[kBatch];
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t first = 0; first < keys.size(); first += kBatch) {
        const std::size_t n = std::min(kBatch, keys.size() - first);
        std::uint64_t* hashes = hashes_out != nullptr ? hashes_out + first : own;
        // The slots, then the names of the first slot each key's hash
        // lands on: almost always its own, or empty.
        for (std::size_t i = 0; i < n; ++i) {
            hashes[i] = hash_of(keys[first + i]);
            __builtin_prefetch(&slots_[hashes[i] & mask]);
        }
        for (std::size_t i = 0; i < n; ++i) {
            const Slot& slot = slots_[hashes[i] & mask];
            if (slot.id != Cache::kNone) {
                __builtin_prefetch(names_[slot.id].text.data());
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            out[first + i] = slots_[probe(keys[first + i], hashes[i])].id;
        }
    }
}

KeyTable::Id KeyTable::intern(std::string_view key) {
    return intern(key, hash_of(key));
}

KeyTable::Id KeyTable::intern(std::string_view key, std::uint64_t hash) {
    std::size_t at = 0;
    if (!slots_.empty()) {
        at = probe(key, hash);
        if (const Id id = slots_[at].id; id != Cache::kNone) {
            return id;
        }
    }
    if (2 * (used_ + 1) > slots_.size()) {
        grow();
        at = probe(key, hash);  // the empty slot it goes to, in the new table
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
    slots_[at] = Slot{hash, id};
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
