// SPDX-License-Identifier: MIT
// libvelkfault in front of libvelkmock, linked in that order: whole-call and
// per-item failures, skip and times, failed creates, delays, counts, reset,
// the mock's calls to itself, and rule changes racing calls.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "velk_test.hpp"
#include "velkfault.h"

using namespace velk_test;

namespace {

class Faults : public ::testing::Test {
protected:
    void SetUp() override { velkfault_reset(); }
    void TearDown() override { velkfault_reset(); }
    Client client = make_client();
};

}  // namespace

TEST_F(Faults, SkipThenFailTimesThenPassAgain) {
    ASSERT_EQ(velkfault_fail("velk_batch_put", VELK_ERR_NO_MEMORY, 1, 2), 0);
    const int rcs[] = {put_one(client.get(), "ns", "k1", "1"), put_one(client.get(), "ns", "k2", "2"),
                       put_one(client.get(), "ns", "k3", "3"), put_one(client.get(), "ns", "k4", "4")};
    EXPECT_EQ(rcs[0], VELK_OK);
    EXPECT_EQ(rcs[1], VELK_ERR_NO_MEMORY);
    EXPECT_EQ(rcs[2], VELK_ERR_NO_MEMORY);
    EXPECT_EQ(rcs[3], VELK_OK);
    EXPECT_EQ(get_value(client.get(), "ns", "k1"), "1");
    EXPECT_EQ(get_value(client.get(), "ns", "k2"), std::nullopt);
    EXPECT_EQ(get_value(client.get(), "ns", "k3"), std::nullopt);
    EXPECT_EQ(get_value(client.get(), "ns", "k4"), "4");
    EXPECT_EQ(velkfault_calls("velk_batch_put"), 4u);
}

TEST_F(Faults, AFailedCallWritesNothing) {
    ASSERT_EQ(velkfault_fail("velk_batch_get_into", -7, 0, 0), 0);
    velk_get_item_t item{};
    item.key = "k";
    char buffer[4] = {'#', '#', '#', '#'};
    void* buffers[] = {buffer};
    const uint64_t sizes[] = {sizeof buffer};
    int32_t status = 99;
    uint64_t length = 99;
    for (int i = 0; i < 3; ++i) {  // times 0: every call
        EXPECT_EQ(
            velk_batch_get_into(client.get(), "ns", &item, 1, buffers, sizes, &status, &length, nullptr), -7);
    }
    EXPECT_EQ(status, 99);
    EXPECT_EQ(length, 99u);
    EXPECT_EQ(buffer[0], '#');
}

TEST_F(Faults, OneItemOfAPutIsDroppedAndReported) {
    ASSERT_EQ(velkfault_fail_item("velk_batch_put", 1, VELK_ERR_NO_MEMORY, 0, 1), 0);
    PutBatch batch({PutSpec{"a", "A"}, PutSpec{"b", "B"}, PutSpec{"c", "C"}});
    velk_put_result_t results[3];
    std::memset(results, 0x5C, sizeof results);
    EXPECT_EQ(velk_batch_put(client.get(), "ns", batch.items.data(), 3, results, 3, nullptr), VELK_OK);
    EXPECT_EQ(results[0].status, VELK_OK);
    EXPECT_EQ(field_text(results[0].location, 256), "mock://mock-node-0:9000/ns/a");
    EXPECT_EQ(results[1].status, VELK_ERR_NO_MEMORY);
    EXPECT_TRUE(all_zero(results[1].location, sizeof results[1].location));
    EXPECT_EQ(results[2].status, VELK_OK);
    EXPECT_EQ(field_text(results[2].location, 256), "mock://mock-node-0:9000/ns/c");
    EXPECT_EQ(get_value(client.get(), "ns", "a"), "A");
    EXPECT_EQ(get_value(client.get(), "ns", "b"), std::nullopt);
    EXPECT_EQ(get_value(client.get(), "ns", "c"), "C");
    // Spent after one use.
    EXPECT_EQ(put(client.get(), "ns", {PutSpec{"a", "A"}, PutSpec{"b", "B"}}), VELK_OK);
    EXPECT_EQ(get_value(client.get(), "ns", "b"), "B");
}

TEST_F(Faults, ItemRulesWaitForABatchLongEnough) {
    ASSERT_EQ(velkfault_fail_item("velk_batch_delete", 2, -9, 0, 1), 0);
    ASSERT_EQ(put(client.get(), "ns", {PutSpec{"a", "1"}, PutSpec{"b", "2"}, PutSpec{"c", "3"}}), VELK_OK);
    const char* two[] = {"a", "b"};
    int32_t statuses[3] = {7, 7, 7};
    // Two items: too few for item 2; passed on whole, rule kept.
    EXPECT_EQ(velk_batch_delete(client.get(), "ns", two, 2, nullptr, statuses, 2, nullptr), VELK_OK);
    EXPECT_EQ(statuses[0], VELK_OK);
    EXPECT_EQ(statuses[1], VELK_OK);
    const char* three[] = {"a", "missing", "c"};
    const int32_t options[] = {1, 2, 3};
    EXPECT_EQ(velk_batch_delete(client.get(), "ns", three, 3, options, statuses, 3, nullptr), VELK_OK);
    EXPECT_EQ(statuses[0], VELK_ERR_NOT_FOUND);
    EXPECT_EQ(statuses[1], VELK_ERR_NOT_FOUND);
    EXPECT_EQ(statuses[2], -9);
    EXPECT_EQ(get_value(client.get(), "ns", "c"), "3");  // not passed on
}

