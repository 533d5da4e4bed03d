// SPDX-License-Identifier: MIT
// Batch put: the only operation that writes entries.
#include <cstring>
#include <new>

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

// An item as the store takes it: checked, its replica count at least 1.
PutRecord record_of(const velk_put_item_t& item) noexcept {
    if (!valid_put_item(item)) {
        return PutRecord{{}, {}, {}, 0, 0, false, VELK_ERR_INVALID_ARGUMENT};
    }
    return PutRecord{std::string_view(item.key),
                     ValueParts{item.value_parts, item.value_part_lens, item.value_part_count},
                     MetaSource{item.metadata, item.metadata_count},
                     item.tag,
                     item.replica_count > 0 ? item.replica_count : 1,
                     true,
                     VELK_OK};
}

}  // namespace
}  // namespace velk

extern "C" VELK_API int32_t velk_batch_put(velk_client* client, const char* ns, const velk_put_item_t* items,
                                           int32_t count, velk_put_result_t* results, int32_t result_capacity,
                                           const void* /*reserved*/) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || items == nullptr || results == nullptr || count <= 0 ||
        result_capacity < count) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int32_t {
        const std::string_view ns_text(ns);
        const LocationWriter locations(ns_text);
        const PutOutcome outcome = store::put(
            *client, ns_text, static_cast<std::size_t>(count),
            [items](std::size_t first, std::size_t n, PutRecord* records) {
                for (std::size_t i = 0; i < n; ++i) {
                    ::new (static_cast<void*>(records + i)) PutRecord(record_of(items[first + i]));
                }
            },
            [results, &locations](std::size_t first, std::size_t n, const PutRecord* records) {
                for (std::size_t i = 0; i < n; ++i) {
                    velk_put_result_t& result = results[first + i];
                    if (records[i].status != VELK_OK) {
                        // Refused, or no room for it: no location.
                        std::memset(&result, 0, sizeof result);
                    } else {
                        locations.write(result.location, records[i].key);
                    }
                    result.status = records[i].status;
                }
            });
        if (outcome.status == VELK_ERR_NO_MEMORY && outcome.handled < static_cast<std::size_t>(count)) {
            // The item that ran out of memory (the first when the namespace
            // could not be made): cleared, with the code; the records after
            // it are left alone.
            velk_put_result_t& result = results[outcome.handled];
            std::memset(&result, 0, sizeof result);
            result.status = VELK_ERR_NO_MEMORY;
        }
        return outcome.status;
    });
}
