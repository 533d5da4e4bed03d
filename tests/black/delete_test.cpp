// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

const std::string kPrefix = "mock://mock-node-0:9000/";

velk_delete_item_t del(const char* key) {
    return velk_delete_item_t{key, 0, 0};
}

class BatchDelete : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(put(client.get(), "ns", {PutSpec{"a", "1"}, PutSpec{"b", "22"}, PutSpec{"c", "333"}}), 0);
    }
    Client client = make_client();
};

}  // namespace

TEST_F(BatchDelete, ArgumentChecksRemoveAndWriteNothing) {
    const velk_delete_item_t items[] = {del("a"), del("b")};
    velk_delete_result_t results[2];
    std::memset(results, 0x33, sizeof results);
    velk_client* c = client.get();
    EXPECT_EQ(velk_batch_delete_items(nullptr, "ns", items, 2, results, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete_items(c, nullptr, items, 2, results, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete_items(c, "ns", nullptr, 2, results, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete_items(c, "ns", items, 0, results, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete_items(c, "ns", items, -1, results, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete_items(c, "ns", items, 2, nullptr, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete_items(c, "ns", items, 2, results, 1, nullptr), -5);

    const char* keys[] = {"a", "b"};
    int32_t statuses[2] = {7, 7};
    EXPECT_EQ(velk_batch_delete(nullptr, "ns", keys, 2, nullptr, statuses, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete(c, nullptr, keys, 2, nullptr, statuses, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete(c, "ns", nullptr, 2, nullptr, statuses, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete(c, "ns", keys, 0, nullptr, statuses, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete(c, "ns", keys, 2, nullptr, nullptr, 2, nullptr), -5);
    EXPECT_EQ(velk_batch_delete(c, "ns", keys, 2, nullptr, statuses, 1, nullptr), -5);

    EXPECT_EQ(statuses[0], 7);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(results)[0], 0x33);
    EXPECT_EQ(get_value(c, "ns", "a"), "1");
    EXPECT_EQ(get_value(c, "ns", "b"), "22");
}

TEST_F(BatchDelete, StatusesAndLocationsPerItem) {
    const velk_delete_item_t items[] = {del("a"), del(nullptr), del("a"), del("zz"), del("c")};
    velk_delete_result_t results[6];
    std::memset(results, 0x44, sizeof results);
    ASSERT_EQ(velk_batch_delete_items(client.get(), "ns", items, 5, results, 6, nullptr), 0);
    const int expected[] = {0, -5, -1, -1, 0};
    const char* keys[] = {"a", nullptr, "a", "zz", "c"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(results[i].status, expected[i]) << i;
        if (keys[i] == nullptr) {
            EXPECT_TRUE(all_zero(results[i].location, 256)) << i;
        } else {
            EXPECT_EQ(field_text(results[i].location, 256), kPrefix + "ns/" + keys[i]) << i;
        }
    }
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&results[5])[0], 0x44);
    EXPECT_EQ(get_value(client.get(), "ns", "a"), std::nullopt);
    EXPECT_EQ(get_value(client.get(), "ns", "b"), "22");
}

TEST_F(BatchDelete, MissingNamespaceReportsNotFoundWithoutLocation) {
    const velk_delete_item_t items[] = {del("a"), del(nullptr)};
    velk_delete_result_t results[2];
    ASSERT_EQ(velk_batch_delete_items(client.get(), "other", items, 2, results, 2, nullptr), 0);
    EXPECT_EQ(results[0].status, -1);
    EXPECT_EQ(results[1].status, -5);
    EXPECT_TRUE(all_zero(results[0].location, 256));
    velk_namespace_info_t info;
    EXPECT_EQ(velk_get_namespace(client.get(), "other", &info), VELK_ERR_NAMESPACE_NOT_FOUND);
}

TEST_F(BatchDelete, LongLocationIsCut) {
    const std::string key(280, 'q');
    ASSERT_EQ(put_one(client.get(), "ns", key, "v"), 0);
    const velk_delete_item_t item = del(key.c_str());
    velk_delete_result_t result;
    ASSERT_EQ(velk_batch_delete_items(client.get(), "ns", &item, 1, &result, 1, nullptr), 0);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(field_text(result.location, 256), (kPrefix + "ns/" + key).substr(0, 255));
}

TEST_F(BatchDelete, FlatFormCopiesOnlyStatuses) {
    const char* keys[] = {"b", nullptr, "b", "c"};
    const int32_t options[] = {1, 2, 3, 4};
    int32_t statuses[6] = {9, 9, 9, 9, 9, 9};
    ASSERT_EQ(velk_batch_delete(client.get(), "ns", keys, 4, options, statuses, 6, nullptr), 0);
    EXPECT_EQ(std::vector<int32_t>(statuses, statuses + 6), (std::vector<int32_t>{0, -5, -1, 0, 9, 9}));

    // Options may be NULL; the namespace stays when emptied.
    const char* last[] = {"a"};
    ASSERT_EQ(velk_batch_delete(client.get(), "ns", last, 1, nullptr, statuses, 1, nullptr), 0);
    EXPECT_EQ(statuses[0], 0);
    velk_namespace_info_t info;
    ASSERT_EQ(velk_get_namespace(client.get(), "ns", &info), 0);
    EXPECT_EQ(info.used_bytes, 0u);
}

TEST_F(BatchDelete, LargeFlatBatchesWork) {
    // Past the size the flat form keeps on the stack.
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
        names.push_back("key" + std::to_string(i));
        ASSERT_EQ(put_one(client.get(), "big", names.back(), "v"), 0);
    }
    std::vector<const char*> keys;
    for (const auto& n : names) {
        keys.push_back(n.c_str());
    }
    keys.push_back("absent");
    std::vector<int32_t> statuses(keys.size(), 9);
    ASSERT_EQ(velk_batch_delete(client.get(), "big", keys.data(), static_cast<int32_t>(keys.size()), nullptr,
                                statuses.data(), static_cast<int32_t>(statuses.size()), nullptr),
              0);
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(statuses[i], 0);
    }
    EXPECT_EQ(statuses.back(), -1);
}