TEST_F(Faults, ACreateFailsWithNullAndErrno) {
    ASSERT_EQ(velkfault_fail("velk_client_create", VELK_ERR_NO_MEMORY, 0, 1), 0);
    errno = 0;
    const int config = 0;
    EXPECT_EQ(velk_client_create(&config), nullptr);
    EXPECT_EQ(errno, 4);
    velk_client* again = velk_client_create(&config);
    EXPECT_NE(again, nullptr);
    velk_client_destroy(again);
    // The low-level create goes through velk_client_create in the mock.
    ASSERT_EQ(velkfault_fail("velk_client_create", -12, 0, 1), 0);
    const velk_ll_config_t ll{"name"};
    errno = 0;
    EXPECT_EQ(velk_ll_create(&ll), nullptr);
    EXPECT_EQ(errno, 12);
}

TEST_F(Faults, TheMocksOwnCallsPassThroughToo) {
    ASSERT_EQ(velkfault_fail("velk_batch_put", -4, 0, 1), 0);
    const void* parts[] = {"v"};
    const uint64_t lens[] = {1};
    const velk_ll_put_item_t item{"k", parts, lens, 1};
    velk_put_result_t result;
    EXPECT_EQ(velk_ll_batch_put(client.get(), &item, 1, &result, 1, nullptr, nullptr), -4);
    EXPECT_EQ(velkfault_calls("velk_ll_batch_put"), 1u);
    EXPECT_EQ(velkfault_calls("velk_batch_put"), 1u);
}

TEST_F(Faults, DelaysWaitAndCountsReset) {
    ASSERT_EQ(velkfault_delay("velk_get_nodes", 30000), 0);
    velk_node_info_t nodes[2];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(velk_get_nodes(client.get(), nullptr, nodes, 2), 2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    ASSERT_EQ(velkfault_delay("velk_get_nodes", 0), 0);
    EXPECT_EQ(velkfault_calls("velk_get_nodes"), 1u);
    EXPECT_STREQ(velk_version(), "0.0.0-mock");
    EXPECT_EQ(velkfault_calls("velk_version"), 1u);
    velkfault_reset();
    EXPECT_EQ(velkfault_calls("velk_get_nodes"), 0u);
    EXPECT_EQ(velkfault_calls("velk_version"), 0u);
    EXPECT_EQ(velkfault_calls("no_such_function"), 0u);
    EXPECT_EQ(velkfault_calls(nullptr), 0u);
}

TEST_F(Faults, ControlCallsRefuseWhatTheyCannotDo) {
    struct Case {
        const char* function;
        bool can_fail;
        bool per_item;
    } cases[] = {
        {nullptr, false, false},
        {"velk_nonsense", false, false},
        {"velk_client_destroy", false, false},
        {"velk_ll_client_destroy", false, false},
        {"velk_query_result_free", false, false},
        {"velk_sdk_metrics_ctx_reset", false, false},
        {"velk_version", false, false},
        {"velk_revision", false, false},
        {"velk_build_time", false, false},
        {"velk_batch_get", true, false},
        {"velk_ll_create", true, false},
        {"velk_batch_put", true, true},
        {"velk_batch_delete_items", true, true},
        {"velk_batch_delete", true, true},
        {"velk_ll_batch_put", true, true},
        {"velk_ll_batch_delete", true, true},
    };
    for (const Case& c : cases) {
        const char* name = c.function != nullptr ? c.function : "NULL";
        EXPECT_EQ(velkfault_fail(c.function, -4, 0, 1), c.can_fail ? 0 : VELKFAULT_INVALID_ARGUMENT) << name;
        EXPECT_EQ(velkfault_fail_item(c.function, 0, -4, 0, 1), c.per_item ? 0 : VELKFAULT_INVALID_ARGUMENT)
            << name;
    }
    EXPECT_EQ(velkfault_fail_item("velk_batch_put", -1, -4, 0, 1), VELKFAULT_INVALID_ARGUMENT);
    EXPECT_EQ(velkfault_delay("velk_version", 1), 0);
    EXPECT_EQ(velkfault_delay("velk_nonsense", 1), VELKFAULT_INVALID_ARGUMENT);
    EXPECT_EQ(velkfault_delay(nullptr, 1), VELKFAULT_INVALID_ARGUMENT);
}

// Rules change while other threads call: every call either fails as planned
// or passes, and the counts add up. Under the tsan preset this also proves
// the plan is shared safely.
TEST_F(Faults, RuleChangesRaceCallsSafely) {
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> made{0};
    std::atomic<uint64_t> odd{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 2; ++t) {
        callers.emplace_back([&] {
            velk_node_info_t nodes[2];
            while (!stop) {
                const int rc = velk_get_nodes(client.get(), nullptr, nodes, 2);
                odd += rc != 2 && rc != -4;
                ++made;
            }
        });
    }
    std::thread changer([&] {
        for (int i = 0; i < 2000; ++i) {
            velkfault_fail("velk_get_nodes", -4, static_cast<uint32_t>(i % 3), static_cast<uint32_t>(i % 2));
            velkfault_delay("velk_get_nodes", 0);
        }
        stop = true;
    });
    changer.join();
    for (auto& t : callers) {
        t.join();
    }
    EXPECT_EQ(odd.load(), 0u);
    EXPECT_EQ(velkfault_calls("velk_get_nodes"), made.load());
}
