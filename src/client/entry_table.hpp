// SPDX-License-Identifier: MIT
// The key -> Entry map of a namespace: open addressing with linear probing
// over a power-of-two array of {hash, node} slots.
//
// Keys are hashed with a seed of the table's own (client/hash.hpp), drawn
// when the slot array is first allocated, so keys built to collide under some
// other hash land apart here. The array grows past a load of 3/4 and shrinks
// by half when the load falls below 1/8: after a shrink the load is 1/4 and
// after a growth 3/8, so a table hovering at either boundary never
// reallocates back and forth. It never shrinks below kShrinkFloor slots: an
// array that small holds little (64 KiB), and measured, reallocating it costs
// more than it saves (a fresh block's first touches cost more than the whole
// scan), which a namespace emptied and refilled in a loop would pay each time.
//
// Every item of every batch looks a key up here, so the table is built for
// that: a lookup masks the cached hash (no division by a prime), compares
// cached hashes before touching a key, and reaches the key and its entry in
// one node. Each node holds the entry and the key's bytes in one allocation,
// so an entry costs one block besides its value, and nodes never move: a
// pointer to an entry stays valid until that entry is replaced or removed,
// however the table grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "client/entry.hpp"
#include "client/hash.hpp"
#include "client/prefetch.hpp"

namespace velk {

// Keys whose cache misses one batched lookup keeps in flight together:
// within what a core can track at once.
inline constexpr std::size_t kPrefetchGroupSize = 16;

class EntryTable {
public:
    // `salt` makes the seeds of tables made at the same address differ
    // (the handle passes a count of the namespaces it made).
    explicit EntryTable(std::uint64_t salt = 0) noexcept : seed_(salt) {}
    EntryTable(EntryTable&& other) noexcept
        : slots_(std::exchange(other.slots_, nullptr)),
          mask_(std::exchange(other.mask_, 0)),
          size_(std::exchange(other.size_, 0)),
          seed_(other.seed_) {}
    EntryTable& operator=(EntryTable&& other) noexcept {
        if (this != &other) {
            release();
            slots_ = std::exchange(other.slots_, nullptr);
            mask_ = std::exchange(other.mask_, 0);
            size_ = std::exchange(other.size_, 0);
            seed_ = other.seed_;
        }
        return *this;
    }
    EntryTable(const EntryTable&) = delete;
    EntryTable& operator=(const EntryTable&) = delete;
    ~EntryTable() { release(); }

    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
    static constexpr std::size_t kShrinkFloor = 4096;

    // The hash seed (the salt until the first insert draws it).
    [[nodiscard]] std::uint64_t seed() const noexcept { return seed_; }

    // Slots in the array (0 before the first insert).
    [[nodiscard]] std::size_t capacity() const noexcept { return slots_ != nullptr ? mask_ + 1 : 0; }

    Entry* find(std::string_view key) noexcept {
        const std::size_t at = locate(key, hash(key));
        return at == kNone ? nullptr : &slots_[at].node->entry;
    }
    const Entry* find(std::string_view key) const noexcept {
        const std::size_t at = locate(key, hash(key));
        return at == kNone ? nullptr : &slots_[at].node->entry;
    }

    // Brings toward the cache what a batch is about to touch, so that the
    // batch's lookups, done afterwards one by one and in order, find it
    // there. A lookup in a large table waits for three misses in a row (its
    // home slot, then the node the slot points at, then the value); here
    // the keys of a group are hashed first and every home slot requested,
    // then every matching node, then every value and metadata list, so the
    // misses of a whole group are in flight together. Only hints: nothing
    // is kept, so later changes by the batch itself (a put, a delete)
    // cannot make it wrong. Tables small enough to sit in the cache skip
    // it: there it would only cost the hashing twice. `key_at(i)` gives key
    // i as a C text, or null.
    template <class KeyAt>
    void prefetch(std::size_t count, KeyAt&& key_at) const noexcept {
        if (capacity() < kPrefetchFrom || count < 2) {
            return;
        }
        for (std::size_t start = 0; start < count; start += kPrefetchGroup) {
            Group group;
            group.request(*this, start, count, key_at);
        }
    }

