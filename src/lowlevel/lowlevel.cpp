// SPDX-License-Identifier: MIT
// The flat low-level interface. It keeps no state and reaches the store only
// through the exported ordinary operations, always on the namespace "ll":
// each call checks its own rules, builds zero-filled temporary records, hands
// them on and copies back what the flat form reports.
#include <cerrno>

#include "client/constants.hpp"
#include "client/scratch.hpp"
#include "velkmock.h"

namespace {

using velk::kLowLevelNamespace;
using velk::ScratchArray;

// Batches up to this size build their temporaries on the stack (a few KiB),
// so the common batch costs no allocation on top of the operation itself.
constexpr std::size_t kOnStack = 64;

// Both low-level gets: check the keys, build filter-less get items on the
// stack (or the heap, for large batches) and hand them to `call`.
template <class Call>
int32_t with_get_items(const char* const* keys, int32_t count, Call&& call) {
    if (keys == nullptr || count <= 0) {
        return -EINVAL;
    }
    const auto n = static_cast<std::size_t>(count);
    ScratchArray<velk_get_item_t, kOnStack> items(n);
    if (!items.ok()) {
        return VELK_ERR_NO_MEMORY;
    }
    for (std::size_t i = 0; i < n; ++i) {
        items[i] = velk_get_item_t{keys[i], {0, 0, 0}, nullptr, 0};  // no metadata filter
    }
    return call(items.data());
}

}  // namespace

extern "C" {

VELK_API velk_client* velk_ll_create(const velk_ll_config_t* config) {
    if (config == nullptr) {
        return nullptr;
    }
    if (config->name == nullptr || config->name[0] == '\0') {
        errno = EINVAL;
        return nullptr;
    }
    return velk_client_create(config);
}

VELK_API void velk_ll_client_destroy(velk_client* client) {
    velk_client_destroy(client);
}

VELK_API int32_t velk_ll_batch_put(velk_client* client, const velk_ll_put_item_t* items, int32_t count,
                                   velk_put_result_t* results, int32_t result_capacity, const void* reserved,
                                   const void* /*ignored*/) {
    if (items == nullptr || count <= 0) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    const auto n = static_cast<std::size_t>(count);
    ScratchArray<velk_put_item_t, kOnStack> put_items(n);
    if (!put_items.ok()) {
        return VELK_ERR_NO_MEMORY;
    }
    for (std::size_t i = 0; i < n; ++i) {
        // Every field written: tag 0, replica count 1, no metadata.
        put_items[i] = velk_put_item_t{items[i].key,
                                       items[i].value_parts,
                                       items[i].value_part_lens,
                                       items[i].value_part_count,
                                       0,
                                       1,
                                       0,
                                       nullptr,
                                       0};
    }
    return velk_batch_put(client, kLowLevelNamespace, put_items.data(), count, results, result_capacity,
                          reserved);
}

VELK_API int32_t velk_ll_batch_get(velk_client* client, const char* const* keys, int32_t count,
                                   velk_get_callback_t callback, void* user_data, const void* reserved,
                                   const void* /*ignored*/) {
    return with_get_items(keys, count, [&](const velk_get_item_t* items) {
        return velk_batch_get(client, kLowLevelNamespace, items, count, callback, user_data, reserved);
    });
}

VELK_API int32_t velk_ll_batch_get_into(velk_client* client, const char* const* keys, int32_t count,
                                        void* const* buffers, const uint64_t* buffer_sizes, int32_t* statuses,
                                        uint64_t* value_lens, const void* reserved) {
    return with_get_items(keys, count, [&](const velk_get_item_t* items) {
        return velk_batch_get_into(client, kLowLevelNamespace, items, count, buffers, buffer_sizes, statuses,
                                   value_lens, reserved);
    });
}

VELK_API int32_t velk_ll_batch_delete(velk_client* client, const char* const* keys, int32_t count,
                                      int32_t* statuses, int32_t status_capacity, const void* reserved,
                                      const void* /*ignored*/) {
    if (keys == nullptr || count <= 0 || statuses == nullptr || status_capacity < count) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    // The flat delete builds exactly the items this layer would (key, option
    // 0, reserved 0) and copies the statuses back only on success.
    return velk_batch_delete(client, kLowLevelNamespace, keys, count, nullptr, statuses, count, reserved);
}

VELK_API int32_t velk_ll_batch_query(velk_client* client, const char* const* keys, int32_t count,
                                     velk_query_result_t* results, int32_t result_capacity,
                                     const void* /*ignored*/) {
    return velk_batch_query(client, kLowLevelNamespace, keys, count, nullptr, results, result_capacity);
}

}  // extern "C"
