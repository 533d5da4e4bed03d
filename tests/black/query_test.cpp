// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

class BatchQuery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(put(client.get(), "ns",
                      {PutSpec{"plain", "12345", {}, 4, 2},
                       PutSpec{"meta", "xy", {{"k", "v1"}, {"k", "v1"}, {"z", ""}}, 99, 0},
                       PutSpec{"empty", ""}, PutSpec{long_key, "long"}}),
                  0);
    }
    const std::string long_key = std::string(300, 'L');
    Client client = make_client();
};

}  // namespace

TEST_F(BatchQuery, ArgumentChecks) {
    const char* keys[] = {"plain"};
    velk_query_result_t results[2];
    std::memset(results, 0x21, sizeof results);
    velk_client* c = client.get();
    EXPECT_EQ(velk_batch_query(nullptr, "ns", keys, 1, nullptr, results, 1), -5);
    EXPECT_EQ(velk_batch_query(c, nullptr, keys, 1, nullptr, results, 1), -5);
    EXPECT_EQ(velk_batch_query(c, "ns", nullptr, 1, nullptr, results, 1), -5);
    EXPECT_EQ(velk_batch_query(c, "ns", keys, 0, nullptr, results, 1), -5);
    EXPECT_EQ(velk_batch_query(c, "ns", keys, -4, nullptr, results, 1), -5);
    EXPECT_EQ(velk_batch_query(c, "ns", keys, 1, nullptr, nullptr, 1), -5);
    EXPECT_EQ(velk_batch_query(c, "ns", keys, 2, nullptr, results, 1), -5);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(results)[0], 0x21);
}

TEST_F(BatchQuery, RecordsDescribeEachKey) {
    const char* keys[] = {"plain", nullptr, "missing", "meta", "empty", long_key.c_str()};
    velk_query_result_t results[7];
    std::memset(results, 0x21, sizeof results);
    ASSERT_EQ(velk_batch_query(client.get(), "ns", keys, 6, nullptr, results, 7), 6);

    EXPECT_EQ(field_text(results[0].key, 256), "plain");
    EXPECT_EQ(field_text(results[0].status, 32), "ok");
    EXPECT_EQ(results[0].replica_count, 2);
    EXPECT_EQ(results[0].value_len, 5u);
    EXPECT_EQ(results[0].metadata, nullptr);
    EXPECT_EQ(results[0].details, nullptr);

    for (int i : {1, 2}) {
        EXPECT_EQ(field_text(results[i].status, 32), "not_found") << i;
        EXPECT_EQ(results[i].replica_count, 0) << i;
        EXPECT_EQ(results[i].value_len, 0u) << i;
        EXPECT_EQ(results[i].metadata, nullptr) << i;
        EXPECT_EQ(results[i].metadata_count, 0) << i;
    }
    EXPECT_TRUE(all_zero(results[1].key, 256));
    EXPECT_EQ(field_text(results[2].key, 256), "missing");

    ASSERT_EQ(results[3].metadata_count, 3);
    EXPECT_STREQ(results[3].metadata[0].key, "k");
    EXPECT_STREQ(results[3].metadata[1].value, "v1");
    EXPECT_NE(results[3].metadata[0].key, results[3].metadata[1].key);  // separate copies
    EXPECT_STREQ(results[3].metadata[2].key, "z");
    EXPECT_STREQ(results[3].metadata[2].value, "");
    EXPECT_EQ(results[3].detail_count, 0);

    EXPECT_EQ(field_text(results[4].status, 32), "ok");
    EXPECT_EQ(results[4].value_len, 0u);

    // Found by the full 300-byte key; the record holds its first 255 bytes.
    EXPECT_EQ(field_text(results[5].status, 32), "ok");
    EXPECT_EQ(field_text(results[5].key, 256), long_key.substr(0, 255));

    EXPECT_EQ(reinterpret_cast<unsigned char*>(&results[6])[0], 0x21);
    velk_query_result_free(results, 6);
    EXPECT_EQ(results[3].metadata, nullptr);
    EXPECT_EQ(results[3].metadata_count, 0);
    EXPECT_EQ(field_text(results[3].status, 32), "ok");  // the rest stays
    velk_query_result_free(results, 6);                  // a second release does nothing
}

TEST_F(BatchQuery, DetailsOnlyWhenAskedAndOnlyForFoundKeys) {
    const char* keys[] = {"plain", "missing", "meta"};
    velk_query_result_t results[3];
    for (const int32_t include : {0, 1}) {
        const velk_query_options_t options{12345, include};
        ASSERT_EQ(velk_batch_query(client.get(), "ns", keys, 3, &options, results, 3), 3);
        EXPECT_EQ(results[1].details, nullptr);
        EXPECT_EQ(results[1].detail_count, 0);
        if (include == 0) {
            EXPECT_EQ(results[0].details, nullptr);
            EXPECT_EQ(results[2].detail_count, 0);
        } else {
            ASSERT_EQ(results[0].detail_count, 1);
            EXPECT_EQ(results[0].details->tag, 4u);
            EXPECT_EQ(results[0].details->value_len, 5u);
            EXPECT_EQ(results[0].details->timestamp_ms, 1700000000000);
            ASSERT_EQ(results[2].detail_count, 1);
            EXPECT_EQ(results[2].details->tag, 99u);
        }
        velk_query_result_free(results, 3);
    }
}

TEST_F(BatchQuery, MissingNamespaceIsNotCreated) {
    const char* keys[] = {"plain"};
    velk_query_result_t result;
    ASSERT_EQ(velk_batch_query(client.get(), "none", keys, 1, nullptr, &result, 1), 1);
    EXPECT_STREQ(result.status, "not_found");
    velk_namespace_info_t info;
    EXPECT_EQ(velk_get_namespace(client.get(), "none", &info), VELK_ERR_NAMESPACE_NOT_FOUND);
}

TEST_F(BatchQuery, ResultsOutliveTheStoreAndTheHandle) {
    const char* keys[] = {"meta"};
    velk_query_result_t result;
    ASSERT_EQ(velk_batch_query(client.get(), "ns", keys, 1, nullptr, &result, 1), 1);
    ASSERT_EQ(put_one(client.get(), "ns", "meta", "replaced"), 0);
    client.reset();
    EXPECT_STREQ(result.metadata[0].value, "v1");
    velk_query_result_free(&result, 1);
}

TEST(QueryRelease, NullAndNonPositiveCountsAndZeroedRecordsAreHarmless) {
    velk_query_result_free(nullptr, 3);
    velk_query_result_t record{};
    velk_query_result_free(&record, 0);
    velk_query_result_free(&record, -1);
    velk_query_result_free(&record, 1);
    EXPECT_EQ(record.metadata, nullptr);
}
