// SPDX-License-Identifier: MIT
// What the interposer hands the cache mode of each call: which calls it
// sees, the sizes of a put's items and what became of them, what a read
// found, which keys a delete removed. forward.cpp does the calls; this
// reads their records, only as far as the library read them itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "faults/cache_engine.hpp"
#include "faults/decision.hpp"
#include "faults/layer.hpp"
#include "journal/calls.hpp"
#include "velkmock.h"

namespace velkfault::cache_calls {

using cache::kLowLevelNamespace;

// The cache mode sees a call once: the outermost call of this thread into
// this library. What the next library calls of itself inside it (the
// mock's low-level calls go through its ordinary ones, its flat delete
// through the one with items) is part of that call and not seen again;
// the program's own code that a get's callback runs is the program's, and
// its calls are seen (ProgramCode). Off, this is one relaxed load.
inline thread_local int depth = 0;

class Observed {
public:
    Observed() noexcept : on_(cache::process_on() && depth == 0) {
        if (on_) {
            ++depth;
        }
    }
    ~Observed() {
        if (on_) {
            --depth;
        }
    }
    Observed(const Observed&) = delete;
    Observed& operator=(const Observed&) = delete;
    explicit operator bool() const noexcept { return on_; }

private:
    bool on_;
};

class ProgramCode {
public:
    ProgramCode() noexcept : saved_(depth) { depth = 0; }
    ~ProgramCode() { depth = saved_; }
    ProgramCode(const ProgramCode&) = delete;
    ProgramCode& operator=(const ProgramCode&) = delete;

private:
    int saved_;
};

// Room for the items of a call: on the stack for a batch of up to 64 (what
// programs send), else on the heap (which may throw std::bad_alloc).
template <class T>
class Scratch {
public:
    explicit Scratch(std::size_t n) : size_(n) {
        if (n > kOnStack) {
            heap_.resize(n);
        }
    }
    T* data() noexcept { return size_ > kOnStack ? heap_.data() : stack_; }
    T& operator[](std::size_t i) noexcept { return data()[i]; }
    std::span<T> span() noexcept { return {data(), size_}; }
    std::size_t size() const noexcept { return size_; }

private:
    static constexpr std::size_t kOnStack = 64;
    std::size_t size_;
    T stack_[kOnStack];
    std::vector<T> heap_;
};

// A put item's value length, for an item the library would store (its own
// test of the item passes); 0 for one it refuses, whose arrays it reads no
// further.
template <class Item>
std::uint64_t put_size(const Item& item) noexcept {
    std::int32_t metadata_count = 0;
    if constexpr (requires { item.metadata_count; }) {
        metadata_count = item.metadata_count;
    }
    if (journal::put_refused_after(item.key, item.value_parts, item.value_part_lens, item.value_part_count,
                                   metadata_count) >= 0) {
        return 0;
    }
    std::uint64_t size = 0;
    for (std::int32_t j = 0; j < item.value_part_count; ++j) {
        const std::uint64_t part = item.value_part_lens[j];
        size = part > std::numeric_limits<std::uint64_t>::max() - size
                   ? std::numeric_limits<std::uint64_t>::max()
                   : size + part;
    }
    return size;
}

// The items of a put the cache mode refuses, besides what a plan drops:
// every item starts Pending (a plan's dropped one NotStored), refuse()
// decides, and the drops handed to the fault layer are the plan's and the
// refusals, by item (a refused item's status: VELK_ERR_NO_MEMORY).
template <class Item>
void refusals(const void* client, const char* ns, const Item* items, std::span<const Drop> plan,
              std::span<cache::Fate> fates, std::span<std::uint64_t> sizes, std::vector<Drop>& drops) {
    const std::size_t n = fates.size();
    layer::Dropped dropped(plan);
    for (std::size_t i = 0; i < n; ++i) {
        fates[i] = dropped.at(i) != nullptr ? cache::Fate::NotStored : cache::Fate::Pending;
        sizes[i] = put_size(items[i]);
    }
    cache::engine().refuse(client, ns, sizes, fates);
    layer::Dropped again(plan);
    for (std::size_t i = 0; i < n; ++i) {
        if (const Drop* drop = again.at(i); drop != nullptr) {
            drops.push_back(*drop);
        } else if (fates[i] == cache::Fate::Refused) {
            drops.push_back(Drop{static_cast<std::int32_t>(i), VELK_ERR_NO_MEMORY});
        }
    }
}

// What a put stored, from its answer (the sizes refusals() found); returns
// the victims to remove.
template <class Item>
std::vector<cache::Victim> stored(const void* client, const char* ns, const Item* items,
                                  const velk_put_result_t* results, std::int32_t rc,
                                  std::span<cache::Fate> fates, std::span<const std::uint64_t> sizes) {
    const std::size_t n = fates.size();
    Scratch<std::int32_t> statuses(n);
    Scratch<cache::PutItem> put(n);
    for (std::size_t i = 0; i < n; ++i) {
        statuses[i] = results[i].status;
    }
    cache::settle_fates(rc, statuses.span(), fates);
    for (std::size_t i = 0; i < n; ++i) {
        put[i] = cache::PutItem{items[i].key, sizes[i], fates[i]};
    }
    return cache::engine().stored(client, ns, put.span());
}

// What each item of a read found, in batches of 64 (one lock each): `item`
// gives item i's key and what it saw.
template <class Item>
void read(const void* client, const char* ns, std::size_t count, Item&& item) {
    constexpr std::size_t kChunk = 64;
    cache::ReadItem chunk[kChunk];
    for (std::size_t first = 0; first < count; first += kChunk) {
        const std::size_t n = count - first < kChunk ? count - first : kChunk;
        for (std::size_t i = 0; i < n; ++i) {
            chunk[i] = item(first + i);
        }
        cache::engine().read(client, ns, std::span<const cache::ReadItem>(chunk, n));
    }
}

inline bool filtered(const velk_get_item_t& item) noexcept {
    return item.meta_filter != nullptr && item.meta_filter_count > 0;
}

// The keys a delete removed (status 0, not an item the plan dropped), in
// batches of 64.
template <class Status>
void deleted(const void* client, const char* ns, std::size_t count, std::span<const Drop> plan,
             Status&& key_if_removed) {
    constexpr std::size_t kChunk = 64;
    const char* chunk[kChunk];
    std::size_t n = 0;
    layer::Dropped dropped(plan);
    for (std::size_t i = 0; i < count; ++i) {
        const char* key = dropped.at(i) == nullptr ? key_if_removed(i) : nullptr;
        if (key != nullptr) {
            chunk[n++] = key;
        }
        if (n == kChunk || (i + 1 == count && n > 0)) {
            cache::engine().deleted(client, ns, std::span<const char* const>(chunk, n));
            n = 0;
        }
    }
}

}  // namespace velkfault::cache_calls
