// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

struct LowLevelDeleter {
    void operator()(velk_client* client) const { velk_ll_client_destroy(client); }
};
using LowLevelClient = std::unique_ptr<velk_client, LowLevelDeleter>;

LowLevelClient make_ll_client() {
    const velk_ll_config_t config{"tests"};
    return LowLevelClient(velk_ll_create(&config));
}

int collect(int32_t count, const void* const* values, const uint64_t* lens, const int32_t* statuses,
            void* user_data) {
    auto* out = static_cast<std::vector<std::pair<std::string, int32_t>>*>(user_data);
    for (int32_t i = 0; i < count; ++i) {
        out->emplace_back(std::string(static_cast<const char*>(values[i]), values[i] ? lens[i] : 0),
                          statuses[i]);
    }
    return 0;
}

int ll_put(velk_client* client, const char* key, const std::vector<std::string>& parts,
           const void* ignored = nullptr) {
    std::vector<const void*> ptrs;
    std::vector<uint64_t> lens;
    for (const auto& p : parts) {
        ptrs.push_back(p.data());
        lens.push_back(p.size());
    }
    const velk_ll_put_item_t item{key, ptrs.data(), lens.data(), static_cast<int32_t>(parts.size())};
    velk_put_result_t result;
    const int rc = velk_ll_batch_put(client, &item, 1, &result, 1, nullptr, ignored);
    return rc != 0 ? rc : result.status;
}

}  // namespace

TEST(LowLevel, CreateAndErrno) {
    errno = 1234;
    EXPECT_EQ(velk_ll_create(nullptr), nullptr);
    EXPECT_EQ(errno, 1234);
    const velk_ll_config_t null_name{nullptr};
    const velk_ll_config_t empty_name{""};
    for (const velk_ll_config_t* config : {&null_name, &empty_name}) {
        errno = 0;
        EXPECT_EQ(velk_ll_create(config), nullptr);
        EXPECT_EQ(errno, EINVAL);
    }
    // An ordinary handle: the ordinary calls and either destroy work on it.
    const velk_ll_config_t config{"x"};
    velk_client* client = velk_ll_create(&config);
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(put_one(client, "plain", "k", "v"), 0);
    int total = 0;
    EXPECT_EQ(velk_list_namespaces(client, nullptr, 0, &total), 0);
    EXPECT_EQ(total, 1);
    velk_client_destroy(client);
    velk_ll_client_destroy(nullptr);
    velk_ll_client_destroy(velk_client_create("cfg"));
}

TEST(LowLevel, NamespaceAppearsAtTheFirstAcceptedPutWithDefaults) {
    LowLevelClient client = make_ll_client();
    velk_namespace_info_t info;
    const velk_ll_put_item_t item{"k", nullptr, nullptr, 0};
    velk_put_result_t result;
    EXPECT_EQ(velk_ll_batch_put(client.get(), &item, 0, &result, 1, nullptr, nullptr), -5);
    EXPECT_EQ(velk_ll_batch_put(client.get(), nullptr, 1, &result, 1, nullptr, nullptr), -5);
    EXPECT_EQ(velk_ll_batch_put(nullptr, &item, 1, &result, 1, nullptr, nullptr), -5);
    EXPECT_EQ(velk_ll_batch_put(client.get(), &item, 1, nullptr, 1, nullptr, nullptr), -5);
    EXPECT_EQ(velk_get_namespace(client.get(), "ll", &info), VELK_ERR_NAMESPACE_NOT_FOUND);

    EXPECT_EQ(ll_put(client.get(), "k", {"ab", "cde"}, reinterpret_cast<const void*>(0xdead)), 0);
    ASSERT_EQ(velk_get_namespace(client.get(), "ll", &info), 0);
    EXPECT_STREQ(info.eviction_policy, "lru");
    EXPECT_EQ(info.capacity_bytes, 0);
    EXPECT_EQ(info.used_bytes, 5u);
}

TEST(LowLevel, PutThenLowLevelAndOrdinaryGet) {
    LowLevelClient client = make_ll_client();
    ASSERT_EQ(ll_put(client.get(), "k", {"ab", "", "cde"}), 0);

    const char* keys[] = {"k", nullptr, "absent"};
    std::vector<std::pair<std::string, int32_t>> seen;
    ASSERT_EQ(velk_ll_batch_get(client.get(), keys, 3, collect, &seen, nullptr, &seen), 0);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int32_t>>{{"abcde", 5}, {"", 0}, {"", 0}}));
    EXPECT_EQ(get_value(client.get(), "ll", "k"), "abcde");

    char b0[8] = {}, b1[8] = {}, b2[8] = {};
    void* buffers[] = {b0, b1, b2};
    const uint64_t sizes[] = {8, 8, 8};
    int32_t statuses[3];
    uint64_t lens[3];
    ASSERT_EQ(velk_ll_batch_get_into(client.get(), keys, 3, buffers, sizes, statuses, lens, nullptr), 0);
    EXPECT_EQ(statuses[0], 5);
    EXPECT_EQ(std::string(b0), "abcde");
    EXPECT_EQ(statuses[1], 0);
    EXPECT_EQ(statuses[2], 0);
}

