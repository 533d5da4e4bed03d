// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

// What the callback saw, copied out while the lock was held.
struct Seen {
    int calls = 0;
    int32_t count = 0;
    std::vector<bool> null_value;
    std::vector<std::string> values;
    std::vector<uint64_t> lens;
    std::vector<int32_t> statuses;
};

int record(int32_t count, const void* const* values, const uint64_t* lens, const int32_t* statuses,
           void* user_data) {
    auto* seen = static_cast<Seen*>(user_data);
    ++seen->calls;
    seen->count = count;
    for (int32_t i = 0; i < count; ++i) {
        seen->null_value.push_back(values[i] == nullptr);
        seen->values.emplace_back(static_cast<const char*>(values[i]), values[i] ? lens[i] : 0);
        seen->lens.push_back(lens[i]);
        seen->statuses.push_back(statuses[i]);
    }
    return 12345;  // ignored by the library
}

velk_get_item_t item_for(const char* key, const velk_meta_pair_t* filter = nullptr, int32_t n = 0) {
    velk_get_item_t item{};
    item.key = key;
    item.meta_filter = filter;
    item.meta_filter_count = n;
    return item;
}

class BatchGet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(put(client.get(), "ns",
                      {PutSpec{"a", "alpha", {{"a", "2"}, {"a", "1"}, {"env", "prod"}}}, PutSpec{"b", "bee"},
                       PutSpec{"empty", ""}}),
                  0);
    }
    Client client = make_client();
};

}  // namespace

