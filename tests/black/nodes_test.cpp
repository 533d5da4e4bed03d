// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

constexpr int kNone = -1;

struct SelectCase {
    const char* what;
    velk_node_selector_t selector;
    int capacity;
    int expected;  // count returned
    int first;     // node written to slot 0, or kNone
};

}  // namespace

TEST(Nodes, FixedTableContents) {
    Client client = make_client();
    velk_node_info_t nodes[2];
    ASSERT_EQ(velk_get_nodes(client.get(), nullptr, nodes, 2), 2);
    const struct {
        const char *id, *endpoint, *region, *zone;
        int64_t capacity;
        double weight;
    } want[] = {
        {"mock-node-0", "mock://mock-node-0:9000", "cn-hangzhou", "cn-hangzhou-a", 1099511627776, 1.0},
        {"mock-node-1", "mock://mock-node-1:9000", "cn-beijing", "cn-beijing-b", 549755813888, 0.5},
    };
    for (int i = 0; i < 2; ++i) {
        const velk_node_info_t& n = nodes[i];
        EXPECT_EQ(field_text(n.node_id, 128), want[i].id);
        EXPECT_EQ(field_text(n.endpoint, 256), want[i].endpoint);
        EXPECT_EQ(field_text(n.region, 64), want[i].region);
        EXPECT_EQ(field_text(n.zone, 64), want[i].zone);
        EXPECT_EQ(field_text(n.rack, 64), "");
        EXPECT_EQ(field_text(n.cluster, 64), "mock-cluster");
        EXPECT_EQ(field_text(n.node_class, 32), "standard");
        EXPECT_EQ(field_text(n.state, 32), "ready");
        EXPECT_TRUE(all_zero(n.reserved_a, sizeof n.reserved_a));
        EXPECT_EQ(n.reserved_b, 0u);
        EXPECT_EQ(n.capacity_bytes, want[i].capacity);
        EXPECT_EQ(n.weight, want[i].weight);
    }
}

TEST(Nodes, SelectorRulesAndSlots) {
    const SelectCase cases[] = {
        {"null-like selector", {nullptr, "", nullptr, "", nullptr}, 2, 2, 0},
        {"region picks node 1", {nullptr, "cn-beijing", nullptr, nullptr, nullptr}, 2, 1, 1},
        {"zone picks node 0", {nullptr, nullptr, "cn-hangzhou-a", nullptr, nullptr}, 2, 1, 0},
        {"cluster and class pass both", {"mock-cluster", nullptr, nullptr, nullptr, "standard"}, 2, 2, 0},
        {"no node has a rack", {nullptr, nullptr, nullptr, "r1", nullptr}, 2, 0, kNone},
        {"case matters", {nullptr, "CN-BEIJING", nullptr, nullptr, nullptr}, 2, 0, kNone},
        {"a prefix is not enough", {nullptr, "cn-bei", nullptr, nullptr, nullptr}, 2, 0, kNone},
        {"every filter must pass", {nullptr, "cn-beijing", "cn-hangzhou-a", nullptr, nullptr}, 2, 0, kNone},
        {"capacity 1 takes node 0", {nullptr, nullptr, nullptr, nullptr, nullptr}, 1, 1, 0},
        {"a skipped node uses no slot", {nullptr, "cn-beijing", nullptr, nullptr, nullptr}, 1, 1, 1},
    };
    Client client = make_client();
    velk_node_info_t all[2];
    ASSERT_EQ(velk_get_nodes(client.get(), nullptr, all, 2), 2);
    for (const SelectCase& c : cases) {
        velk_node_info_t nodes[3];
        std::memset(nodes, 0x66, sizeof nodes);
        EXPECT_EQ(velk_get_nodes(client.get(), &c.selector, nodes, c.capacity), c.expected) << c.what;
        if (c.first != kNone) {
            // Byte for byte on purpose: the record's every byte is part of the contract.
            // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
            EXPECT_EQ(std::memcmp(&nodes[0], &all[c.first], sizeof nodes[0]), 0) << c.what;
        }
        EXPECT_EQ(reinterpret_cast<unsigned char*>(&nodes[c.expected])[0], 0x66) << c.what;
    }
}

TEST(Nodes, ArgumentChecks) {
    Client client = make_client();
    velk_node_info_t nodes[1];
    std::memset(nodes, 0x66, sizeof nodes);
    EXPECT_EQ(velk_get_nodes(nullptr, nullptr, nodes, 1), -5);
    EXPECT_EQ(velk_get_nodes(client.get(), nullptr, nullptr, 1), -5);
    EXPECT_EQ(velk_get_nodes(client.get(), nullptr, nodes, 0), -5);
    EXPECT_EQ(velk_get_nodes(client.get(), nullptr, nodes, -1), -5);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(nodes)[0], 0x66);
}
