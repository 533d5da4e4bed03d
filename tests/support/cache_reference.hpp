// SPDX-License-Identifier: MIT
// The cache mode's rules (velkfault.h, "The cache mode") for one handle's
// namespace, done the slow and obvious way: a plain list in the order the
// entries were first stored, searched whole for each victim. The engine's
// tests and the tests of the cache mode in front of a store both hold
// their answers against it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "faults/cache_engine.hpp"

namespace cache_test {

namespace cache = velkfault::cache;
using Items = std::vector<std::pair<std::string, std::uint64_t>>;
using Space = std::map<std::string, std::uint64_t>;

class Reference {
public:
    Reference(std::uint64_t capacity, std::string policy, std::uint64_t seed)
        : capacity_(capacity), policy_(std::move(policy)), state_(seed) {}

    void configure(std::uint64_t capacity, std::string policy) {
        capacity_ = capacity;
        policy_ = std::move(policy);
    }
    bool bounded() const {
        return capacity_ > 0 && std::set<std::string>{"lru", "lfu", "fifo", "random"}.count(policy_) > 0;
    }

    std::vector<std::string> put(const Items& items) {
        std::vector<std::string> stored;
        for (const auto& [key, size] : items) {
            if (bounded() && size > capacity_) {
                ++stats.refused;
                continue;
            }
            ++clock_;
            if (Entry* entry = find(key)) {
                known_ = known_ - entry->size + size;
                entry->size = size;
                ++entry->uses;
                entry->last_use = clock_;
            } else {
                entries_.push_back({key, size, clock_, 1});
                known_ += size;
            }
            stored.push_back(key);
        }
        std::vector<std::string> exempt;  // by the last item that stored each
        for (std::size_t i = stored.size(); i-- > 0;) {
            if (std::find(exempt.begin(), exempt.end(), stored[i]) == exempt.end()) {
                exempt.insert(exempt.begin(), stored[i]);
            }
        }
        std::vector<std::string> victims;
        while (bounded() && known_ > capacity_) {
            std::vector<std::list<Entry>::iterator> candidates;
            for (auto it = entries_.begin(); it != entries_.end(); ++it) {
                if (std::find(exempt.begin(), exempt.end(), it->key) == exempt.end()) {
                    candidates.push_back(it);
                }
            }
            if (candidates.empty()) {
                break;
            }
            auto victim = candidates.front();  // fifo: stored first
            for (const auto it : candidates) {
                if ((policy_ == "lru" && it->last_use < victim->last_use) ||
                    (policy_ == "lfu" &&
                     std::pair(it->uses, it->last_use) < std::pair(victim->uses, victim->last_use))) {
                    victim = it;
                }
            }
            if (policy_ == "random") {
                victim = candidates[next() % candidates.size()];
            }
            evict(victim, victims);
        }
        for (const std::string& key : exempt) {
            if (!bounded() || known_ <= capacity_) {
                break;
            }
            evict(
                std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; }),
                victims);
        }
        stats.peak_bytes = std::max(stats.peak_bytes, known_);
        return victims;
    }
    void read(const std::string& key, cache::Seen seen) {
        Entry* entry = find(key);
        if (seen == cache::Seen::Found ||
            (seen == cache::Seen::Nothing && entry != nullptr && entry->size == 0)) {
            ++stats.hits;
            if (entry != nullptr) {
                ++entry->uses;
                entry->last_use = ++clock_;
            }
        } else {
            ++stats.misses;
        }
    }
    void remove(const std::string& key) {
        entries_.remove_if([&](const Entry& e) {
            if (e.key == key) {
                known_ -= e.size;
            }
            return e.key == key;
        });
    }
    void clear() {
        entries_.clear();
        known_ = 0;
    }
    Space entries() const {
        Space all;
        for (const Entry& entry : entries_) {
            all[entry.key] = entry.size;
        }
        return all;
    }

    cache::Stats stats;

private:
    struct Entry {
        std::string key;
        std::uint64_t size;
        std::uint64_t last_use;
        std::uint64_t uses;
    };
    Entry* find(const std::string& key) {
        for (Entry& entry : entries_) {
            if (entry.key == key) {
                return &entry;
            }
        }
        return nullptr;
    }
    void evict(std::list<Entry>::iterator it, std::vector<std::string>& victims) {
        victims.push_back(it->key);
        known_ -= it->size;
        ++stats.evictions;
        stats.evicted_bytes += it->size;
        entries_.erase(it);
    }
    std::uint64_t next() {  // SplitMix64
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15U);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9U;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebU;
        return z ^ (z >> 31);
    }

    std::uint64_t capacity_;
    std::string policy_;
    std::uint64_t state_;
    std::list<Entry> entries_;  // in the order they were first stored
    std::uint64_t known_ = 0;
    std::uint64_t clock_ = 0;
};

// The same counts, each named when it differs.
inline void expect_same(const cache::Stats& a, const cache::Stats& b) {
    EXPECT_EQ(a.hits, b.hits);
    EXPECT_EQ(a.misses, b.misses);
    EXPECT_EQ(a.evictions, b.evictions);
    EXPECT_EQ(a.evicted_bytes, b.evicted_bytes);
    EXPECT_EQ(a.refused, b.refused);
    EXPECT_EQ(a.peak_bytes, b.peak_bytes);
}

}  // namespace cache_test
