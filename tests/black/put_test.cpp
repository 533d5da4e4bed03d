// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

const std::string kPrefix = "mock://mock-node-0:9000/";

struct Queried {
    std::string status;
    int32_t replica_count;
    uint64_t value_len;
    Meta meta;
    uint32_t tag;
};

Queried query_one(velk_client* client, const char* ns, const char* key) {
    velk_query_options_t options{0, 1};
    velk_query_result_t result;
    const char* keys[] = {key};
    EXPECT_EQ(velk_batch_query(client, ns, keys, 1, &options, &result, 1), 1);
    Queried q{result.status, result.replica_count, result.value_len, {}, 0};
    for (int j = 0; j < result.metadata_count; ++j) {
        q.meta.emplace_back(result.metadata[j].key, result.metadata[j].value);
    }
    if (result.details != nullptr) {
        q.tag = result.details->tag;
    }
    velk_query_result_free(&result, 1);
    return q;
}

bool namespace_exists(velk_client* client, const char* ns) {
    velk_namespace_info_t info;
    return velk_get_namespace(client, ns, &info) == VELK_OK;
}

}  // namespace

TEST(BatchPut, ArgumentChecksRefuseWithoutSideEffects) {
    Client client = make_client();
    PutBatch batch({PutSpec{"k", "v"}});
    velk_put_result_t results[2];
    struct Case {
        const char* what;
        velk_client* client;
        const char* ns;
        const velk_put_item_t* items;
        int32_t count;
        velk_put_result_t* results;
        int32_t capacity;
    } cases[] = {
        {"null client", nullptr, "ns", batch.items.data(), 1, results, 1},
        {"null ns", client.get(), nullptr, batch.items.data(), 1, results, 1},
        {"null items", client.get(), "ns", nullptr, 1, results, 1},
        {"null results", client.get(), "ns", batch.items.data(), 1, nullptr, 1},
        {"zero count", client.get(), "ns", batch.items.data(), 0, results, 1},
        {"negative count", client.get(), "ns", batch.items.data(), -1, results, 1},
        {"capacity below count", client.get(), "ns", batch.items.data(), 1, results, 0},
    };
    for (const Case& c : cases) {
        std::memset(results, 0xAB, sizeof results);
        EXPECT_EQ(velk_batch_put(c.client, c.ns, c.items, c.count, c.results, c.capacity, nullptr),
                  VELK_ERR_INVALID_ARGUMENT)
            << c.what;
        EXPECT_FALSE(namespace_exists(client.get(), "ns")) << c.what;
        EXPECT_EQ(reinterpret_cast<unsigned char*>(results)[0], 0xAB) << c.what;
    }
}

TEST(BatchPut, CreatesMissingNamespaceWithDefaultsEvenWhenEveryItemIsInvalid) {
    Client client = make_client();
    velk_put_item_t item{};  // null key: invalid
    velk_put_result_t result;
    ASSERT_EQ(velk_batch_put(client.get(), "fresh", &item, 1, &result, 1, nullptr), VELK_OK);
    EXPECT_EQ(result.status, VELK_ERR_INVALID_ARGUMENT);
    EXPECT_TRUE(all_zero(result.location, sizeof result.location));

    velk_namespace_info_t info;
    ASSERT_EQ(velk_get_namespace(client.get(), "fresh", &info), VELK_OK);
    EXPECT_EQ(info.capacity_bytes, 0);
    EXPECT_STREQ(info.eviction_policy, "lru");
    EXPECT_EQ(info.policy_param, 0.0);
    EXPECT_EQ(info.created_at_ms, 1700000000000);
    EXPECT_EQ(info.used_bytes, 0u);
}

TEST(BatchPut, ResultCapacityEqualToCountIsEnoughAndLaterRecordsAreUntouched) {
    Client client = make_client();
    PutBatch batch({PutSpec{"a", "1"}, PutSpec{"b", "2"}});
    velk_put_result_t results[3];
    std::memset(results, 0x5A, sizeof results);
    ASSERT_EQ(velk_batch_put(client.get(), "ns", batch.items.data(), 2, results, 2, nullptr), 0);
    EXPECT_EQ(field_text(results[0].location, 256), kPrefix + "ns/a");
    EXPECT_EQ(field_text(results[1].location, 256), kPrefix + "ns/b");
    const unsigned char* third = reinterpret_cast<unsigned char*>(&results[2]);
    for (size_t i = 0; i < sizeof results[2]; ++i) {
        ASSERT_EQ(third[i], 0x5A);
    }
}

