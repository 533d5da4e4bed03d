// SPDX-License-Identifier: MIT
// Allocation failures injected at every point of a call, and allocation
// counts of the hot paths, through the interposed allocator.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "alloc_hook.hpp"
#include "velk_test.hpp"

using namespace velk_test;

namespace {

std::vector<std::string> numbered(const char* stem, int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        out.push_back(std::string(stem) + "-key-" + std::to_string(i) + "-padding-xyz");
    }
    return out;
}

std::vector<const char*> pointers(const std::vector<std::string>& texts) {
    std::vector<const char*> out;
    for (const auto& t : texts) {
        out.push_back(t.c_str());
    }
    return out;
}

int ignore(int32_t, const void* const*, const uint64_t*, const int32_t*, void* called) {
    ++*static_cast<int*>(called);
    return 0;
}

}  // namespace

TEST(AllocFailure, PutFailingMidBatchKeepsEarlierItemsAndTearsNothing) {
    int failures_seen = 0;
    for (long n = 1;; ++n) {
        velk_client* client = velk_client_create("cfg");
        ASSERT_NE(client, nullptr);
        ASSERT_EQ(put_one(client, "ns", "old", "old-value"), 0);

        PutBatch batch({PutSpec{"first-new-key-longer-than-sso", "1111", {{"m", "n"}}},
                        PutSpec{"old", "replacement", {{"a", "b"}, {"c", "d"}}},
                        PutSpec{"third-new-key-longer-than-sso", std::string(5000, 'z')}});
        velk_put_result_t results[3];
        std::memset(results, 0x5C, sizeof results);
        alloc_hook::open(n);
        const int rc = velk_batch_put(client, "ns", batch.items.data(), 3, results, 3, nullptr);
        const alloc_hook::Window w = alloc_hook::pause();

        ASSERT_TRUE(rc == VELK_OK || rc == VELK_ERR_NO_MEMORY) << rc;
        if (rc == VELK_OK) {
            EXPECT_FALSE(w.failed);
        } else {
            ++failures_seen;
            int failed_at = 0;
            while (failed_at < 3 && results[failed_at].status == VELK_OK) {
                ++failed_at;
            }
            ASSERT_LT(failed_at, 3);
            EXPECT_EQ(results[failed_at].status, VELK_ERR_NO_MEMORY);
            EXPECT_TRUE(all_zero(results[failed_at].location, 256));
            for (int i = failed_at + 1; i < 3; ++i) {
                EXPECT_EQ(reinterpret_cast<unsigned char*>(&results[i])[0], 0x5C) << "record " << i;
            }
            // The replaced key holds its old or its new value, never a mix.
            const auto old_value = get_value(client, "ns", "old");
            EXPECT_EQ(old_value, failed_at <= 1 ? "old-value" : "replacement");
        }
        // The lock was released: the handle still works.
        EXPECT_EQ(put_one(client, "ns", "after", "x"), 0);
        EXPECT_EQ(get_value(client, "ns", "after"), "x");
        velk_client_destroy(client);
        EXPECT_EQ(alloc_hook::peek().live, 0) << "leak with failure at " << n;
        alloc_hook::close();
        if (!w.failed) {
            break;
        }
    }
    EXPECT_GT(failures_seen, 5);
}

TEST(AllocFailure, QueryReleasesEverythingAndLeavesNoPointer) {
    Client client = make_client();
    ASSERT_EQ(put(client.get(), "ns",
                  {PutSpec{"a", "1", {{"k1", "v1"}, {"k2", "v2"}}}, PutSpec{"b", "22"},
                   PutSpec{"c", "333", {{"x", "y"}}}}),
              0);
    const char* keys[] = {"a", "missing", "b", "c"};
    const velk_query_options_t options{0, 1};
    int failures_seen = 0;
    for (long n = 1;; ++n) {
        velk_query_result_t results[5];
        std::memset(results, 0x3E, sizeof results);
        alloc_hook::open(n);
        const int rc = velk_batch_query(client.get(), "ns", keys, 4, &options, results, 5);
        const alloc_hook::Window w = alloc_hook::pause();
        if (!w.failed) {
            EXPECT_EQ(rc, 4);
            velk_query_result_free(results, 4);
            EXPECT_EQ(alloc_hook::peek().live, 0);
            alloc_hook::close();
            break;
        }
        ++failures_seen;
        EXPECT_EQ(rc, VELK_ERR_NO_MEMORY);
        EXPECT_EQ(w.live, 0) << "failure at allocation " << n;
        int touched = 0;
        while (touched < 5 && reinterpret_cast<unsigned char*>(&results[touched])[0] != 0x3E) {
            EXPECT_EQ(results[touched].metadata, nullptr);
            EXPECT_EQ(results[touched].metadata_count, 0);
            EXPECT_EQ(results[touched].details, nullptr);
            EXPECT_EQ(results[touched].detail_count, 0);
            ++touched;
        }
        EXPECT_LT(touched, 5);
        alloc_hook::close();
        EXPECT_EQ(put_one(client.get(), "ns", "after", "x"), 0);
    }
    // 2 pairs x 2 texts + array + detail, detail, 1 pair + array + detail.
    EXPECT_EQ(failures_seen, 6 + 1 + 4);
}

