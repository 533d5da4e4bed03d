// SPDX-License-Identifier: MIT
// Batch query and the release of its results: the one place where the
// library hands memory to the caller. Every block comes from the C allocator
// so that the caller's release (or velk_query_result_free) can free() it.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "client/barrier.hpp"
#include "client/constants.hpp"
#include "client/store.hpp"
#include "client/text.hpp"

namespace velk {
namespace {

// The two status texts as whole, zero-filled fields, copied in one go.
struct StatusField {
    char text[sizeof(velk_query_result_t::status)];
};
constexpr StatusField status_field(std::string_view text) {
    StatusField field{};
    for (std::size_t i = 0; i < text.size() && i + 1 < sizeof field.text; ++i) {
        field.text[i] = text[i];
    }
    return field;
}
constexpr StatusField kFoundField = status_field(kQueryFound);
constexpr StatusField kNotFoundField = status_field(kQueryNotFound);

// Zeroes everything after the key and status texts, padding included.
static_assert(offsetof(velk_query_result_t, replica_count) ==
                  sizeof(velk_query_result_t::key) + sizeof(velk_query_result_t::status),
              "the two texts open the record");
void clear_after_texts(velk_query_result_t& result) noexcept {
    constexpr std::size_t kFrom = offsetof(velk_query_result_t, replica_count);
    std::memset(reinterpret_cast<unsigned char*>(&result) + kFrom, 0, sizeof result - kFrom);
}

// Hangs copies of the entry's metadata (and, if asked, a detail record) on
// the record. False when an allocation fails; whatever was attached by then
// is still reachable from the record, so the release call can return it.
bool attach_blocks(velk_query_result_t& result, const Found& entry, bool include_details) noexcept {
    if (const std::size_t n = entry.metadata_count; n != 0) {
        auto* pairs = static_cast<velk_meta_pair_t*>(std::calloc(n, sizeof(velk_meta_pair_t)));
        if (pairs == nullptr) {
            return false;
        }
        result.metadata = pairs;
        // Counted before copying: the zero-filled array lets a release stop
        // being exact about how far the copying got.
        result.metadata_count = static_cast<int32_t>(n);
        for (std::size_t j = 0; j < n; ++j) {
            const MetaPair& pair = entry.metadata[j];
            pairs[j].key = duplicate_string(pair.key);
            pairs[j].value = duplicate_string(pair.value);
            if (pairs[j].key == nullptr || pairs[j].value == nullptr) {
                return false;
            }
        }
    }
    if (include_details) {
        auto* detail = static_cast<velk_query_detail_t*>(std::calloc(1, sizeof(velk_query_detail_t)));
        if (detail == nullptr) {
            return false;
        }
        result.details = detail;
        result.detail_count = 1;
        detail->tag = entry.tag;
        detail->value_len = entry.length;
        detail->timestamp_ms = kFixedTimeMs;
    }
    return true;
}

}  // namespace
}  // namespace velk

extern "C" {

VELK_API int32_t velk_batch_query(velk_client* client, const char* ns, const char* const* keys, int32_t count,
                                  const velk_query_options_t* options, velk_query_result_t* results,
                                  int32_t result_capacity) {
    using namespace velk;
    if (client == nullptr || ns == nullptr || keys == nullptr || count <= 0 || results == nullptr ||
        result_capacity < count) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    const bool include_details = options != nullptr && options->include_details != 0;
    const auto n = static_cast<std::size_t>(count);
    return guarded([&]() -> int32_t {
        const int status =
            store::read(*client, ns, KeyList::flat(keys, n), kReadMetadata,
                        [&](std::size_t first, std::size_t chunk, const Found* found) -> int {
                            for (std::size_t k = 0; k < chunk; ++k) {
                                const std::size_t i = first + k;
                                velk_query_result_t& result = results[i];
                                const char* key = keys[i];
                                // Cleared field by field rather than with one memset
                                // first: the two texts fill their whole widths anyway,
                                // and the record is written for every key of every query.
                                copy_string(result.key, sizeof result.key, key);
                                clear_after_texts(result);
                                // The store looked up the whole key, not the 255-byte copy.
                                if (key == nullptr || !found[k].present) {
                                    std::memcpy(result.status, kNotFoundField.text, sizeof result.status);
                                    continue;
                                }
                                std::memcpy(result.status, kFoundField.text, sizeof result.status);
                                result.replica_count = found[k].replica_count;
                                result.value_len = found[k].length;
                                if (!attach_blocks(result, found[k], include_details)) {
                                    velk_query_result_free(results, static_cast<int32_t>(i + 1));
                                    return VELK_ERR_NO_MEMORY;
                                }
                            }
                            return VELK_OK;
                        });
        return status == VELK_OK ? count : status;
    });
}

VELK_API void velk_query_result_free(velk_query_result_t* results, int32_t count) {
    if (results == nullptr || count <= 0) {
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        velk_query_result_t& result = results[i];
        for (int32_t j = 0; result.metadata != nullptr && j < result.metadata_count; ++j) {
            std::free(const_cast<char*>(result.metadata[j].key));
            std::free(const_cast<char*>(result.metadata[j].value));
        }
        std::free(result.metadata);
        result.metadata = nullptr;
        result.metadata_count = 0;
        std::free(result.details);
        result.details = nullptr;
        result.detail_count = 0;
    }
}

}  // extern "C"
