// White-box tests of the internal helpers, linked against the object library.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/entry_table.hpp"
#include "client/store.hpp"
#include "client/text.hpp"
#include "data/data.hpp"
#include "namespaces/namespaces.hpp"
#include "topology/node_listing.hpp"
#include "topology/node_table.hpp"

using namespace velk;

TEST(CopyString, CutsZeroFillsAndTerminates) {
    struct Case {
        const char* source;
        size_t capacity;
        const char* expected;
    } cases[] = {
        {"abcdef", 4, "abc"}, {"ab", 8, "ab"}, {"abc", 1, ""}, {"", 5, ""}, {"abc", 4, "abc"},
    };
    for (const Case& c : cases) {
        char buffer[10];
        std::memset(buffer, '#', sizeof buffer);
        copy_string(buffer, c.capacity, c.source);
        const size_t n = std::strlen(c.expected);
        EXPECT_EQ(std::string(buffer, n), c.expected);
        for (size_t i = n; i < c.capacity; ++i) {
            EXPECT_EQ(buffer[i], '\0') << c.source << " byte " << i;
        }
        EXPECT_EQ(buffer[c.capacity], '#') << "wrote past the capacity";
    }
    char untouched = '#';
    copy_string(&untouched, 0, "abc");
    EXPECT_EQ(untouched, '#');
    copy_string(nullptr, 8, "abc");  // no crash, nothing written
}

TEST(DuplicateString, CopiesTextAndTerminator) {
    char* copy = duplicate_string("hello");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "hello");
    std::free(copy);
    copy = duplicate_string("");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], '\0');
    std::free(copy);
}

TEST(SaturatingGetStatus, ClampsAtIntMax) {
    EXPECT_EQ(saturating_get_status(0), 0);
    EXPECT_EQ(saturating_get_status(5), 5);
    EXPECT_EQ(saturating_get_status(2147483647u), INT_MAX);
    EXPECT_EQ(saturating_get_status(2147483648u), INT_MAX);
    EXPECT_EQ(saturating_get_status(SIZE_MAX), INT_MAX);
}

TEST(LocationWriter, MatchesCopyStringOfTheWholeText) {
    // Lengths around the 255-byte cut, for the key and for the namespace.
    for (const size_t ns_length : {0u, 5u, 229u, 230u, 231u, 300u}) {
        const std::string ns(ns_length, 's');
        LocationWriter writer(ns);  // one writer for all: first and later writes differ
        for (const size_t key_length : {0u, 1u, 200u, 225u, 226u, 227u, 400u, 3u}) {
            const std::string key(key_length, 'k');
            const std::string full = "mock://mock-node-0:9000/" + ns + "/" + key;
            char expected[256];
            char actual[256];
            std::memset(actual, '#', sizeof actual);
            copy_string(expected, sizeof expected, full.c_str());
            writer.write(actual, key);
            EXPECT_EQ(std::memcmp(expected, actual, sizeof actual), 0) << ns_length << "/" << key_length;
        }
    }
}

TEST(FindEntry, CreatesNothing) {
    velk_client* client = create_client();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(find_entry(client, "ns", "k"), nullptr);
    EXPECT_TRUE(client->namespaces.empty());
    client->namespaces.emplace("ns", Namespace{});
    EXPECT_EQ(find_entry(client, "ns", "k"), nullptr);
    EXPECT_TRUE(client->namespaces.at("ns").entries.empty());
    Entry entry;
    entry.replica_count = 3;
    client->namespaces.at("ns").entries.insert("k", std::move(entry));
    const Entry* found = find_entry(client, "ns", "k");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->replica_count, 3);
    EXPECT_EQ(find_entry(client, "NS", "k"), nullptr);
    velk_client_destroy(client);
}

TEST(NodeTable, TwoRowsNodeZeroFirst) {
    const auto nodes = make_nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_STREQ(nodes[0].node_id, "mock-node-0");
    EXPECT_STREQ(nodes[1].node_id, "mock-node-1");
    const velk_node_info_t node = make_node("id", "ep", "r", "z", 7, 2.0);
    EXPECT_STREQ(node.cluster, "mock-cluster");
    EXPECT_EQ(node.capacity_bytes, 7);
    velk_node_selector_t selector{};
    EXPECT_TRUE(node_matches(node, nullptr));
    EXPECT_TRUE(node_matches(node, &selector));
    selector.zone = "z";
    EXPECT_TRUE(node_matches(node, &selector));
    selector.rack = "x";
    EXPECT_FALSE(node_matches(node, &selector));
}

TEST(Namespaces, SpaceUsedAndInfoFill) {
    Namespace space;
    Entry a;
    a.value = Bytes(10);
    Entry b;
    b.value = Bytes(0);
    space.entries.insert("a", std::move(a));
    space.entries.insert("b", std::move(b));
    EXPECT_EQ(namespace_space_used(space), 10u);
    space.eviction_policy = std::string(50, 'p');
    velk_namespace_info_t info;
    std::memset(&info, 0xFF, sizeof info);
    fill_namespace_info(std::string(200, 'n'), space, info);
    EXPECT_EQ(std::strlen(info.name), 127u);
    EXPECT_EQ(std::strlen(info.eviction_policy), 31u);
    EXPECT_EQ(info.used_bytes, 10u);
    EXPECT_EQ(info.created_at_ms, 1700000000000);
}

TEST(EntryTable, FindsEverythingThroughGrowthAndRemovals) {
    // Many keys, so probe runs are long and wrap around; removals in a
    // scattered order exercise every case of the backward shift.
    EntryTable table;
    constexpr int kKeys = 5000;
    auto key = [](int i) {
        return "key-" + std::to_string(i * 7919 % 100003);
    };
    for (int i = 0; i < kKeys; ++i) {
        Entry entry;
        entry.tag = static_cast<uint32_t>(i);
        table.insert(key(i), std::move(entry));
    }
    EXPECT_EQ(table.size(), static_cast<size_t>(kKeys));
    for (int i = 0; i < kKeys; i += 3) {
        EXPECT_TRUE(table.erase(key(i)));
        EXPECT_FALSE(table.erase(key(i)));
    }
    size_t visited = 0;
    table.for_each([&](std::string_view, const Entry&) { ++visited; });
    EXPECT_EQ(visited, table.size());
    for (int i = 0; i < kKeys; ++i) {
        const Entry* found = table.find(key(i));
        if (i % 3 == 0) {
            EXPECT_EQ(found, nullptr) << i;
        } else {
            ASSERT_NE(found, nullptr) << i;
            EXPECT_EQ(found->tag, static_cast<uint32_t>(i));
        }
    }
    EXPECT_EQ(table.find(""), nullptr);
    table.insert("", Entry{});
    EXPECT_NE(table.find(""), nullptr);
    EntryTable moved = std::move(table);
    EXPECT_TRUE(table.empty());  // NOLINT(bugprone-use-after-move): a moved-from table is empty
    EXPECT_NE(moved.find(key(1)), nullptr);
}