TEST(BatchPut, InvalidItemsFailAloneAndTheRestIsStored) {
    Client client = make_client();
    const char part[] = "xyz";
    const void* null_part[] = {nullptr};
    const void* parts[] = {part};
    const size_t one[] = {3};
    const size_t zero[] = {0};
    velk_put_item_t items[8] = {};
    // 0: valid; 1: null key; 2: negative part count; 3: negative metadata
    // count; 4: parts announced without arrays; 5: lens missing; 6: non-empty
    // part with a null pointer; 7: empty part with a null pointer (valid).
    items[0] = {"ok", parts, one, 1, 0, 0, 0, nullptr, 0};
    items[1] = {nullptr, parts, one, 1, 0, 0, 0, nullptr, 0};
    items[2] = {"neg-parts", parts, one, -1, 0, 0, 0, nullptr, 0};
    items[3] = {"neg-meta", parts, one, 1, 0, 0, 0, nullptr, -1};
    items[4] = {"no-parts", nullptr, one, 1, 0, 0, 0, nullptr, 0};
    items[5] = {"no-lens", parts, nullptr, 1, 0, 0, 0, nullptr, 0};
    items[6] = {"null-part", null_part, one, 1, 0, 0, 0, nullptr, 0};
    items[7] = {"empty-null-part", null_part, zero, 1, 0, 0, 0, nullptr, 0};
    velk_put_result_t results[8];
    ASSERT_EQ(velk_batch_put(client.get(), "ns", items, 8, results, 8, nullptr), VELK_OK);
    const int expected[8] = {0, -5, -5, -5, -5, -5, -5, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(results[i].status, expected[i]) << i;
        EXPECT_EQ(all_zero(results[i].location, 256), expected[i] != 0) << i;
    }
    EXPECT_EQ(get_value(client.get(), "ns", "ok"), "xyz");
    EXPECT_EQ(get_value(client.get(), "ns", "empty-null-part"), "");
    EXPECT_EQ(get_value(client.get(), "ns", "null-part"), std::nullopt);
}

TEST(BatchPut, PartsAreConcatenatedInOrderAndZeroPartsStoreAnEmptyValue) {
    Client client = make_client();
    const char first[] = {'a', 'b'};
    const char second[] = {'\0', 'c', 'd'};  // bytes, not text: NULs are kept
    const void* parts[] = {first, nullptr, second};
    const size_t lens[] = {2, 0, 3};
    velk_put_item_t items[2] = {};
    items[0] = {"joined", parts, lens, 3, 0, 0, 0, nullptr, 0};
    items[1] = {"empty", nullptr, nullptr, 0, 0, 0, 0, nullptr, 0};
    velk_put_result_t results[2];
    ASSERT_EQ(velk_batch_put(client.get(), "ns", items, 2, results, 2, nullptr), 0);
    EXPECT_EQ(results[1].status, 0);
    EXPECT_EQ(get_value(client.get(), "ns", "joined"), std::string("ab\0cd", 5));
    EXPECT_EQ(get_value(client.get(), "ns", "empty"), "");
}

TEST(BatchPut, MetadataKeepsOrderAndDuplicatesAndDropsHalfPairs) {
    Client client = make_client();
    const velk_meta_pair_t pairs[] = {
        {"a", "2"}, {nullptr, "lost"}, {"b", "x"}, {"lost", nullptr}, {"a", "1"},
    };
    velk_put_item_t item{"k", nullptr, nullptr, 0, 0, 0, 0, pairs, 5};
    velk_put_result_t result;
    ASSERT_EQ(velk_batch_put(client.get(), "ns", &item, 1, &result, 1, nullptr), 0);
    EXPECT_EQ(query_one(client.get(), "ns", "k").meta, (Meta{{"a", "2"}, {"b", "x"}, {"a", "1"}}));

    // A null metadata array with a positive count is valid and stores none.
    item.metadata = nullptr;
    item.metadata_count = 3;
    ASSERT_EQ(velk_batch_put(client.get(), "ns", &item, 1, &result, 1, nullptr), 0);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(query_one(client.get(), "ns", "k").meta.empty());
}

