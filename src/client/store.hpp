// SPDX-License-Identifier: MIT
// The seam between the front and a store.
//
// The front is the 28 exported functions (client/, data/, namespaces/,
// topology/, lowlevel/): it owns every rule a caller can observe, the
// argument checks and their order, the per-item checks, the records it
// clears and fills, the texts and the codes. A store only keeps namespaces
// and entries, and hands back what it holds. Each library links the front
// with exactly one store, so every call below is a plain direct call; a
// batch crosses the seam once per chunk of at most kChunk items (a call to
// a FunctionRef), never once per item.
//
// Every call is one step for every other call on the same store: what a
// call hands to its sinks describes one state of the store. How a store
// makes it so is its own business (the in-memory store holds its handle's
// lock for the whole call, sinks included; the shared store runs one
// script, transaction or command on its server and calls the sinks
// afterwards, on copies, with no lock).
// Sinks may throw or unwind (a caller's callback runs inside the get sink):
// a store lets that pass and releases whatever it holds on the way.
//
// Codes: a store call returns VELK_OK, a code of the library that the front
// passes on or reads (each call says which), VELK_ERR_NO_MEMORY, or a
// negative code of its own for a failure of its medium. The front passes
// such a failure on and writes no output record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "velkmock.h"

namespace velk {

// Items per chunk: a chunk of records or lookups lives on the stack.
inline constexpr std::size_t kChunk = 64;

// A reference to a callable: one indirect call, no allocation. The callable
// must outlive the reference (it is always a lambda of the calling frame).
template <class Signature>
class FunctionRef;
template <class Result, class... Args>
class FunctionRef<Result(Args...)> {
public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
    // NOLINTNEXTLINE(bugprone-forwarding-reference-overload): the enable_if keeps copies apart
    FunctionRef(F&& f) noexcept  // NOLINT(google-explicit-constructor): lambdas convert in place
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* object, Args... args) -> Result {
              return (*static_cast<std::remove_reference_t<F>*>(object))(args...);
          }) {}
    // The arguments are scalars and pointers, passed on by value: taking
    // their addresses (std::forward) would give these frames stack redzones
    // under AddressSanitizer, which a forced unwind from a caller's callback
    // (a thread that exits) skips and leaves poisoned.
    Result operator()(Args... args) const { return call_(object_, args...); }

private:
    void* object_;
    Result (*call_)(void*, Args...);
};

// The keys of a batch as the caller laid them out: key pointers `stride`
// bytes apart. The same view serves records whose first field is the key
// (get and delete items) and flat key arrays. A key may be null; a store
// finds nothing under it.
class KeyList {
public:
    KeyList(const char* const* first, std::size_t stride, std::size_t count) noexcept
        : first_(reinterpret_cast<const unsigned char*>(first)), stride_(stride), count_(count) {}
    static KeyList flat(const char* const* keys, std::size_t count) noexcept {
        return {keys, sizeof(const char*), count};
    }
    template <class Record>
    static KeyList of(const Record* records, std::size_t count) noexcept {
        static_assert(std::is_standard_layout_v<Record>, "a plain record whose first field is its key");
        return {&records->key, sizeof(Record), count};
    }

    [[nodiscard]] std::size_t size() const noexcept { return count_; }
    const char* operator[](std::size_t i) const noexcept {
        return *reinterpret_cast<const char* const*>(first_ + i * stride_);
    }

private:
    const unsigned char* first_;
    std::size_t stride_;
    std::size_t count_;
};

// A metadata pair as a store keeps it.
struct MetaPair {
    std::string key;
    std::string value;
};

// The value of a put item: its parts, stored concatenated. The rules of
// the parts live here, once, for every store.
struct ValueParts {
    const void* const* parts = nullptr;
    const std::size_t* lens = nullptr;
    std::int32_t count = 0;

    // The concatenated length. Throws std::bad_array_new_length for a sum no
    // allocator could serve, the same failure as running out.
    [[nodiscard]] std::size_t size() const {
        std::size_t total = 0;
        for (std::int32_t j = 0; j < count; ++j) {
            if (__builtin_add_overflow(total, lens[j], &total)) {
                throw std::bad_array_new_length();
            }
        }
        return total;
    }
    // Writes the parts one after another; a part of length 0 is skipped
    // without its pointer being read.
    void copy_to(unsigned char* out) const noexcept {
        for (std::int32_t j = 0; j < count; ++j) {
            if (lens[j] != 0) {
                std::memcpy(out, parts[j], lens[j]);
                out += lens[j];
            }
        }
    }
};

// The metadata of a put item: only pairs with both texts are kept, in
// their order, duplicates included.
struct MetaSource {
    const velk_meta_pair_t* pairs = nullptr;
    std::int32_t count = 0;

    [[nodiscard]] std::size_t kept() const noexcept {
        std::size_t n = 0;
        for_each([&n](std::string_view, std::string_view) { ++n; });
        return n;
    }
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (std::int32_t j = 0; pairs != nullptr && j < count; ++j) {
            if (pairs[j].key != nullptr && pairs[j].value != nullptr) {
                visit(std::string_view(pairs[j].key), std::string_view(pairs[j].value));
            }
        }
    }
};

