// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

velk_namespace_info_t describe(velk_client* client, const char* ns) {
    velk_namespace_info_t info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(velk_get_namespace(client, ns, &info), VELK_OK) << ns;
    return info;
}

}  // namespace

TEST(Namespaces, ArgumentChecks) {
    Client client = make_client();
    velk_client* c = client.get();
    const velk_namespace_options_t options{1, "fifo", 1.0};
    velk_namespace_info_t info;
    int total = 0;
    for (const char* bad : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(velk_create_namespace(c, bad, &options), -5);
        EXPECT_EQ(velk_update_namespace(c, bad, &options), -5);
        EXPECT_EQ(velk_delete_namespace(c, bad), -5);
        EXPECT_EQ(velk_get_namespace(c, bad, &info), -5);
    }
    EXPECT_EQ(velk_create_namespace(nullptr, "x", &options), -5);
    EXPECT_EQ(velk_update_namespace(nullptr, "x", &options), -5);
    EXPECT_EQ(velk_delete_namespace(nullptr, "x"), -5);
    EXPECT_EQ(velk_get_namespace(nullptr, "x", &info), -5);
    EXPECT_EQ(velk_get_namespace(c, "x", nullptr), -5);
    ASSERT_EQ(velk_create_namespace(c, "x", nullptr), 0);
    EXPECT_EQ(velk_get_namespace(c, "x", nullptr), -5);  // whether or not it exists
    EXPECT_EQ(velk_list_namespaces(nullptr, &info, 1, &total), -5);
    EXPECT_EQ(velk_list_namespaces(c, &info, 1, nullptr), -5);
    EXPECT_EQ(velk_list_namespaces(c, &info, -1, &total), -5);
    EXPECT_EQ(velk_list_namespaces(c, nullptr, 1, &total), -5);
}

TEST(Namespaces, DefaultsFromCreateWithoutOptionsAndFromPut) {
    Client client = make_client();
    ASSERT_EQ(velk_create_namespace(client.get(), "made", nullptr), 0);
    ASSERT_EQ(put_one(client.get(), "implicit", "k", ""), 0);
    const velk_namespace_options_t empty_policy{0, "", 0.0};
    ASSERT_EQ(velk_create_namespace(client.get(), "empty-policy", &empty_policy), 0);
    const velk_namespace_options_t null_policy{0, nullptr, 0.0};
    ASSERT_EQ(velk_create_namespace(client.get(), "null-policy", &null_policy), 0);
    for (const char* ns : {"made", "implicit", "empty-policy", "null-policy"}) {
        const velk_namespace_info_t info = describe(client.get(), ns);
        EXPECT_EQ(field_text(info.name, 128), ns);
        EXPECT_EQ(info.capacity_bytes, 0) << ns;
        EXPECT_EQ(info.used_bytes, 0u) << ns;
        EXPECT_EQ(field_text(info.eviction_policy, 32), "lru") << ns;
        EXPECT_EQ(info.policy_param, 0.0) << ns;
        EXPECT_EQ(info.created_at_ms, 1700000000000) << ns;
    }
}

TEST(Namespaces, CreateTwiceAndOverAPutKeepsTheFirst) {
    Client client = make_client();
    const velk_namespace_options_t first{100, "lfu", 0.5};
    const velk_namespace_options_t second{200, "fifo", 1.5};
    EXPECT_EQ(velk_create_namespace(client.get(), "ns", &first), 0);
    EXPECT_EQ(velk_create_namespace(client.get(), "ns", &second), VELK_ERR_NAMESPACE_EXISTS);
    velk_namespace_info_t info = describe(client.get(), "ns");
    EXPECT_EQ(info.capacity_bytes, 100);
    EXPECT_STREQ(info.eviction_policy, "lfu");
    EXPECT_EQ(info.policy_param, 0.5);

    ASSERT_EQ(put_one(client.get(), "by-put", "k", "1234"), 0);
    EXPECT_EQ(velk_create_namespace(client.get(), "by-put", &second), VELK_ERR_NAMESPACE_EXISTS);
    info = describe(client.get(), "by-put");
    EXPECT_EQ(info.capacity_bytes, 0);
    EXPECT_EQ(info.used_bytes, 4u);
}

