// The handle and the in-memory store: velk_client owns a map of Namespace,
// each owning a map of Entry. Everything below the exported functions works on
// these records; nothing here knows about the C records of the public header
// except the node table, which is kept in its public form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "client/constants.hpp"
#include "velkmock.h"

namespace velk {

// Transparent hashing lets every lookup go by std::string_view over the
// caller's text, so finding a namespace or a key never allocates.
struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

template <class Value>
using StringMap = std::unordered_map<std::string, Value, StringHash, std::equal_to<>>;

// A value's bytes: pointer and length only. A stored value never grows after
// the put that built it, so a vector's capacity word would be dead weight in
// every one of possibly millions of entries.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::size_t size)
        : data_(size != 0 ? new unsigned char[size] : nullptr), size_(size) {}

    [[nodiscard]] const unsigned char* data() const noexcept { return data_.get(); }
    [[nodiscard]] unsigned char* data() noexcept { return data_.get(); }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }

private:
    std::unique_ptr<unsigned char[]> data_;
    std::size_t size_ = 0;
};

struct MetaPair {
    std::string key;
    std::string value;
};
using MetaList = std::vector<MetaPair>;

// One stored value. Most entries carry no metadata, so the list lives behind
// a pointer that stays null until a put supplies a pair.
struct Entry {
    Bytes value;
    std::unique_ptr<MetaList> metadata;
    std::uint32_t tag = 0;
    std::int32_t replica_count = 1;

    Entry() = default;
    Entry(Entry&&) noexcept = default;
    Entry& operator=(Entry&&) noexcept = default;
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    [[nodiscard]] std::size_t metadata_size() const noexcept {
        return metadata ? metadata->size() : 0;
    }
};

struct Namespace {
    StringMap<Entry> entries;
    std::int64_t capacity_bytes = 0;
    std::string eviction_policy{kDefaultPolicy};
    double policy_param = 0.0;
    std::int64_t created_at_ms = kFixedTimeMs;

    Namespace() = default;
    Namespace(Namespace&&) noexcept = default;
    Namespace& operator=(Namespace&&) noexcept = default;
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;
};

// Looks a key up in one namespace without inserting; null when absent.
// Inline: it runs once per item of every read.
inline const Entry* find_in_namespace(const Namespace& space, std::string_view key) noexcept {
    const auto it = space.entries.find(key);
    return it == space.entries.end() ? nullptr : &it->second;
}

// Namespace name and key to the stored entry, creating nothing. The caller
// holds the handle's lock; the pointer is valid while it does and the entry
// is neither replaced nor deleted.
const Entry* find_entry(const velk_client* client, const char* ns, const char* key) noexcept;

// A fully set-up handle, or null when memory runs out.
velk_client* create_client() noexcept;

}  // namespace velk

// The handle. Declared incomplete in the public header; defined here, in the
// global namespace, so that the C and C++ views name the same type. Each
// handle gets cache lines of its own: two handles used from two threads
// never contend, not even through a shared line holding both locks.
struct alignas(64) velk_client {
    std::mutex lock;
    velk::StringMap<velk::Namespace> namespaces;
    std::vector<velk_node_info_t> nodes;
};

namespace velk {

// Looks a namespace up without inserting; null when absent.
inline Namespace* find_namespace(velk_client& client, std::string_view ns) noexcept {
    const auto it = client.namespaces.find(ns);
    return it == client.namespaces.end() ? nullptr : &it->second;
}
inline const Namespace* find_namespace(const velk_client& client, std::string_view ns) noexcept {
    const auto it = client.namespaces.find(ns);
    return it == client.namespaces.end() ? nullptr : &it->second;
}

}  // namespace velk
