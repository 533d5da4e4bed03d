// SPDX-License-Identifier: MIT
// Batch get (values lent to a callback) and get-into (values copied into the
// caller's buffers).
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

#include "client/barrier.hpp"
#include "client/scratch.hpp"
#include "client/store.hpp"
#include "client/text.hpp"
#include "data/data.hpp"

namespace velk {

bool meta_filter_matches(const velk_get_item_t& item, const Found& found) noexcept {
    if (item.meta_filter == nullptr || item.meta_filter_count <= 0) {
        return true;
    }
    for (std::int32_t j = 0; j < item.meta_filter_count; ++j) {
        const velk_meta_pair_t& wanted = item.meta_filter[j];
        if (wanted.key == nullptr || wanted.value == nullptr || found.metadata_count == 0) {
            return false;
        }
        const std::string_view key(wanted.key);
        const std::string_view value(wanted.value);
        bool satisfied = false;
        for (std::size_t m = 0; m < found.metadata_count; ++m) {
            if (found.metadata[m].key == key && found.metadata[m].value == value) {
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

namespace {

// What a get must bring from the store: metadata only when some item of the
// batch filters on it.
unsigned get_wants(const velk_get_item_t* items, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        if (items[i].meta_filter != nullptr && items[i].meta_filter_count > 0) {
            return kReadValues | kReadMetadata;
        }
    }
    return kReadValues;
}

// What the get sink answers when the caller's callback threw: not a code of
// the library, only a signal to stop.
constexpr int kCallbackFailed = 1;

}  // namespace
}  // namespace velk

extern "C" {

VELK_API int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                int32_t count, velk_get_callback_t callback, void* user_data,
                                const void* /*reserved*/) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || items == nullptr || count <= 0 || callback == nullptr) {
        return -EINVAL;
    }
    // The barrier turns the library's own std::bad_alloc into a code; one
    // that the caller's callback throws is the caller's, and goes back to
    // it, past the barrier, once the store has let go of everything.
    std::exception_ptr callback_failure;
    const int32_t status = guarded([&]() -> int32_t {
        // The arrays are made before the store is asked: a failure leaves
        // everything untouched.
        constexpr std::size_t kOnStack = 64;
        const auto n = static_cast<std::size_t>(count);
        ScratchArray<const void*, kOnStack> values(n);
        ScratchArray<uint64_t, kOnStack> lengths(n);
        ScratchArray<int32_t, kOnStack> statuses(n);
        if (!values.ok() || !lengths.ok() || !statuses.ok()) {
            return VELK_ERR_NO_MEMORY;
        }
        return store::read(*client, ns, KeyList::of(items, n), get_wants(items, n),
                           [&](std::size_t first, std::size_t chunk, const Found* found) -> int {
                               for (std::size_t i = 0; i < chunk; ++i) {
                                   const Found& entry = found[i];
                                   const bool shown = reported(items[first + i], entry);
                                   values[first + i] = shown ? entry.value : nullptr;
                                   lengths[first + i] = shown ? entry.length : 0;
                                   statuses[first + i] = shown ? saturating_get_status(entry.length) : 0;
                               }
                               // The callback sees the whole batch at once,
                               // inside the store's step: the values are lent.
                               if (first + chunk == n) {
                                   try {
                                       callback(count, values.data(), lengths.data(), statuses.data(),
                                                user_data);
                                   } catch (const std::bad_alloc&) {
                                       callback_failure = std::current_exception();
                                       return kCallbackFailed;
                                   }
                               }
                               return VELK_OK;
                           });
    });
    if (callback_failure) {
        std::rethrow_exception(callback_failure);
    }
    return status;
}

VELK_API int32_t velk_batch_get_into(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, void* const* buffers, const uint64_t* buffer_sizes,
                                     int32_t* statuses, uint64_t* value_lens, const void* /*reserved*/) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || items == nullptr || count <= 0 || buffers == nullptr ||
        buffer_sizes == nullptr || statuses == nullptr || value_lens == nullptr) {
        return -EINVAL;
    }
    const auto n = static_cast<std::size_t>(count);
    return guarded([&]() -> int32_t {
        return store::read(*client, ns, KeyList::of(items, n), get_wants(items, n),
                           [&](std::size_t first, std::size_t chunk, const Found* found) -> int {
                               for (std::size_t k = 0; k < chunk; ++k) {
                                   const std::size_t i = first + k;
                                   statuses[i] = 0;
                                   value_lens[i] = 0;
                                   if (!reported(items[i], found[k])) {
                                       continue;
                                   }
                                   const std::size_t length = found[k].length;
                                   value_lens[i] = length;
                                   if (length > buffer_sizes[i] || (buffers[i] == nullptr && length != 0)) {
                                       statuses[i] = -ENOSPC;
                                       continue;
                                   }
                                   if (length != 0) {
                                       std::memcpy(buffers[i], found[k].value, length);
                                   }
                                   statuses[i] = saturating_get_status(length);
                               }
                               return VELK_OK;
                           });
    });
}

}  // extern "C"