TEST(Namespaces, UpdateFieldByField) {
    Client client = make_client();
    const velk_namespace_options_t start{100, "lfu", 0.5};
    ASSERT_EQ(velk_create_namespace(client.get(), "ns", &start), 0);
    ASSERT_EQ(put_one(client.get(), "ns", "k", "abc"), 0);

    EXPECT_EQ(velk_update_namespace(client.get(), "missing", nullptr), VELK_ERR_NAMESPACE_NOT_FOUND);
    EXPECT_EQ(velk_update_namespace(client.get(), "ns", nullptr), 0);
    EXPECT_EQ(describe(client.get(), "ns").capacity_bytes, 100);

    const velk_namespace_options_t keep_policy{0, nullptr, 0.0};
    EXPECT_EQ(velk_update_namespace(client.get(), "ns", &keep_policy), 0);
    velk_namespace_info_t info = describe(client.get(), "ns");
    EXPECT_EQ(info.capacity_bytes, 0);
    EXPECT_EQ(info.policy_param, 0.0);
    EXPECT_STREQ(info.eviction_policy, "lfu");
    EXPECT_EQ(info.used_bytes, 3u);  // entries are kept

    const velk_namespace_options_t empty_policy{-7, "", 2.5};
    EXPECT_EQ(velk_update_namespace(client.get(), "ns", &empty_policy), 0);
    info = describe(client.get(), "ns");
    EXPECT_EQ(field_text(info.eviction_policy, 32), "");
    EXPECT_EQ(info.capacity_bytes, -7);
    EXPECT_EQ(info.policy_param, 2.5);
    EXPECT_EQ(info.created_at_ms, 1700000000000);
}

TEST(Namespaces, DeleteThenGetDeleteAndCreateAgain) {
    Client client = make_client();
    ASSERT_EQ(put_one(client.get(), "ns", "k", "abc"), 0);
    EXPECT_EQ(velk_delete_namespace(client.get(), "ns"), 0);
    velk_namespace_info_t info;
    std::memset(&info, 0x11, sizeof info);
    EXPECT_EQ(velk_get_namespace(client.get(), "ns", &info), VELK_ERR_NAMESPACE_NOT_FOUND);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&info)[0], 0x11);
    EXPECT_EQ(velk_delete_namespace(client.get(), "ns"), VELK_ERR_NAMESPACE_NOT_FOUND);
    const velk_namespace_options_t options{5, "arc", 1.0};
    ASSERT_EQ(velk_create_namespace(client.get(), "ns", &options), 0);
    info = describe(client.get(), "ns");
    EXPECT_EQ(info.used_bytes, 0u);
    EXPECT_EQ(info.capacity_bytes, 5);
    EXPECT_EQ(get_value(client.get(), "ns", "k"), std::nullopt);
}

TEST(Namespaces, ListingCapacitiesAndTotal) {
    Client client = make_client();
    for (const char* ns : {"one", "two", "three"}) {
        ASSERT_EQ(velk_create_namespace(client.get(), ns, nullptr), 0);
    }
    int total = -1;
    EXPECT_EQ(velk_list_namespaces(client.get(), nullptr, 0, &total), 0);
    EXPECT_EQ(total, 3);

    velk_namespace_info_t infos[5];
    std::memset(infos, 0x77, sizeof infos);
    total = -1;
    EXPECT_EQ(velk_list_namespaces(client.get(), infos, 1, &total), 1);
    EXPECT_EQ(total, 3);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&infos[1])[0], 0x77);

    total = -1;
    EXPECT_EQ(velk_list_namespaces(client.get(), infos, 5, &total), 3);
    EXPECT_EQ(total, 3);
    std::set<std::string> names;
    for (int i = 0; i < 3; ++i) {
        names.insert(infos[i].name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"one", "two", "three"}));
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&infos[3])[0], 0x77);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&infos[4])[sizeof infos[4] - 1], 0x77);
}

