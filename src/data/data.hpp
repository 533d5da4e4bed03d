// SPDX-License-Identifier: MIT
// Rules shared by the data operations.
#pragma once

#include "client/store.hpp"
#include "velkmock.h"

namespace velk {

// True if the item may be stored: a key, non-negative counts, and part
// arrays wherever parts with bytes are announced.
bool valid_put_item(const velk_put_item_t& item) noexcept;

// True if the entry carries every pair of the item's filter (exact bytes);
// a filter with a NULL side can never be satisfied.
bool meta_filter_matches(const velk_get_item_t& item, const Found& found) noexcept;

// Whether an item of the get family reports what the store found for it:
// a key, an entry, and the item's filter passed.
inline bool reported(const velk_get_item_t& item, const Found& found) noexcept {
    return item.key != nullptr && found.present && meta_filter_matches(item, found);
}

}  // namespace velk
