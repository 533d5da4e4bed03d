// SPDX-License-Identifier: MIT
// The fixed table of the mock cluster's two nodes. Every handle gets its own
// copy at creation; nothing changes it afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include "velkmock.h"

namespace velk {

velk_node_info_t make_node(const char* node_id, const char* endpoint, const char* region, const char* zone,
                           std::int64_t capacity_bytes, double weight) noexcept;

// Node 0 then node 1. Throws std::bad_alloc when the array cannot be had.
std::vector<velk_node_info_t> make_nodes();

}  // namespace velk