TEST(LowLevel, GetArgumentChecks) {
    LowLevelClient client = make_ll_client();
    const char* keys[] = {"k"};
    std::vector<std::pair<std::string, int32_t>> seen;
    EXPECT_EQ(velk_ll_batch_get(client.get(), nullptr, 1, collect, &seen, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(velk_ll_batch_get(client.get(), keys, 0, collect, &seen, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(velk_ll_batch_get(nullptr, keys, 1, collect, &seen, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(velk_ll_batch_get(client.get(), keys, 1, nullptr, &seen, nullptr, nullptr), -EINVAL);
    EXPECT_TRUE(seen.empty());
    char b[4];
    void* buffers[] = {b};
    const uint64_t sizes[] = {4};
    int32_t status = 3;
    uint64_t len = 3;
    EXPECT_EQ(velk_ll_batch_get_into(client.get(), nullptr, 1, buffers, sizes, &status, &len, nullptr),
              -EINVAL);
    EXPECT_EQ(velk_ll_batch_get_into(client.get(), keys, -1, buffers, sizes, &status, &len, nullptr),
              -EINVAL);
    EXPECT_EQ(velk_ll_batch_get_into(nullptr, keys, 1, buffers, sizes, &status, &len, nullptr), -EINVAL);
    EXPECT_EQ(velk_ll_batch_get_into(client.get(), keys, 1, buffers, sizes, nullptr, &len, nullptr), -EINVAL);
    EXPECT_EQ(status, 3);
}

TEST(LowLevel, DeleteStatuses) {
    LowLevelClient client = make_ll_client();
    const char* keys[] = {"k", "absent", nullptr};
    int32_t statuses[4] = {7, 7, 7, 7};
    // Before the namespace exists every key is missing.
    ASSERT_EQ(velk_ll_batch_delete(client.get(), keys, 2, statuses, 2, nullptr, nullptr), 0);
    EXPECT_EQ(statuses[0], -1);
    ASSERT_EQ(ll_put(client.get(), "k", {"v"}), 0);

    EXPECT_EQ(velk_ll_batch_delete(client.get(), keys, 3, statuses, 2, nullptr, nullptr), -5);
    EXPECT_EQ(velk_ll_batch_delete(client.get(), keys, 3, nullptr, 3, nullptr, nullptr), -5);
    EXPECT_EQ(velk_ll_batch_delete(client.get(), nullptr, 3, statuses, 3, nullptr, nullptr), -5);
    EXPECT_EQ(velk_ll_batch_delete(client.get(), keys, 0, statuses, 3, nullptr, nullptr), -5);
    EXPECT_EQ(velk_ll_batch_delete(nullptr, keys, 3, statuses, 3, nullptr, nullptr), -5);
    EXPECT_EQ(get_value(client.get(), "ll", "k"), "v");

    statuses[3] = 7;
    ASSERT_EQ(velk_ll_batch_delete(client.get(), keys, 3, statuses, 4, nullptr, keys), 0);
    EXPECT_EQ(std::vector<int32_t>(statuses, statuses + 4), (std::vector<int32_t>{0, -1, -5, 7}));
}

TEST(LowLevel, QueryOfALowLevelValue) {
    LowLevelClient client = make_ll_client();
    ASSERT_EQ(ll_put(client.get(), "k", {"four"}), 0);
    const char* keys[] = {"k", "absent"};
    velk_query_result_t results[2];
    ASSERT_EQ(velk_ll_batch_query(client.get(), keys, 2, results, 2, reinterpret_cast<const void*>(1)), 2);
    EXPECT_STREQ(results[0].status, "ok");
    EXPECT_EQ(results[0].replica_count, 1);
    EXPECT_EQ(results[0].value_len, 4u);
    EXPECT_EQ(results[0].metadata, nullptr);
    EXPECT_EQ(results[0].details, nullptr);
    EXPECT_STREQ(results[1].status, "not_found");
    velk_query_result_free(results, 2);
    EXPECT_EQ(velk_ll_batch_query(client.get(), keys, 2, results, 1, nullptr), -5);
    EXPECT_EQ(velk_ll_batch_query(client.get(), nullptr, 2, results, 2, nullptr), -5);
}

TEST(LowLevel, LargeBatchesBeyondTheStackTemporaries) {
    LowLevelClient client = make_ll_client();
    constexpr int kCount = 100;
    std::vector<std::string> names;
    for (int i = 0; i < kCount; ++i) {
        names.push_back("key" + std::to_string(i));
    }
    std::vector<velk_ll_put_item_t> items;
    const char* value = "value";
    const void* parts[] = {value};
    const uint64_t lens[] = {5};
    std::vector<const char*> keys;
    for (const auto& n : names) {
        items.push_back({n.c_str(), parts, lens, 1});
        keys.push_back(n.c_str());
    }
    std::vector<velk_put_result_t> results(kCount);
    ASSERT_EQ(velk_ll_batch_put(client.get(), items.data(), kCount, results.data(), kCount, nullptr, nullptr),
              0);
    std::vector<std::pair<std::string, int32_t>> seen;
    ASSERT_EQ(velk_ll_batch_get(client.get(), keys.data(), kCount, collect, &seen, nullptr, nullptr), 0);
    ASSERT_EQ(seen.size(), static_cast<size_t>(kCount));
    EXPECT_EQ(seen[kCount - 1].first, "value");
    std::vector<int32_t> statuses(kCount, 9);
    ASSERT_EQ(
        velk_ll_batch_delete(client.get(), keys.data(), kCount, statuses.data(), kCount, nullptr, nullptr),
        0);
    EXPECT_EQ(statuses[kCount - 1], 0);
}