TEST_F(BatchGet, ArgumentChecksGiveEinvalAndNoCallback) {
    Seen seen;
    velk_get_item_t item = item_for("a");
    EXPECT_EQ(velk_batch_get(nullptr, "ns", &item, 1, record, &seen, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get(client.get(), nullptr, &item, 1, record, &seen, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get(client.get(), "ns", nullptr, 1, record, &seen, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get(client.get(), "ns", &item, 0, record, &seen, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get(client.get(), "ns", &item, -2, record, &seen, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get(client.get(), "ns", &item, 1, nullptr, &seen, nullptr), -EINVAL);
    EXPECT_EQ(seen.calls, 0);
}

TEST_F(BatchGet, CallbackRunsOnceWithLentValuesAndLengthStatuses) {
    Seen seen;
    const velk_get_item_t items[] = {item_for("a"), item_for(nullptr),   item_for("b"),
                                     item_for("a"), item_for("missing"), item_for("empty")};
    ASSERT_EQ(velk_batch_get(client.get(), "ns", items, 6, record, &seen, nullptr), VELK_OK);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.count, 6);
    EXPECT_EQ(seen.values, (std::vector<std::string>{"alpha", "", "bee", "alpha", "", ""}));
    EXPECT_EQ(seen.statuses, (std::vector<int32_t>{5, 0, 3, 5, 0, 0}));
    EXPECT_EQ(seen.lens, (std::vector<uint64_t>{5, 0, 3, 5, 0, 0}));
    EXPECT_TRUE(seen.null_value[1]);
    EXPECT_TRUE(seen.null_value[4]);
}

TEST_F(BatchGet, MissingNamespaceStillCallsBackOnce) {
    Seen seen;
    const velk_get_item_t items[] = {item_for("a"), item_for("b")};
    ASSERT_EQ(velk_batch_get(client.get(), "nope", items, 2, record, &seen, nullptr), VELK_OK);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.statuses, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(seen.null_value, (std::vector<bool>{true, true}));
    // Reading creates nothing.
    velk_namespace_info_t info;
    EXPECT_EQ(velk_get_namespace(client.get(), "nope", &info), VELK_ERR_NAMESPACE_NOT_FOUND);
}

TEST_F(BatchGet, MetadataFilters) {
    const velk_meta_pair_t a1[] = {{"a", "1"}};
    const velk_meta_pair_t a1_twice[] = {{"a", "1"}, {"a", "1"}};
    const velk_meta_pair_t both[] = {{"a", "2"}, {"env", "prod"}};
    const velk_meta_pair_t one_missing[] = {{"a", "1"}, {"env", "dev"}};
    const velk_meta_pair_t upper[] = {{"A", "1"}};
    const velk_meta_pair_t trailing_space[] = {{"a", "1 "}};
    const velk_meta_pair_t null_value[] = {{"a", nullptr}};
    const velk_meta_pair_t null_key[] = {{nullptr, "1"}};
    struct Case {
        const char* what;
        const char* key;
        const velk_meta_pair_t* filter;
        int32_t n;
        int32_t status;
    } cases[] = {
        {"any of duplicate keys satisfies", "a", a1, 1, 5},
        {"a pair listed twice is satisfied twice", "a", a1_twice, 2, 5},
        {"conjunction holds", "a", both, 2, 5},
        {"conjunction fails", "a", one_missing, 2, 0},
        {"case matters", "a", upper, 1, 0},
        {"no trimming", "a", trailing_space, 1, 0},
        {"null value never matches", "a", null_value, 1, 0},
        {"null key never matches", "a", null_key, 1, 0},
        {"count 0 means no filter", "a", null_value, 0, 5},
        {"negative count means no filter", "a", null_value, -1, 5},
        {"no metadata fails a filter", "b", a1, 1, 0},
        {"null filter array", "b", nullptr, 3, 3},
    };
    for (const Case& c : cases) {
        velk_get_item_t item = item_for(c.key, c.filter, c.n);
        Seen seen;
        ASSERT_EQ(velk_batch_get(client.get(), "ns", &item, 1, record, &seen, nullptr), 0);
        EXPECT_EQ(seen.statuses.at(0), c.status) << c.what;

        // get-into applies the same filter.
        char buffer[16];
        void* buffers[] = {buffer};
        uint64_t sizes[] = {sizeof buffer};
        int32_t status = -1;
        uint64_t length = 99;
        ASSERT_EQ(
            velk_batch_get_into(client.get(), "ns", &item, 1, buffers, sizes, &status, &length, nullptr), 0);
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_EQ(length, static_cast<uint64_t>(c.status)) << c.what;
    }
}

TEST_F(BatchGet, GetIntoArgumentChecksWriteNothing) {
    velk_get_item_t item = item_for("a");
    char buffer[8];
    void* buffers[] = {buffer};
    uint64_t sizes[] = {8};
    int32_t status = 77;
    uint64_t length = 77;
    velk_client* c = client.get();
    EXPECT_EQ(velk_batch_get_into(nullptr, "ns", &item, 1, buffers, sizes, &status, &length, nullptr),
              -EINVAL);
    EXPECT_EQ(velk_batch_get_into(c, nullptr, &item, 1, buffers, sizes, &status, &length, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get_into(c, "ns", nullptr, 1, buffers, sizes, &status, &length, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get_into(c, "ns", &item, 0, buffers, sizes, &status, &length, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get_into(c, "ns", &item, 1, nullptr, sizes, &status, &length, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get_into(c, "ns", &item, 1, buffers, nullptr, &status, &length, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get_into(c, "ns", &item, 1, buffers, sizes, nullptr, &length, nullptr), -EINVAL);
    EXPECT_EQ(velk_batch_get_into(c, "ns", &item, 1, buffers, sizes, &status, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(status, 77);
    EXPECT_EQ(length, 77u);
}

TEST_F(BatchGet, GetIntoSizesAndBuffers) {
    // "alpha" is 5 bytes. Each row: buffer capacity, whether the buffer is
    // given, and the expected status.
    struct Case {
        const char* key;
        uint64_t capacity;
        bool given;
        int32_t status;
        uint64_t length;
        bool copied;
    } cases[] = {
        {"a", 5, true, 5, 5, true},                // exact fit
        {"a", 4, true, -ENOSPC, 5, false},         // one byte short
        {"a", 1 << 20, false, -ENOSPC, 5, false},  // no buffer for a non-empty value
        {"empty", 0, false, 0, 0, false},          // empty value needs no buffer
        {"missing", 0, false, 0, 0, false},
    };
    for (const Case& c : cases) {
        char buffer[8];
        std::memset(buffer, '#', sizeof buffer);
        velk_get_item_t item = item_for(c.key);
        void* buffers[] = {c.given ? buffer : nullptr};
        uint64_t sizes[] = {c.capacity};
        int32_t status = 77;
        uint64_t length = 77;
        ASSERT_EQ(
            velk_batch_get_into(client.get(), "ns", &item, 1, buffers, sizes, &status, &length, nullptr), 0);
        EXPECT_EQ(status, c.status) << c.key << " " << c.capacity;
        EXPECT_EQ(length, c.length) << c.key << " " << c.capacity;
        const std::string expected = c.copied ? std::string("alpha###") : std::string(8, '#');
        EXPECT_EQ(std::string(buffer, 8), expected) << c.key << " " << c.capacity;
    }
}

TEST_F(BatchGet, GetIntoWritesEverySlotOfTheBatch) {
    const velk_get_item_t items[] = {item_for("b"), item_for(nullptr), item_for("a")};
    char b0[8], b1[8], b2[2];
    void* buffers[] = {b0, b1, b2};
    uint64_t sizes[] = {8, 8, 2};
    int32_t statuses[4] = {9, 9, 9, 9};
    uint64_t lens[4] = {9, 9, 9, 9};
    ASSERT_EQ(velk_batch_get_into(client.get(), "ns", items, 3, buffers, sizes, statuses, lens, nullptr), 0);
    EXPECT_EQ(statuses[0], 3);
    EXPECT_EQ(statuses[1], 0);
    EXPECT_EQ(statuses[2], -ENOSPC);
    EXPECT_EQ(lens[0], 3u);
    EXPECT_EQ(lens[1], 0u);
    EXPECT_EQ(lens[2], 5u);
    EXPECT_EQ(statuses[3], 9);  // beyond count: untouched
    EXPECT_EQ(lens[3], 9u);
}