TEST(Namespaces, UsedBytesFollowTheValues) {
    Client client = make_client();
    ASSERT_EQ(put(client.get(), "ns", {PutSpec{"k", "0123456789", {{"a", "b"}, {"c", "d"}}}}), 0);
    EXPECT_EQ(describe(client.get(), "ns").used_bytes, 10u);
    ASSERT_EQ(put_one(client.get(), "ns", "k", "abcd"), 0);
    EXPECT_EQ(describe(client.get(), "ns").used_bytes, 4u);
    ASSERT_EQ(put_one(client.get(), "ns", "empty", ""), 0);
    ASSERT_EQ(put_one(client.get(), "ns", "other", "xy"), 0);
    EXPECT_EQ(describe(client.get(), "ns").used_bytes, 6u);
    const char* keys[] = {"k"};
    int32_t status;
    ASSERT_EQ(velk_batch_delete(client.get(), "ns", keys, 1, nullptr, &status, 1, nullptr), 0);
    int total = 0;
    velk_namespace_info_t info;
    ASSERT_EQ(velk_list_namespaces(client.get(), &info, 1, &total), 1);
    EXPECT_EQ(info.used_bytes, 2u);
}

TEST(Namespaces, LongNamesAndPoliciesAreKeptWholeAndCutInRecords) {
    Client client = make_client();
    const std::string policy(40, 'p');
    const std::string name_a = std::string(127, 'n') + "A" + std::string(72, 'x');
    const std::string name_b = std::string(127, 'n') + "B" + std::string(72, 'x');
    const velk_namespace_options_t options{0, policy.c_str(), 0.0};
    ASSERT_EQ(velk_create_namespace(client.get(), name_a.c_str(), &options), 0);
    ASSERT_EQ(velk_create_namespace(client.get(), name_b.c_str(), nullptr), 0);
    const velk_namespace_info_t info = describe(client.get(), name_a.c_str());
    EXPECT_EQ(field_text(info.name, 128), name_a.substr(0, 127));
    EXPECT_EQ(field_text(info.eviction_policy, 32), policy.substr(0, 31));

    // Two records with the same visible name: still two namespaces.
    velk_namespace_info_t infos[2];
    int total = 0;
    ASSERT_EQ(velk_list_namespaces(client.get(), infos, 2, &total), 2);
    EXPECT_STREQ(infos[0].name, infos[1].name);

    // Update stores the long policy whole as well.
    const std::string longer(300, 'q');
    const velk_namespace_options_t update{0, longer.c_str(), 0.0};
    ASSERT_EQ(velk_update_namespace(client.get(), name_b.c_str(), &update), 0);
    EXPECT_EQ(field_text(describe(client.get(), name_b.c_str()).eviction_policy, 32), longer.substr(0, 31));
    EXPECT_EQ(velk_delete_namespace(client.get(), name_a.c_str()), 0);
    EXPECT_EQ(velk_delete_namespace(client.get(), name_a.substr(0, 127).c_str()),
              VELK_ERR_NAMESPACE_NOT_FOUND);
}

TEST(Namespaces, NamesAreCaseSensitive) {
    Client client = make_client();
    ASSERT_EQ(velk_create_namespace(client.get(), "Orders", nullptr), 0);
    EXPECT_EQ(velk_create_namespace(client.get(), "orders", nullptr), 0);
    int total = 0;
    EXPECT_EQ(velk_list_namespaces(client.get(), nullptr, 0, &total), 0);
    EXPECT_EQ(total, 2);
}

TEST(Namespaces, ConcurrentCreatesOfOneNameYieldOneSuccess) {
    for (int round = 0; round < 20; ++round) {
        Client client = make_client();
        std::atomic<int> ok{0};
        std::atomic<int> exists{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                const int rc = velk_create_namespace(client.get(), "race", nullptr);
                (rc == 0 ? ok : exists)++;
                EXPECT_TRUE(rc == 0 || rc == VELK_ERR_NAMESPACE_EXISTS);
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        EXPECT_EQ(ok.load(), 1);
        EXPECT_EQ(exists.load(), 3);
    }
}
