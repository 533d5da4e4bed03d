// SPDX-License-Identifier: MIT
// What libvelkfault does around each call in cache mode, in front of a store
// that keeps only value sizes: the engine decides, the store loses the
// victims. Tests drive the engine through it as the interposer will, and
// see what a program would see.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "faults/cache_engine.hpp"

namespace cache_test {

namespace cache = velkfault::cache;
using Items = std::vector<std::pair<std::string, std::uint64_t>>;
using Space = std::map<std::string, std::uint64_t>;

class Front {
public:
    explicit Front(cache::Engine& engine) : engine_(engine) {}

    void create(const void* handle) { engine_.created(handle); }
    void destroy(const void* handle) {
        engine_.destroyed(handle);
        for (auto it = store_.begin(); it != store_.end();) {
            it = it->first.first == handle ? store_.erase(it) : std::next(it);
        }
    }
    void declare(const void* handle, const std::string& ns, std::int64_t capacity, const char* policy) {
        engine_.declared(handle, ns, capacity, policy, true);
    }
    void drop(const void* handle, const std::string& ns) {
        store_.erase({handle, ns});
        engine_.namespace_deleted(handle, ns);
    }
    // Another writer's entry: the store has it, the engine never saw it.
    void foreign(const void* handle, const std::string& ns, const std::string& key, std::uint64_t size) {
        store_[{handle, ns}][key] = size;
    }

    struct Put {
        std::vector<cache::Fate> fates;
        std::vector<std::string> victims;
    };
    Put put(const void* handle, const std::string& ns, const Items& items) {
        Put result;
        std::vector<std::uint64_t> sizes;
        for (const auto& item : items) {
            sizes.push_back(item.second);
        }
        result.fates.assign(items.size(), cache::Fate::Pending);
        engine_.refuse(handle, ns, sizes, result.fates);
        Space& space = store_[{handle, ns}];
        std::vector<std::int32_t> statuses(items.size(), 0);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (result.fates[i] == cache::Fate::Pending) {
                space[items[i].first] = items[i].second;
            }
        }
        cache::settle_fates(0, statuses, result.fates);
        std::vector<cache::PutItem> put_items;
        for (std::size_t i = 0; i < items.size(); ++i) {
            put_items.push_back({items[i].first.c_str(), items[i].second, result.fates[i]});
        }
        for (const cache::Victim& victim : engine_.stored(handle, ns, put_items)) {
            space.erase(victim.key);
            result.victims.push_back(victim.key);
        }
        return result;
    }
    // A get (an empty value reports as nothing) or a query: what it saw of
    // each key.
    std::vector<cache::Seen> read(const void* handle, const std::string& ns,
                                  const std::vector<std::string>& keys, bool query) {
        const Space& space = store_[{handle, ns}];
        std::vector<cache::ReadItem> items;
        std::vector<cache::Seen> seen;
        for (const std::string& key : keys) {
            const auto it = space.find(key);
            seen.push_back(it == space.end()           ? cache::Seen::NotFound
                           : it->second == 0 && !query ? cache::Seen::Nothing
                                                       : cache::Seen::Found);
            items.push_back({key.c_str(), seen.back()});
        }
        engine_.read(handle, ns, items);
        return seen;
    }
    void remove(const void* handle, const std::string& ns, const std::vector<std::string>& keys) {
        Space& space = store_[{handle, ns}];
        std::vector<const char*> removed;
        for (const std::string& key : keys) {
            if (space.erase(key) > 0) {
                removed.push_back(key.c_str());
            }
        }
        engine_.deleted(handle, ns, removed);
    }
    const Space& space(const void* handle, const std::string& ns) { return store_[{handle, ns}]; }

private:
    cache::Engine& engine_;
    std::map<std::pair<const void*, std::string>, Space> store_;
};

}  // namespace cache_test
