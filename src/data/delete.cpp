// SPDX-License-Identifier: MIT
// Batch delete, with item records and in its flat form.
#include <cstring>
#include <optional>

#include "client/barrier.hpp"
#include "client/scratch.hpp"
#include "client/store.hpp"
#include "client/text.hpp"

extern "C" {

VELK_API int32_t velk_batch_delete_items(velk_client* client, const char* ns, const velk_delete_item_t* items,
                                         int32_t count, velk_delete_result_t* results,
                                         int32_t result_capacity, const void* /*reserved*/) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || items == nullptr || count <= 0 || results == nullptr ||
        result_capacity < count) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int32_t {
        const std::lock_guard guard(client->lock);
        const std::string_view ns_text(ns);
        Namespace* space = find_namespace(*client, ns_text);
        if (space != nullptr) {
            space->entries.prefetch(static_cast<std::size_t>(count),
                                    [items](std::size_t i) { return items[i].key; });
        }
        const LocationWriter locations(ns_text);
        for (int32_t i = 0; i < count; ++i) {
            velk_delete_result_t& result = results[i];
            const char* key = items[i].key;
            if (key == nullptr || space == nullptr) {
                std::memset(&result, 0, sizeof result);
                result.status = key == nullptr ? VELK_ERR_INVALID_ARGUMENT : VELK_ERR_NOT_FOUND;
                continue;
            }
            const std::string_view key_text(key);
            const std::optional<std::size_t> removed = space->entries.erase(key_text);
            if (removed) {
                space->used_bytes -= *removed;
            }
            result.status = removed ? VELK_OK : VELK_ERR_NOT_FOUND;
            // Written straight into the caller's record: the location covers
            // all 256 bytes, so with the status the record is fully written.
            locations.write(result.location, key_text);
        }
        return VELK_OK;
    });
}

VELK_API int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                   int32_t count, const int32_t* options, int32_t* statuses,
                                   int32_t status_capacity, const void* reserved) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || keys == nullptr || count <= 0 || statuses == nullptr ||
        status_capacity < count) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    constexpr std::size_t kOnStack = 8;
    const auto n = static_cast<std::size_t>(count);
    ScratchArray<velk_delete_item_t, kOnStack> items(n);
    ScratchArray<velk_delete_result_t, kOnStack> results(n);
    if (!items.ok() || !results.ok()) {
        return VELK_ERR_NO_MEMORY;
    }
    // The results need no clearing: the items call writes each one whole.
    for (std::size_t i = 0; i < n; ++i) {
        items[i] = velk_delete_item_t{keys[i], options != nullptr ? options[i] : 0, 0};
    }
    const int32_t status =
        velk_batch_delete_items(client, ns, items.data(), count, results.data(), count, reserved);
    if (status < 0) {
        return status;
    }
    for (std::size_t i = 0; i < n; ++i) {
        statuses[i] = results[i].status;
    }
    return VELK_OK;
}

}  // extern "C"
