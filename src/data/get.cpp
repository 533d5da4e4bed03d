// SPDX-License-Identifier: MIT
// Batch get (values lent to a callback) and get-into (values copied into the
// caller's buffers).
#include <cerrno>
#include <cstring>

#include "client/barrier.hpp"
#include "client/scratch.hpp"
#include "client/store.hpp"
#include "client/text.hpp"
#include "data/data.hpp"

namespace velk {

bool meta_filter_matches(const velk_get_item_t& item, const Entry& entry) noexcept {
    if (item.meta_filter == nullptr || item.meta_filter_count <= 0) {
        return true;
    }
    for (std::int32_t j = 0; j < item.meta_filter_count; ++j) {
        const velk_meta_pair_t& wanted = item.meta_filter[j];
        if (wanted.key == nullptr || wanted.value == nullptr || !entry.metadata) {
            return false;
        }
        const std::string_view key(wanted.key);
        const std::string_view value(wanted.value);
        bool satisfied = false;
        for (const MetaPair& pair : *entry.metadata) {
            if (pair.key == key && pair.value == value) {
                satisfied = true;
                break;
            }
        }
        if (!satisfied) {
            return false;
        }
    }
    return true;
}

const Entry* lookup_get_item(const Namespace* space, const velk_get_item_t& item) noexcept {
    if (item.key == nullptr || space == nullptr) {
        return nullptr;
    }
    const Entry* entry = find_in_namespace(*space, item.key);
    return entry != nullptr && meta_filter_matches(item, *entry) ? entry : nullptr;
}

}  // namespace velk

extern "C" {

VELK_API int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                int32_t count, velk_get_callback_t callback, void* user_data,
                                const void* /*reserved*/) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || items == nullptr || count <= 0 || callback == nullptr) {
        return -EINVAL;
    }
    return guarded([&]() -> int32_t {
        // The arrays are made before the lock is taken: nothing else needs
        // to wait while they are, and a failure leaves the handle untouched.
        constexpr std::size_t kOnStack = 64;
        const auto n = static_cast<std::size_t>(count);
        ScratchArray<const void*, kOnStack> values(n);
        ScratchArray<uint64_t, kOnStack> lengths(n);
        ScratchArray<int32_t, kOnStack> statuses(n);
        if (!values.ok() || !lengths.ok() || !statuses.ok()) {
            return VELK_ERR_NO_MEMORY;
        }

        const std::lock_guard guard(client->lock);
        // One namespace lookup serves the batch: the lock keeps the map still.
        const Namespace* space = find_namespace(*client, ns);
        if (space != nullptr) {
            space->entries.prefetch(n, [items](std::size_t i) { return items[i].key; });
        }
        for (std::size_t i = 0; i < n; ++i) {
            const Entry* entry = lookup_get_item(space, items[i]);
            values[i] = entry != nullptr ? entry->value.data() : nullptr;
            lengths[i] = entry != nullptr ? entry->value.size() : 0;
            statuses[i] = entry != nullptr ? saturating_get_status(entry->value.size()) : 0;
        }
        callback(count, values.data(), lengths.data(), statuses.data(), user_data);
        return VELK_OK;
    });
}

VELK_API int32_t velk_batch_get_into(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, void* const* buffers, const uint64_t* buffer_sizes,
                                     int32_t* statuses, uint64_t* value_lens, const void* /*reserved*/) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || items == nullptr || count <= 0 || buffers == nullptr ||
        buffer_sizes == nullptr || statuses == nullptr || value_lens == nullptr) {
        return -EINVAL;
    }
    return guarded([&]() -> int32_t {
        const std::lock_guard guard(client->lock);
        const Namespace* space = find_namespace(*client, ns);
        if (space != nullptr) {
            space->entries.prefetch(static_cast<std::size_t>(count),
                                    [items](std::size_t i) { return items[i].key; });
        }
        for (int32_t i = 0; i < count; ++i) {
            statuses[i] = 0;
            value_lens[i] = 0;
            const Entry* entry = lookup_get_item(space, items[i]);
            if (entry == nullptr) {
                continue;
            }
            const std::size_t length = entry->value.size();
            value_lens[i] = length;
            if (length > buffer_sizes[i] || (buffers[i] == nullptr && length != 0)) {
                statuses[i] = -ENOSPC;
                continue;
            }
            if (length != 0) {
                std::memcpy(buffers[i], entry->value.data(), length);
            }
            statuses[i] = saturating_get_status(length);
        }
        return VELK_OK;
    });
}

}  // extern "C"
