// SPDX-License-Identifier: MIT
// Helpers shared by the data operations.
#pragma once

#include "client/store.hpp"
#include "velkmock.h"

namespace velk {

// True if the item may be stored: a key, non-negative counts, and part
// arrays wherever parts with bytes are announced.
bool valid_put_item(const velk_put_item_t& item) noexcept;

// True if the entry carries every pair of the item's filter (exact bytes);
// a filter with a NULL side can never be satisfied.
bool meta_filter_matches(const velk_get_item_t& item, const Entry& entry) noexcept;

// The entry an item of the get family reports, or null when nothing is
// reported (NULL key, missing namespace or key, failed filter).
const Entry* lookup_get_item(const Namespace* space, const velk_get_item_t& item) noexcept;

}  // namespace velk