// One item of a put, as the front hands it over: checked, normalised.
struct PutRecord {
    std::string_view key;
    ValueParts value;
    MetaSource metadata;
    std::uint32_t tag;
    std::int32_t replica_count;  // at least 1
    bool valid;                  // false: the front refused the item; the store skips it
    // Written by the store for a valid record: VELK_OK once stored, or
    // VELK_ERR_NO_MEMORY when the store has no room for this one item.
    std::int32_t status;
};

// What a store holds under one key, as a read hands it over. The pointers
// are valid during the sink call only.
struct Found {
    const unsigned char* value;  // may be null when length is 0
    std::size_t length;
    const MetaPair* metadata;
    std::size_t metadata_count;
    std::uint32_t tag;
    std::int32_t replica_count;
    bool present;
};

// What a read must bring along. A store may bring more.
enum ReadWants : unsigned {
    kReadValues = 1U,    // the value bytes (get, get-into), not only their length (query)
    kReadMetadata = 2U,  // the metadata pairs
};

// A namespace as described by get and list.
struct NamespaceView {
    std::string_view name;
    std::int64_t capacity_bytes;
    std::string_view eviction_policy;
    double policy_param;
    std::int64_t created_at_ms;
    std::uint64_t used_bytes;
};

// The settings a namespace create stores (the front has chosen the policy)
// and an update's changes (a null policy keeps the stored one).
struct NamespaceSettings {
    std::int64_t capacity_bytes;
    std::string_view eviction_policy;
    double policy_param;
};
struct NamespaceUpdate {
    std::int64_t capacity_bytes;
    const char* eviction_policy;
    double policy_param;
};

// Constructs records[0, n) (raw storage: the store does not construct
// them) for the items [first, first + n) of the batch.
using PutFill = FunctionRef<void(std::size_t first, std::size_t n, PutRecord* records)>;
using PutDone = FunctionRef<void(std::size_t first, std::size_t n, const PutRecord* records)>;
using ReadSink = FunctionRef<int(std::size_t first, std::size_t n, const Found* found)>;
using EraseSink = FunctionRef<void(std::size_t first, std::size_t n, const bool* removed)>;
using DescribeSink = FunctionRef<void(const NamespaceView& view)>;
using CountSink = FunctionRef<void(std::size_t total)>;
using NodeSink = FunctionRef<int(const velk_node_info_t* nodes, std::size_t count)>;

struct PutOutcome {
    std::size_t handled;  // records handed to `done`, from the first
    int status;
};

namespace store {

// A new handle holding `nodes`; null when the store cannot be opened (a
// store with a reason sets errno). Throws std::bad_alloc.
velk_client* open(std::vector<velk_node_info_t>&& nodes);
// Releases the node table, then every namespace and entry, then the handle.
void close(velk_client* client) noexcept;

// Hands the fixed node table to `sink`; returns what it returns.
int with_nodes(velk_client& client, NodeSink sink);

// Puts `count` records: asks `fill` for each chunk, stores its valid
// records in order (an existing key's entry replaced whole) and hands the
// chunk to `done`. The namespace is made with the defaults before the first
// record, even when none is valid. Returns {count, VELK_OK}; or, when it
// must stop, the records handled so far with VELK_ERR_NO_MEMORY (record
// `handled` was not stored and its key keeps what it held; with handled 0
// the namespace may be missing too) or a failure of its medium (nothing was
// handed to `done`).
PutOutcome put(velk_client& client, std::string_view ns, std::size_t count, PutFill fill, PutDone done);

// Looks up every key in order and hands the results to `sink` a chunk at a
// time; a missing namespace finds nothing and is not made. A sink result
// other than VELK_OK stops the read, which returns it.
int read(velk_client& client, std::string_view ns, KeyList keys, unsigned wants, ReadSink sink);

// Removes every key in order (a key named twice is removed by the first)
// and hands to `sink` whether each was there. VELK_ERR_NAMESPACE_NOT_FOUND,
// with `sink` never called, when the namespace does not exist.
int erase(velk_client& client, std::string_view ns, KeyList keys, EraseSink sink);

// VELK_OK or VELK_ERR_NAMESPACE_EXISTS.
int create_namespace(velk_client& client, std::string_view ns, const NamespaceSettings& settings);
// VELK_OK or VELK_ERR_NAMESPACE_NOT_FOUND; a null update only tests.
int update_namespace(velk_client& client, std::string_view ns, const NamespaceUpdate* update);
// VELK_OK or VELK_ERR_NAMESPACE_NOT_FOUND; the entries go with it.
int delete_namespace(velk_client& client, std::string_view ns);
// VELK_OK after `sink` has seen the namespace, or VELK_ERR_NAMESPACE_NOT_FOUND.
int describe_namespace(velk_client& client, std::string_view ns, DescribeSink sink);
// Tells `total` the number of namespaces, then describes up to `limit` of
// them, each once; returns how many it described.
int list_namespaces(velk_client& client, std::size_t limit, CountSink total, DescribeSink each);

}  // namespace store
}  // namespace velk
