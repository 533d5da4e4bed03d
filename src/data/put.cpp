// Batch put: the only operation that writes entries.
#include <cstring>
#include <limits>
#include <stdexcept>

#include "client/barrier.hpp"
#include "client/store.hpp"
#include "client/text.hpp"
#include "data/data.hpp"

namespace velk {

bool valid_put_item(const velk_put_item_t& item) noexcept {
    if (item.key == nullptr || item.value_part_count < 0 || item.metadata_count < 0) {
        return false;
    }
    if (item.value_part_count > 0 && (item.value_parts == nullptr || item.value_part_lens == nullptr)) {
        return false;
    }
    for (std::int32_t j = 0; j < item.value_part_count; ++j) {
        if (item.value_part_lens[j] != 0 && item.value_parts[j] == nullptr) {
            return false;
        }
    }
    return true;
}

namespace {

// Builds the complete entry for a valid item before the store is touched, so
// that a failed allocation leaves the key holding its previous entry whole.
Entry build_entry(const velk_put_item_t& item) {
    Entry entry;
    entry.tag = item.tag;
    entry.replica_count = item.replica_count > 0 ? item.replica_count : 1;

    std::size_t total = 0;
    for (std::int32_t j = 0; j < item.value_part_count; ++j) {
        if (item.value_part_lens[j] > std::numeric_limits<std::size_t>::max() - total) {
            throw std::length_error("value length overflows");
        }
        total += item.value_part_lens[j];
    }
    entry.value = Bytes(total);
    unsigned char* out = entry.value.data();
    for (std::int32_t j = 0; j < item.value_part_count; ++j) {
        // A part of length 0 is skipped without its pointer being read.
        if (item.value_part_lens[j] != 0) {
            std::memcpy(out, item.value_parts[j], item.value_part_lens[j]);
            out += item.value_part_lens[j];
        }
    }

    if (item.metadata != nullptr) {
        std::size_t kept = 0;
        for (std::int32_t j = 0; j < item.metadata_count; ++j) {
            kept += item.metadata[j].key != nullptr && item.metadata[j].value != nullptr;
        }
        if (kept != 0) {
            entry.metadata = std::make_unique<MetaList>();
            entry.metadata->reserve(kept);
            for (std::int32_t j = 0; j < item.metadata_count; ++j) {
                const velk_meta_pair_t& pair = item.metadata[j];
                if (pair.key != nullptr && pair.value != nullptr) {
                    entry.metadata->push_back(MetaPair{pair.key, pair.value});
                }
            }
        }
    }
    return entry;
}

void store_entry(Namespace& space, std::string_view key, Entry&& entry) {
    // A replaced key keeps its map node: the move cannot fail, and only a new
    // key pays for a node and a copy of its text.
    if (const auto it = space.entries.find(key); it != space.entries.end()) {
        it->second = std::move(entry);
        return;
    }
    space.entries.emplace(std::string(key), std::move(entry));
}

Namespace& namespace_for_put(velk_client& client, std::string_view ns) {
    if (Namespace* space = find_namespace(client, ns)) {
        return *space;
    }
    return client.namespaces.emplace(std::string(ns), Namespace{}).first->second;
}

}  // namespace
}  // namespace velk

extern "C" VELK_API int32_t velk_batch_put(velk_client* client, const char* ns,
                                           const velk_put_item_t* items, int32_t count,
                                           velk_put_result_t* results, int32_t result_capacity,
                                           const void* /*reserved*/) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || items == nullptr || results == nullptr || count <= 0 ||
        result_capacity < count) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int32_t {
        const std::lock_guard guard(client->lock);
        // The namespace comes into being before any item is looked at, so it
        // exists afterwards even when every item is invalid.
        Namespace& space = namespace_for_put(*client, ns);
        const std::string_view ns_text(ns);
        for (int32_t i = 0; i < count; ++i) {
            const velk_put_item_t& item = items[i];
            velk_put_result_t& result = results[i];
            if (!valid_put_item(item)) {
                std::memset(&result, 0, sizeof result);
                result.status = VELK_ERR_INVALID_ARGUMENT;
                continue;
            }
            try {
                store_entry(space, item.key, build_entry(item));
            } catch (...) {
                // Earlier items stay stored; this one keeps its old entry and
                // the records after it are left alone.
                std::memset(&result, 0, sizeof result);
                result.status = VELK_ERR_NO_MEMORY;
                return VELK_ERR_NO_MEMORY;
            }
            write_location(result.location, ns_text, item.key);
            result.status = VELK_OK;
        }
        return VELK_OK;
    });
}