    // Looks up `count` keys (`key_at(i)` as for prefetch) and writes each
    // one's entry, or null, to found[i]. For a large table this is the
    // prefetch step fused with the lookups: each key is hashed once, and the
    // key texts of the next group are requested while this group is hashed,
    // since the caller's texts are misses of their own when it holds many
    // keys in separate heap blocks.
    template <class KeyAt>
    void find_many(std::size_t count, KeyAt&& key_at, const Entry** found) const noexcept {
        if (capacity() < kPrefetchFrom || count < 2) {
            for (std::size_t i = 0; i < count; ++i) {
                const char* key = key_at(i);
                found[i] = key != nullptr ? find(std::string_view(key)) : nullptr;
            }
            return;
        }
        for (std::size_t i = 0; i < count && i < kPrefetchGroup; ++i) {
            prefetch_key(key_at(i));
        }
        for (std::size_t start = 0; start < count; start += kPrefetchGroup) {
            for (std::size_t i = start + kPrefetchGroup; i < count && i < start + 2 * kPrefetchGroup; ++i) {
                prefetch_key(key_at(i));
            }
            Group group;
            group.request(*this, start, count, key_at);
            for (std::size_t i = 0; i < group.n; ++i) {
                const std::size_t at =
                    group.keys[i].data() != nullptr ? locate(group.keys[i], group.hashes[i]) : kNone;
                found[start + i] = at == kNone ? nullptr : &slots_[at].node->entry;
            }
        }
    }

    // Adds a key that is not in the table. Throws std::bad_alloc, leaving
    // the table's contents as they were.
    Entry& insert(std::string_view key, Entry&& entry) {
        if ((size_ + 1) * 4 > capacity() * 3) {
            resize(capacity() == 0 ? kMinCapacity : capacity() * 2);
        }
        Node* node = Node::make(key, std::move(entry));
        const std::uint64_t h = hash(key);
        std::size_t at = h & mask_;
        while (slots_[at].node != nullptr) {
            at = (at + 1) & mask_;
        }
        slots_[at] = Slot{h, node};
        ++size_;
        return node->entry;
    }

    // Removes the key; returns the length of the value it held, or nothing
    // if it was not there.
    std::optional<std::size_t> erase(std::string_view key) noexcept {
        std::size_t hole = locate(key, hash(key));
        if (hole == kNone) {
            return std::nullopt;
        }
        const std::size_t value_size = slots_[hole].node->entry.value.size();
        Node::destroy(slots_[hole].node);
        // Backward-shift deletion: pull later members of the probe run into
        // the hole, so no tombstones ever slow lookups down.
        for (std::size_t next = (hole + 1) & mask_; slots_[next].node != nullptr; next = (next + 1) & mask_) {
            const std::size_t home = slots_[next].hash & mask_;
            const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
            if (!stays) {
                slots_[hole] = slots_[next];
                hole = next;
            }
        }
        slots_[hole] = Slot{};
        --size_;
        if (capacity() > kShrinkFloor && size_ * 8 < capacity()) {
            try {
                resize(capacity() / 2);
            } catch (const std::bad_alloc&) {
                // A sparse table is still a correct one: keep the larger array.
            }
        }
        return value_size;
    }

private:
    struct Node {
        Entry entry;
        std::size_t key_size;
        // The key's bytes follow the node in the same block.

        [[nodiscard]] const char* key_bytes() const noexcept {
            return reinterpret_cast<const char*>(this + 1);
        }
        [[nodiscard]] std::string_view key() const noexcept { return {key_bytes(), key_size}; }
        static Node* make(std::string_view key, Entry&& entry) {
            void* block = ::operator new(sizeof(Node) + key.size());
            Node* node = new (block) Node{std::move(entry), key.size()};
            if (!key.empty()) {
                std::memcpy(const_cast<char*>(node->key_bytes()), key.data(), key.size());
            }
            return node;
        }
        static void destroy(Node* node) noexcept {
            node->~Node();
            ::operator delete(node);
        }
    };
    struct Slot {
        std::uint64_t hash = 0;
        Node* node = nullptr;
    };
    static void prefetch_key(const char* key) noexcept {
        if (key != nullptr) {
            prefetch_line(key);
        }
    }

    // One group of a batch on its way toward the cache: its keys hashed,
    // their home slots, matching nodes, values and metadata requested.
    struct Group {
        std::size_t n = 0;
        std::string_view keys[kPrefetchGroupSize];
        std::uint64_t hashes[kPrefetchGroupSize];