TEST(AllocFailure, GetArraysAndFlatDeleteTemporaries) {
    Client client = make_client();
    const auto names = numbered("g", 200);
    for (const auto& name : names) {
        ASSERT_EQ(put_one(client.get(), "ns", name, "v"), 0);
    }
    std::vector<velk_get_item_t> items(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        items[i].key = names[i].c_str();
    }
    const auto keys = pointers(names);
    for (long n = 1;; ++n) {
        int called = 0;
        alloc_hook::open(n);
        const int rc = velk_batch_get(client.get(), "ns", items.data(), 200, ignore, &called, nullptr);
        const alloc_hook::Window w = alloc_hook::pause();
        alloc_hook::close();
        if (!w.failed) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(called, 1);
            break;
        }
        EXPECT_EQ(rc, VELK_ERR_NO_MEMORY);
        EXPECT_EQ(called, 0);
        EXPECT_EQ(w.live, 0);
    }
    for (long n = 1;; ++n) {
        std::vector<int32_t> statuses(200, 7);
        alloc_hook::open(n);
        const int rc =
            velk_batch_delete(client.get(), "ns", keys.data(), 200, nullptr, statuses.data(), 200, nullptr);
        const alloc_hook::Window w = alloc_hook::pause();
        alloc_hook::close();
        if (rc == VELK_OK) {
            // Done, perhaps with a failed shrink of the emptied table, which
            // the table rides out by keeping its larger array.
            EXPECT_EQ(statuses[199], 0);
            break;
        }
        ASSERT_TRUE(w.failed);
        EXPECT_EQ(rc, VELK_ERR_NO_MEMORY);
        EXPECT_EQ(statuses[0], 7);
        EXPECT_EQ(get_value(client.get(), "ns", names[0].c_str()), "v");
    }
}

TEST(AllocFailure, CreateReturnsNullAndLeaksNothing) {
    for (long n = 1;; ++n) {
        alloc_hook::open(n);
        velk_client* client = velk_client_create("cfg");
        const alloc_hook::Window w = alloc_hook::pause();
        if (!w.failed) {
            ASSERT_NE(client, nullptr);
            velk_client_destroy(client);
            EXPECT_EQ(alloc_hook::peek().live, 0);
            alloc_hook::close();
            break;
        }
        EXPECT_EQ(client, nullptr);
        EXPECT_EQ(w.live, 0);
        alloc_hook::close();
    }
}

// Allocation counts for a batch of 64 items.
class AllocCounts : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<PutSpec> planned;
        for (const auto& name : names) {
            planned.emplace_back(name, std::string(100, 'v'));
        }
        ASSERT_EQ(put(client.get(), "ns", planned), 0);
        ASSERT_EQ(put(client.get(), "meta", {PutSpec{names[0], "v", {{"a", "1"}, {"b", "2"}}}}), 0);
        for (size_t i = 0; i < names.size(); ++i) {
            items[i].key = names[i].c_str();
        }
    }
    long count(const std::function<void()>& call) {
        alloc_hook::Scope scope;
        call();
        return scope.stop().allocations;
    }
    Client client = make_client();
    std::vector<std::string> names = numbered("c", 64);
    std::vector<const char*> keys = pointers(names);
    velk_get_item_t items[64] = {};
};

TEST_F(AllocCounts, ReadsAndDeletesAllocateNothing) {
    std::vector<std::string> buffers(64, std::string(128, '\0'));
    void* ptrs[64];
    uint64_t sizes[64];
    for (int i = 0; i < 64; ++i) {
        ptrs[i] = buffers[i].data();
        sizes[i] = 128;
    }
    int32_t statuses[64];
    uint64_t lens[64];
    EXPECT_EQ(count([&] {
                  velk_batch_get_into(client.get(), "ns", items, 64, ptrs, sizes, statuses, lens, nullptr);
              }),
              0);
    int called = 0;
    EXPECT_LE(count([&] { velk_batch_get(client.get(), "ns", items, 64, ignore, &called, nullptr); }), 3);

    velk_query_result_t results[64];
    EXPECT_EQ(count([&] { velk_batch_query(client.get(), "ns", keys.data(), 64, nullptr, results, 64); }), 0);
    velk_query_result_free(results, 64);
    // Found with two pairs and details: array + 4 texts + detail; missing: 0.
    const velk_query_options_t details{0, 1};
    EXPECT_EQ(count([&] { velk_batch_query(client.get(), "meta", keys.data(), 64, &details, results, 64); }),
              6);
    velk_query_result_free(results, 64);

    std::vector<velk_delete_item_t> deletes(64);
    for (int i = 0; i < 64; ++i) {
        deletes[i].key = keys[i];
    }
    velk_delete_result_t deleted[64];
    EXPECT_EQ(
        count([&] { velk_batch_delete_items(client.get(), "ns", deletes.data(), 64, deleted, 64, nullptr); }),
        0);
    EXPECT_EQ(deleted[63].status, 0);
}

TEST_F(AllocCounts, PutAllocatesOnlyWhatTheEntryKeeps) {
    velk_put_result_t results[64];
    auto put_all = [&](const std::string& ns, size_t length) {
        std::vector<PutSpec> planned;
        for (const auto& name : names) {
            planned.emplace_back(name, std::string(length, 'w'));
        }
        PutBatch batch(planned);
        return count(
            [&] { velk_batch_put(client.get(), ns.c_str(), batch.items.data(), 64, results, 64, nullptr); });
    };
    // Rewriting values of the same length reuses their buffers.
    EXPECT_EQ(put_all("ns", 100), 0);
    EXPECT_EQ(get_value(client.get(), "ns", names[5].c_str()), std::string(100, 'w'));
    // Another length: one new buffer per value, nothing for the lookup.
    EXPECT_EQ(put_all("ns", 50), 64);
    // New keys: per item the value and one node holding the key, plus the
    // new namespace and the occasional growth of the table.
    const long fresh = put_all("fresh", 100);
    EXPECT_GE(fresh, 2 * 64);
    EXPECT_LE(fresh, 2 * 64 + 8);
}
