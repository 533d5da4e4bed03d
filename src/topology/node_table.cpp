// SPDX-License-Identifier: MIT
#include "topology/node_table.hpp"

#include <cstring>

#include "client/constants.hpp"
#include "client/text.hpp"

namespace velk {

velk_node_info_t make_node(const char* node_id, const char* endpoint, const char* region, const char* zone,
                           std::int64_t capacity_bytes, double weight) noexcept {
    velk_node_info_t node;
    std::memset(&node, 0, sizeof node);
    copy_string(node.node_id, sizeof node.node_id, node_id);
    copy_string(node.endpoint, sizeof node.endpoint, endpoint);
    copy_string(node.region, sizeof node.region, region);
    copy_string(node.zone, sizeof node.zone, zone);
    copy_string(node.cluster, sizeof node.cluster, "mock-cluster");
    copy_string(node.node_class, sizeof node.node_class, "standard");
    copy_string(node.state, sizeof node.state, "ready");
    node.capacity_bytes = capacity_bytes;
    node.weight = weight;
    return node;
}

std::vector<velk_node_info_t> make_nodes() {
    constexpr std::int64_t kTiB = std::int64_t{1} << 40;
    std::vector<velk_node_info_t> nodes;
    nodes.reserve(2);
    nodes.push_back(make_node("mock-node-0", kNode0Endpoint, "cn-hangzhou", "cn-hangzhou-a", kTiB, 1.0));
    nodes.push_back(make_node("mock-node-1", kNode1Endpoint, "cn-beijing", "cn-beijing-b", kTiB / 2, 0.5));
    return nodes;
}

}  // namespace velk
