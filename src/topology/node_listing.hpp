// SPDX-License-Identifier: MIT
#pragma once

#include "velkmock.h"

namespace velk {

// True if every non-empty filter of the selector equals the node's field of
// the same name; a NULL selector passes every node.
bool node_matches(const velk_node_info_t& node, const velk_node_selector_t* selector) noexcept;

}  // namespace velk
