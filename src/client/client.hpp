// SPDX-License-Identifier: MIT
// Handle creation, shared by both create calls.
#pragma once

#include "velkmock.h"

namespace velk {

// A fully set-up handle holding the node table, or null when the store
// cannot be had (memory, or a store's own reason in errno).
velk_client* create_client() noexcept;

}  // namespace velk
