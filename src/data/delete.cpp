// SPDX-License-Identifier: MIT
// Batch delete, with item records and in its flat form.
#include <cstring>

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
    const auto n = static_cast<std::size_t>(count);
    return guarded([&]() -> int32_t {
        const std::string_view ns_text(ns);
        const LocationWriter locations(ns_text);
        const int status = store::erase(*client, ns_text, KeyList::of(items, n),
                                        [&](std::size_t first, std::size_t chunk, const bool* removed) {
                                            for (std::size_t k = 0; k < chunk; ++k) {
                                                velk_delete_result_t& result = results[first + k];
                                                const char* key = items[first + k].key;
                                                if (key == nullptr) {
                                                    std::memset(&result, 0, sizeof result);
                                                    result.status = VELK_ERR_INVALID_ARGUMENT;
                                                    continue;
                                                }
                                                result.status = removed[k] ? VELK_OK : VELK_ERR_NOT_FOUND;
                                                // The location covers all 256 bytes, so with the
                                                // status the record is fully written.
                                                locations.write(result.location, key);
                                            }
                                        });
        if (status != VELK_ERR_NAMESPACE_NOT_FOUND) {
            return status;
        }
        // No such namespace: every key is missing, and has no location.
        for (std::size_t i = 0; i < n; ++i) {
            std::memset(&results[i], 0, sizeof results[i]);
            results[i].status = items[i].key == nullptr ? VELK_ERR_INVALID_ARGUMENT : VELK_ERR_NOT_FOUND;
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
    for (std::size_t i = 0; i < n; ++i) {
        items[i] = velk_delete_item_t{keys[i], options != nullptr ? options[i] : 0, 0};
    }
    // Cleared, although the items call of this library writes each one
    // whole: another library may stand in front of it (a failure injector)
    // and return success without writing them, and the caller must then get
    // zeros, never whatever the stack held.
    std::memset(results.data(), 0, n * sizeof(velk_delete_result_t));
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
