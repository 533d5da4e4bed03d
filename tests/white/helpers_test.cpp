// SPDX-License-Identifier: MIT
// White-box tests of the internal helpers, linked against the object library.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "client/client.hpp"
#include "client/entry_table.hpp"
#include "client/hash.hpp"
#include "client/memory_store.hpp"
#include "client/text.hpp"
#include "colliding_keys.hpp"
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

// A handle destroyed and made again lands at the same addresses and counts
// its namespaces from the start; its first table still draws a new seed.
TEST(FindEntry, SeedsDifferBetweenHandlesMadeAtOneAddress) {
    std::set<uint64_t> seeds;
    for (int round = 0; round < 4; ++round) {
        velk_client* client = create_client();
        ASSERT_NE(client, nullptr);
        client->namespaces.emplace("ns", Namespace(1));
        client->namespaces.at("ns").entries.insert("k", Entry{});
        seeds.insert(client->namespaces.at("ns").entries.seed());
        velk_client_destroy(client);
    }
    EXPECT_EQ(seeds.size(), 4u);
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

TEST(Namespaces, InfoFill) {
    const std::string name(200, 'n');
    const std::string policy(50, 'p');
    const NamespaceView space{name, 0, policy, 0.0, 1700000000000, 10};
    velk_namespace_info_t info;
    std::memset(&info, 0xFF, sizeof info);
    fill_namespace_info(space, info);
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
        EXPECT_EQ(table.erase(key(i)), 0u);
        EXPECT_EQ(table.erase(key(i)), std::nullopt);
    }
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

// Tables of 8 and 16 slots hold runs that wrap around the end of the array
// on almost every step, the case a backward shift gets wrong most easily.
// Random inserts and removals from a small pool are checked against a plain
// map after every step: presence, the removed value's length, and size.
TEST(EntryTable, SmallTablesMatchAPlainMap) {
    struct Case {
        int pool;      // distinct keys in play
        int most;      // never more stored than this
        size_t slots;  // the capacity those sizes keep
    } cases[] = {{12, 6, 8}, {24, 12, 16}};
    std::mt19937 random(20261209);
    for (const Case& c : cases) {
        for (int round = 0; round < 200; ++round) {
            EntryTable table(static_cast<uint64_t>(round));
            std::map<std::string, size_t> expected;
            // Grow to the wanted capacity first; below its 1/8 the table
            // would shrink, so at least slots/8 keys stay in.
            while (table.capacity() < c.slots || expected.size() < c.slots / 8) {
                const std::string k = "k" + std::to_string(random() % c.pool);
                if (expected.count(k) == 0) {
                    Entry entry;
                    entry.value = Bytes(k.size() + expected.size());
                    expected[k] = entry.value.size();
                    table.insert(k, std::move(entry));
                }
            }
            for (int step = 0; step < 300; ++step) {
                const std::string k = "k" + std::to_string(random() % c.pool);
                const bool present = expected.count(k) != 0;
                if (present && expected.size() > c.slots / 8) {
                    EXPECT_EQ(table.erase(k), expected[k]);
                    expected.erase(k);
                } else if (!present && static_cast<int>(expected.size()) < c.most) {
                    Entry entry;
                    entry.value = Bytes(static_cast<size_t>(step % 7));
                    expected[k] = entry.value.size();
                    table.insert(k, std::move(entry));
                } else if (!present) {
                    EXPECT_EQ(table.erase(k), std::nullopt);
                }
                ASSERT_EQ(table.capacity(), c.slots);
                ASSERT_EQ(table.size(), expected.size());
                for (int i = 0; i < c.pool; ++i) {
                    const std::string probe = "k" + std::to_string(i);
                    const Entry* found = table.find(probe);
                    const auto it = expected.find(probe);
                    ASSERT_EQ(found != nullptr, it != expected.end()) << probe << " at step " << step;
                    if (found != nullptr) {
                        ASSERT_EQ(found->value.size(), it->second) << probe;
                    }
                }
            }
        }
    }
}

TEST(EntryTable, ShrinksWhenSparseAndHoldsStillAtTheBoundaries) {
    EntryTable table;
    auto key = [](size_t i) {
        return "key-" + std::to_string(i);
    };
    constexpr size_t kFloor = EntryTable::kShrinkFloor;
    constexpr size_t kKeys = 1 << 16;
    for (size_t i = 0; i < kKeys; ++i) {
        table.insert(key(i), Entry{});
    }
    EXPECT_GE(table.capacity(), kKeys * 4 / 3);
    for (size_t i = 1; i < kKeys; ++i) {
        ASSERT_EQ(table.erase(key(i)), 0u);
    }
    EXPECT_EQ(table.capacity(), kFloor);  // and no further
    EXPECT_NE(table.find(key(0)), nullptr);

    // Grow to twice the floor (at 3/4 of the floor, plus one), then sit at
    // the growth boundary: one key in and out must not reallocate each time.
    size_t stored = 1;
    while (stored <= kFloor * 3 / 4) {
        table.insert(key(stored++), Entry{});
    }
    ASSERT_EQ(table.capacity(), 2 * kFloor);
    for (int flip = 0; flip < 10; ++flip) {
        table.erase(key(--stored));
        EXPECT_EQ(table.capacity(), 2 * kFloor);
        table.insert(key(stored++), Entry{});
        EXPECT_EQ(table.capacity(), 2 * kFloor);
    }
    // Down past the shrink boundary (below 1/8 of 2 * floor), then sit there.
    while (stored * 8 >= 2 * kFloor) {
        table.erase(key(--stored));
    }
    ASSERT_EQ(table.capacity(), kFloor);
    for (int flip = 0; flip < 10; ++flip) {
        table.insert(key(stored++), Entry{});
        EXPECT_EQ(table.capacity(), kFloor);
        table.erase(key(--stored));
        EXPECT_EQ(table.capacity(), kFloor);
    }
    for (size_t i = 0; i < stored; ++i) {
        EXPECT_NE(table.find(key(i)), nullptr) << i;
    }
}

// Keys built to share one std::hash value must not share a hash here, under
// any seed, nor crowd a few home slots of a table their size.
TEST(KeyedHash, SpreadsKeysThatCollideUnderStdHash) {
    const auto keys = velk_test::colliding_keys(4096);
    ASSERT_EQ(std::hash<std::string_view>{}(keys.front()), std::hash<std::string_view>{}(keys.back()));
    for (const uint64_t seed : {uint64_t{0}, uint64_t{1}, make_seed(&keys, keys.data(), 7)}) {
        std::set<uint64_t> hashes;
        std::map<uint64_t, int> homes;
        int crowded = 0;
        for (const auto& k : keys) {
            const uint64_t h = keyed_hash(k, seed);
            hashes.insert(h);
            crowded = std::max(crowded, ++homes[h & 8191]);
        }
        EXPECT_EQ(hashes.size(), keys.size()) << seed;
        EXPECT_LE(crowded, 8) << seed;  // about 3 expected at this load
    }
    EXPECT_NE(keyed_hash("key", 1), keyed_hash("key", 2));
    // Every length class reads every byte it is given.
    for (size_t n = 1; n <= 40; ++n) {
        std::string text(n, 'a');
        const uint64_t before = keyed_hash(text, 5);
        for (size_t i = 0; i < n; ++i) {
            text[i] = 'b';
            EXPECT_NE(keyed_hash(text, 5), before) << n << " byte " << i;
            text[i] = 'a';
        }
    }
}