TEST(BatchPut, ReplicaCountBelowOneIsStoredAsOneAndTagIsKept) {
    Client client = make_client();
    struct {
        int32_t given;
        int32_t stored;
        uint32_t tag;
    } cases[] = {{0, 1, 0}, {-3, 1, 7}, {1, 1, 0xFFFFFFFFu}, {5, 5, 42}};
    for (const auto& c : cases) {
        ASSERT_EQ(put(client.get(), "ns", {PutSpec{"k", "v", {}, c.tag, c.given}}), 0);
        const Queried q = query_one(client.get(), "ns", "k");
        EXPECT_EQ(q.replica_count, c.stored) << c.given;
        EXPECT_EQ(q.tag, c.tag) << c.given;
    }
}

TEST(BatchPut, ReplacingAKeyReplacesTheWholeEntry) {
    Client client = make_client();
    ASSERT_EQ(put(client.get(), "ns", {PutSpec{"k", "first value", {{"m", "1"}}, 9, 3}}), 0);
    ASSERT_EQ(put(client.get(), "ns", {PutSpec{"k", "2nd", {}, 0, 0}}), 0);
    const Queried q = query_one(client.get(), "ns", "k");
    EXPECT_EQ(q.value_len, 3u);
    EXPECT_TRUE(q.meta.empty());
    EXPECT_EQ(q.replica_count, 1);
    EXPECT_EQ(q.tag, 0u);
    EXPECT_EQ(get_value(client.get(), "ns", "k"), "2nd");
}

TEST(BatchPut, SameKeyTwiceInOneBatchKeepsTheLater) {
    Client client = make_client();
    std::vector<velk_put_result_t> results;
    ASSERT_EQ(put(client.get(), "ns", {PutSpec{"k", "one"}, PutSpec{"k", "two"}}, &results), 0);
    EXPECT_EQ(results[0].status, 0);
    EXPECT_EQ(results[1].status, 0);
    EXPECT_STREQ(results[0].location, results[1].location);
    EXPECT_EQ(get_value(client.get(), "ns", "k"), "two");
}

TEST(BatchPut, LocationIsCutAfter255BytesAndEmptyNamesAreAccepted) {
    Client client = make_client();
    const std::string long_key(300, 'k');
    std::vector<velk_put_result_t> results;
    ASSERT_EQ(put(client.get(), "ns", {PutSpec{long_key, "v"}}, &results), 0);
    const std::string full = kPrefix + "ns/" + long_key;
    EXPECT_EQ(field_text(results[0].location, 256), full.substr(0, 255));
    EXPECT_EQ(get_value(client.get(), "ns", long_key.c_str()), "v");

    ASSERT_EQ(put(client.get(), "", {PutSpec{"", "empty-names"}}, &results), 0);
    EXPECT_EQ(field_text(results[0].location, 256), kPrefix + "/");
    EXPECT_EQ(get_value(client.get(), "", ""), "empty-names");
}

TEST(BatchPut, StoresCopiesNotPointersIntoCallerMemory) {
    Client client = make_client();
    std::string key = "key";
    std::string value = "value";
    std::string meta_key = "mk";
    std::string meta_value = "mv";
    ASSERT_EQ(put(client.get(), "ns", {PutSpec{key, value, {{meta_key, meta_value}}}}), 0);
    // PutBatch and its strings are gone by now; overwrite ours too.
    key.assign(3, 'X');
    value.assign(5, 'Y');
    EXPECT_EQ(get_value(client.get(), "ns", "key"), "value");
    EXPECT_EQ(query_one(client.get(), "ns", "key").meta, (Meta{{"mk", "mv"}}));
}
