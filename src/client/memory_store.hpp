// SPDX-License-Identifier: MIT
// The in-memory store: the handle velk_client owns a map of Namespace, each
// owning a table of Entry, and the lock that makes every store call one
// step. Only client/memory_store.cpp (and the white-box tests) see these
// records; the front reaches them through the seam of client/store.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "client/constants.hpp"
#include "client/entry_table.hpp"
#include "velkmock.h"

namespace velk {

// Transparent hashing lets a namespace lookup go by std::string_view over the
// caller's text, so finding a namespace never allocates (keys are found the
// same way, in EntryTable).
struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

template <class Value>
using StringMap = std::unordered_map<std::string, Value, StringHash, std::equal_to<>>;

struct Namespace {
    EntryTable entries;
    std::int64_t capacity_bytes = 0;
    std::string eviction_policy{kDefaultPolicy};
    double policy_param = 0.0;
    std::int64_t created_at_ms = kFixedTimeMs;
    // The sum of the value lengths of `entries`, kept exact by put and delete
    // (the only writers) so that describing a namespace costs the same at any
    // size instead of a walk over every slot.
    std::uint64_t used_bytes = 0;

    explicit Namespace(std::uint64_t salt = 0) noexcept : entries(salt) {}
    Namespace(Namespace&&) noexcept = default;
    Namespace& operator=(Namespace&&) noexcept = default;
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;
};

// Namespace name and key to the stored entry, creating nothing. The caller
// holds the handle's lock; the pointer is valid while it does and the entry
// is neither replaced nor deleted.
const Entry* find_entry(const velk_client* client, const char* ns, const char* key) noexcept;

}  // namespace velk

// The handle. Declared incomplete in the public header; defined here, in the
// global namespace, so that the C and C++ views name the same type. Each
// handle gets cache lines of its own: two handles used from two threads
// never contend, not even through a shared line holding both locks.
struct alignas(64) velk_client {
    std::mutex lock;
    velk::StringMap<velk::Namespace> namespaces;
    std::vector<velk_node_info_t> nodes;
    // Namespaces made so far: salts each new table's hash seed.
    std::uint64_t namespaces_made = 0;
};

namespace velk {

// Looks a namespace up without inserting; null when absent.
inline Namespace* find_namespace(velk_client& client, std::string_view ns) noexcept {
    const auto it = client.namespaces.find(ns);
    return it == client.namespaces.end() ? nullptr : &it->second;
}

}  // namespace velk