        template <class KeyAt>
        void request(const EntryTable& table, std::size_t start, std::size_t count, KeyAt& key_at) noexcept {
            n = count - start < kPrefetchGroupSize ? count - start : kPrefetchGroupSize;
            const Node* nodes[kPrefetchGroupSize];
            for (std::size_t i = 0; i < n; ++i) {
                const char* key = key_at(start + i);
                keys[i] = key != nullptr ? std::string_view(key) : std::string_view();
                hashes[i] = key != nullptr ? table.hash(keys[i]) : 0;
                nodes[i] = nullptr;
                if (key != nullptr) {
                    prefetch_line(&table.slots_[hashes[i] & table.mask_]);
                }
            }
            for (std::size_t i = 0; i < n; ++i) {
                if (keys[i].data() == nullptr) {
                    continue;
                }
                // The first slot of the run whose cached hash matches: a
                // mismatch of the key itself is the lookup's business.
                for (std::size_t at = hashes[i] & table.mask_; table.slots_[at].node != nullptr;
                     at = (at + 1) & table.mask_) {
                    if (table.slots_[at].hash == hashes[i]) {
                        nodes[i] = table.slots_[at].node;
                        prefetch_line(nodes[i]);
                        break;
                    }
                }
            }
            // The value, and the metadata list a query copies out (which
            // sits two pointers away: the list, then its pairs).
            for (std::size_t i = 0; i < n; ++i) {
                if (nodes[i] != nullptr) {
                    prefetch_line(nodes[i]->entry.value.data());
                    if (nodes[i]->entry.metadata) {
                        prefetch_line(nodes[i]->entry.metadata.get());
                    }
                }
            }
            for (std::size_t i = 0; i < n; ++i) {
                if (nodes[i] != nullptr && nodes[i]->entry.metadata && !nodes[i]->entry.metadata->empty()) {
                    // A pair holds two texts (64 bytes): the first and the
                    // last pair cover the short lists that tests use.
                    prefetch_line(&nodes[i]->entry.metadata->front());
                    prefetch_line(&nodes[i]->entry.metadata->back());
                }
            }
        }
    };

    static constexpr std::size_t kNone = ~std::size_t{0};
    // Below 2^16 slots (1 MiB) the slots and their nodes mostly sit in the
    // cache already; groups of 16 keep the misses in flight within what a
    // core can track at once.
    static constexpr std::size_t kPrefetchFrom = std::size_t{1} << 16;
    static constexpr std::size_t kPrefetchGroup = kPrefetchGroupSize;
    static constexpr std::size_t kMinCapacity = 8;

    [[nodiscard]] std::uint64_t hash(std::string_view key) const noexcept { return keyed_hash(key, seed_); }

    std::size_t locate(std::string_view key, std::uint64_t h) const noexcept {
        if (slots_ == nullptr) {
            return kNone;
        }
        for (std::size_t at = h & mask_;; at = (at + 1) & mask_) {
            const Slot& slot = slots_[at];
            if (slot.node == nullptr) {
                return kNone;
            }
            if (slot.hash == h && slot.node->key() == key) {
                return at;
            }
        }
    }

    // Moves every slot into a new array of `wanted` slots, by cached hash.
    void resize(std::size_t wanted) {
        Slot* fresh = new Slot[wanted]();  // the only step that can fail
        if (slots_ == nullptr) {
            // Nothing is hashed yet, so this is when the seed is drawn.
            seed_ = make_seed(this, fresh, seed_);
        }
        const std::size_t mask = wanted - 1;
        for (std::size_t i = 0; i < capacity(); ++i) {
            if (slots_[i].node != nullptr) {
                std::size_t at = slots_[i].hash & mask;
                while (fresh[at].node != nullptr) {
                    at = (at + 1) & mask;
                }
                fresh[at] = slots_[i];
            }
        }
        delete[] slots_;
        slots_ = fresh;
        mask_ = mask;
    }

    void release() noexcept {
        for (std::size_t i = 0; i < capacity(); ++i) {
            if (slots_[i].node != nullptr) {
                Node::destroy(slots_[i].node);
            }
        }
        delete[] slots_;
        slots_ = nullptr;
        mask_ = 0;
        size_ = 0;
    }

    Slot* slots_ = nullptr;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
    std::uint64_t seed_ = 0;  // the salt until the first array is made
};

}  // namespace velk
