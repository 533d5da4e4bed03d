// SPDX-License-Identifier: MIT
// libvelkfault in front of libvelkmock, linked in that order: whole-call and
// per-item failures, skip and times, failed creates, delays, counts, reset,
// the mock's calls to itself, and rule changes racing calls.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
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
    // A failed create sets errno to -code, which INT32_MIN has none of.
    EXPECT_EQ(velkfault_fail("velk_client_create", INT32_MIN, 0, 1), VELKFAULT_INVALID_ARGUMENT);
    EXPECT_EQ(velkfault_fail("velk_ll_create", INT32_MIN, 0, 1), VELKFAULT_INVALID_ARGUMENT);
    EXPECT_EQ(velkfault_fail("velk_batch_put", INT32_MIN, 0, 1), 0);
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

// Every one of the 28 functions, passed on with no rule and answering its
// rule without reaching the mock: a status code, or NULL and errno for the
// creates; those that cannot fail are delayed instead, and still answer.
TEST_F(Faults, EveryFunctionPassesOnAndFailsAsPlanned) {
    ASSERT_EQ(put(client.get(), "ll", {PutSpec{"k", "v"}}), VELK_OK);
    velk_client* c = client.get();
    const char* keys[] = {"k"};
    velk_get_item_t get{};
    get.key = "k";
    velk_delete_item_t del{"absent", 0, 0};
    char buffer[8];
    void* buffers[] = {buffer};
    const uint64_t sizes[] = {sizeof buffer};
    int32_t statuses[1];
    uint64_t lens[1];
    velk_query_result_t query[1];
    velk_delete_result_t deleted[1];
    velk_put_result_t put_results[1];
    velk_namespace_info_t infos[2];
    velk_node_info_t nodes[2];
    velk_sdk_metrics_ctx_t metrics;
    char text[4];
    uint64_t text_len = 0;
    int total = 0;
    const void* parts[] = {"v"};
    const size_t part_lens[] = {1};
    const uint64_t ll_lens[] = {1};
    velk_put_item_t item{};
    item.key = "absent";
    item.value_parts = parts;
    item.value_part_lens = part_lens;
    item.value_part_count = 1;
    const velk_ll_put_item_t ll_item{"absent", parts, ll_lens, 1};
    const velk_ll_config_t ll_config{"name"};
    const int config = 0;
    const auto nothing = [](int32_t, const void* const*, const uint64_t*, const int32_t*, void*) {
        return 0;
    };
    // Creates answer a handle (released at once); the others a code, or 0.
    const auto handle = [](velk_client* made) {
        velk_client_destroy(made);
        return made != nullptr ? 0 : -1;
    };
    struct Case {
        const char* function;
        std::function<int64_t()> call;
        int64_t passed;  // what the call answers when passed on
    } cases[] = {
        {"velk_version", [] { return velk_version() != nullptr ? 0 : -1; }, 0},
        {"velk_revision", [] { return velk_revision() != nullptr ? 0 : -1; }, 0},
        {"velk_build_time", [] { return velk_build_time() != nullptr ? 0 : -1; }, 0},
        {"velk_client_create", [&] { return handle(velk_client_create(&config)); }, 0},
        {"velk_client_destroy", [] { return velk_client_destroy(nullptr), 0; }, 0},
        {"velk_sdk_metrics_ctx_reset", [&] { return velk_sdk_metrics_ctx_reset(&metrics), 0; }, 0},
        {"velk_client_get_metrics", [&] { return velk_client_get_metrics(c, &metrics); }, 0},
        {"velk_sdk_metrics_serialize",
         [&] { return velk_sdk_metrics_serialize(&metrics, text, sizeof text, &text_len); }, 0},
        {"velk_batch_put", [&] { return velk_batch_put(c, "other", &item, 1, put_results, 1, nullptr); }, 0},
        {"velk_batch_get", [&] { return velk_batch_get(c, "ll", &get, 1, nothing, nullptr, nullptr); }, 0},
        {"velk_batch_get_into",
         [&] { return velk_batch_get_into(c, "ll", &get, 1, buffers, sizes, statuses, lens, nullptr); }, 0},
        {"velk_batch_delete_items",
         [&] { return velk_batch_delete_items(c, "ll", &del, 1, deleted, 1, nullptr); }, 0},
        {"velk_batch_delete",
         [&] { return velk_batch_delete(c, "ll", &del.key, 1, nullptr, statuses, 1, nullptr); }, 0},
        {"velk_batch_query",
         [&] {
             const int rc = velk_batch_query(c, "ll", keys, 1, nullptr, query, 1);
             velk_query_result_free(query, rc > 0 ? rc : 0);
             return rc;
         },
         1},
        {"velk_query_result_free", [&] { return velk_query_result_free(nullptr, 0), 0; }, 0},
        {"velk_create_namespace", [&] { return velk_create_namespace(c, "ll", nullptr); },
         VELK_ERR_NAMESPACE_EXISTS},
        {"velk_update_namespace", [&] { return velk_update_namespace(c, "ll", nullptr); }, 0},
        {"velk_delete_namespace", [&] { return velk_delete_namespace(c, "none"); },
         VELK_ERR_NAMESPACE_NOT_FOUND},
        {"velk_get_namespace", [&] { return velk_get_namespace(c, "ll", infos); }, 0},
        {"velk_list_namespaces", [&] { return velk_list_namespaces(c, infos, 2, &total); }, 2},
        {"velk_get_nodes", [&] { return velk_get_nodes(c, nullptr, nodes, 2); }, 2},
        {"velk_ll_create", [&] { return handle(velk_ll_create(&ll_config)); }, 0},
        {"velk_ll_client_destroy", [] { return velk_ll_client_destroy(nullptr), 0; }, 0},
        {"velk_ll_batch_put",
         [&] { return velk_ll_batch_put(c, &ll_item, 1, put_results, 1, nullptr, nullptr); }, 0},
        {"velk_ll_batch_get",
         [&] { return velk_ll_batch_get(c, keys, 1, nothing, nullptr, nullptr, nullptr); }, 0},
        {"velk_ll_batch_get_into",
         [&] { return velk_ll_batch_get_into(c, keys, 1, buffers, sizes, statuses, lens, nullptr); }, 0},
        {"velk_ll_batch_delete",
         [&] { return velk_ll_batch_delete(c, &del.key, 1, statuses, 1, nullptr, nullptr); }, 0},
        {"velk_ll_batch_query",
         [&] {
             const int rc = velk_ll_batch_query(c, keys, 1, query, 1, nullptr);
             velk_query_result_free(query, rc > 0 ? rc : 0);
             return rc;
         },
         1},
    };
    ASSERT_EQ(std::size(cases), 28u);
    for (const Case& row : cases) {
        velkfault_reset();
        EXPECT_EQ(row.call(), row.passed) << row.function << " passed on";
        EXPECT_GE(velkfault_calls(row.function), 1u) << row.function;
        const bool create = std::strstr(row.function, "create") != nullptr &&
                            std::strstr(row.function, "namespace") == nullptr;
        if (velkfault_fail(row.function, -77, 0, 1) == 0) {
            errno = 0;
            EXPECT_EQ(row.call(), create ? -1 : -77) << row.function << " failed";
            if (create) {
                EXPECT_EQ(errno, 77) << row.function;
            }
        } else {
            // Nothing to fail: it is delayed, and still passed on.
            ASSERT_EQ(velkfault_delay(row.function, 1), 0);
            EXPECT_EQ(row.call(), row.passed) << row.function << " delayed";
        }
    }
}

// Each per-item function drops its item from a longer batch and hands on the
// rest; a batch of that one item reaches nothing behind the fault library.
TEST_F(Faults, EveryPerItemFunctionDropsItsItem) {
    velk_client* c = client.get();
    const char* two[] = {"a", "b"};
    int32_t statuses[2];
    velk_delete_item_t items[] = {{"a", 0, 0}, {"b", 0, 0}};
    velk_delete_result_t results[2];
    const void* parts[] = {"v"};
    const uint64_t lens[] = {1};
    const velk_ll_put_item_t ll_items[] = {{"a", parts, lens, 1}, {"b", parts, lens, 1}};
    velk_put_result_t put_results[2];
    for (const int32_t n : {2, 1}) {
        const std::string ns = "n" + std::to_string(n);
        ASSERT_EQ(put(c, ns.c_str(), {PutSpec{"a", "1"}, PutSpec{"b", "2"}}), VELK_OK);
        ASSERT_EQ(put(c, "ll", {PutSpec{"a", "1"}, PutSpec{"b", "2"}}), VELK_OK);
        ASSERT_EQ(velkfault_fail_item("velk_batch_delete_items", 0, -9, 0, 1), 0);
        EXPECT_EQ(velk_batch_delete_items(c, ns.c_str(), items, n, results, n, nullptr), VELK_OK);
        EXPECT_EQ(results[0].status, -9);
        EXPECT_EQ(get_value(c, ns.c_str(), "a"), "1");
        ASSERT_EQ(velkfault_fail_item("velk_ll_batch_delete", 0, -9, 0, 1), 0);
        EXPECT_EQ(velk_ll_batch_delete(c, two, n, statuses, n, nullptr, nullptr), VELK_OK);
        EXPECT_EQ(statuses[0], -9);
        EXPECT_EQ(get_value(c, "ll", "a"), "1");
        ASSERT_EQ(velkfault_fail_item("velk_ll_batch_put", 0, -9, 0, 1), 0);
        EXPECT_EQ(velk_ll_batch_put(c, ll_items, n, put_results, n, nullptr, nullptr), VELK_OK);
        EXPECT_EQ(put_results[0].status, -9);
        if (n == 2) {
            EXPECT_EQ(results[1].status, VELK_OK);
            EXPECT_EQ(statuses[1], VELK_OK);
            EXPECT_EQ(put_results[1].status, VELK_OK);
        }
    }
}

// An items call that answers success without writing its records (a rule
// with code 0 does): the flat delete hands on zeros, never stack contents.
TEST_F(Faults, TheFlatDeleteHandsOnClearedRecords) {
    ASSERT_EQ(velkfault_fail("velk_batch_delete_items", 0, 0, 0), 0);
    const char* keys[] = {"a", "b", "c"};
    int32_t statuses[3] = {77, 77, 77};
    EXPECT_EQ(velk_batch_delete(client.get(), "ns", keys, 3, nullptr, statuses, 3, nullptr), VELK_OK);
    EXPECT_EQ(statuses[0], 0);
    EXPECT_EQ(statuses[1], 0);
    EXPECT_EQ(statuses[2], 0);
    EXPECT_EQ(velk_ll_batch_delete(client.get(), keys, 3, statuses, 3, nullptr, nullptr), VELK_OK);
    EXPECT_EQ(statuses[2], 0);
}

namespace {

// Uninstrumented: the cancellation unwinds past this frame without its
// epilogue, which would leave the redzones of `nodes` poisoned on a stack
// that the thread's exit then reuses (GCC 12's AddressSanitizer reports it).
__attribute__((no_sanitize_address)) void* nodes_after_a_long_delay(void* handle) {
    velk_node_info_t nodes[2];
    velk_get_nodes(static_cast<velk_client*>(handle), nullptr, nodes, 2);
    return nullptr;
}

}  // namespace

// A thread cancelled while it waits out a planned delay ends like any other
// cancelled thread; the process and the plan go on.
TEST_F(Faults, ACancelledWaitEndsOnlyItsThread) {
    ASSERT_EQ(velkfault_delay("velk_get_nodes", 30000000), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, nodes_after_a_long_delay, client.get()), 0);
    while (velkfault_calls("velk_get_nodes") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(pthread_cancel(thread), 0);
    void* exit_value = nullptr;
    ASSERT_EQ(pthread_join(thread, &exit_value), 0);
    EXPECT_EQ(exit_value, PTHREAD_CANCELED);
    ASSERT_EQ(velkfault_delay("velk_get_nodes", 0), 0);
    velk_node_info_t nodes[2];
    EXPECT_EQ(velk_get_nodes(client.get(), nullptr, nodes, 2), 2);
}

// A call the next library must refuse (a NULL argument, a count or capacity
// out of range) is passed on as it is, and leaves an item rule unused.
TEST_F(Faults, ItemRulesLeaveRefusedCallsAlone) {
    velk_client* c = client.get();
    const char* keys[] = {"a", "b"};
    int32_t statuses[2];
    velk_delete_item_t del[] = {{"a", 0, 0}, {"b", 0, 0}};
    velk_delete_result_t del_results[2];
    PutBatch batch({PutSpec{"a", "1"}, PutSpec{"b", "2"}});
    velk_put_result_t put_results[2];
    const void* parts[] = {"v"};
    const uint64_t lens[] = {1};
    const velk_ll_put_item_t ll[] = {{"a", parts, lens, 1}, {"b", parts, lens, 1}};
    struct Case {
        const char* function;
        std::function<int()> refused;
    } cases[] = {
        {"velk_batch_put",
         [&] {
             return velk_batch_put(nullptr, "ns", batch.items.data(), 2, put_results, 2, nullptr);
         }},
        {"velk_batch_put",
         [&] {
             return velk_batch_put(c, nullptr, batch.items.data(), 2, put_results, 2, nullptr);
         }},
        {"velk_batch_put",
         [&] {
             return velk_batch_put(c, "ns", nullptr, 2, put_results, 2, nullptr);
         }},
        {"velk_batch_put",
         [&] {
             return velk_batch_put(c, "ns", batch.items.data(), 2, nullptr, 2, nullptr);
         }},
        {"velk_batch_put",
         [&] {
             return velk_batch_put(c, "ns", batch.items.data(), 0, put_results, 2, nullptr);
         }},
        {"velk_batch_put",
         [&] {
             return velk_batch_put(c, "ns", batch.items.data(), 2, put_results, 1, nullptr);
         }},
        {"velk_batch_delete_items",
         [&] {
             return velk_batch_delete_items(nullptr, "ns", del, 2, del_results, 2, nullptr);
         }},
        {"velk_batch_delete_items",
         [&] {
             return velk_batch_delete_items(c, nullptr, del, 2, del_results, 2, nullptr);
         }},
        {"velk_batch_delete_items",
         [&] {
             return velk_batch_delete_items(c, "ns", nullptr, 2, del_results, 2, nullptr);
         }},
        {"velk_batch_delete_items",
         [&] {
             return velk_batch_delete_items(c, "ns", del, 2, nullptr, 2, nullptr);
         }},
        {"velk_batch_delete",
         [&] {
             return velk_batch_delete(nullptr, "ns", keys, 2, nullptr, statuses, 2, nullptr);
         }},
        {"velk_batch_delete",
         [&] {
             return velk_batch_delete(c, nullptr, keys, 2, nullptr, statuses, 2, nullptr);
         }},
        {"velk_batch_delete",
         [&] {
             return velk_batch_delete(c, "ns", nullptr, 2, nullptr, statuses, 2, nullptr);
         }},
        {"velk_batch_delete",
         [&] {
             return velk_batch_delete(c, "ns", keys, 2, nullptr, nullptr, 2, nullptr);
         }},
        {"velk_ll_batch_put",
         [&] {
             return velk_ll_batch_put(nullptr, ll, 2, put_results, 2, nullptr, nullptr);
         }},
        {"velk_ll_batch_put",
         [&] {
             return velk_ll_batch_put(c, nullptr, 2, put_results, 2, nullptr, nullptr);
         }},
        {"velk_ll_batch_put",
         [&] {
             return velk_ll_batch_put(c, ll, 2, nullptr, 2, nullptr, nullptr);
         }},
        {"velk_ll_batch_delete",
         [&] {
             return velk_ll_batch_delete(nullptr, keys, 2, statuses, 2, nullptr, nullptr);
         }},
        {"velk_ll_batch_delete",
         [&] {
             return velk_ll_batch_delete(c, nullptr, 2, statuses, 2, nullptr, nullptr);
         }},
        {"velk_ll_batch_delete",
         [&] {
             return velk_ll_batch_delete(c, keys, 2, nullptr, 2, nullptr, nullptr);
         }},
    };
    for (const Case& row : cases) {
        velkfault_reset();
        ASSERT_EQ(velkfault_fail_item(row.function, 0, -9, 0, 1), 0);
        EXPECT_EQ(row.refused(), VELK_ERR_INVALID_ARGUMENT) << row.function;
        // The rule is still there for the next call that can carry it.
        EXPECT_EQ(row.function == std::string("velk_ll_batch_delete")
                      ? velk_ll_batch_delete(c, keys, 2, statuses, 2, nullptr, nullptr)
                  : row.function == std::string("velk_ll_batch_put")
                      ? velk_ll_batch_put(c, ll, 2, put_results, 2, nullptr, nullptr)
                  : row.function == std::string("velk_batch_put")
                      ? velk_batch_put(c, "ns", batch.items.data(), 2, put_results, 2, nullptr)
                  : row.function == std::string("velk_batch_delete")
                      ? velk_batch_delete(c, "ns", keys, 2, nullptr, statuses, 2, nullptr)
                      : velk_batch_delete_items(c, "ns", del, 2, del_results, 2, nullptr),
                  VELK_OK)
            << row.function;
        const int32_t first =
            row.function == std::string("velk_batch_put") || row.function == std::string("velk_ll_batch_put")
                ? put_results[0].status
            : row.function == std::string("velk_batch_delete_items") ? del_results[0].status
                                                                     : statuses[0];
        EXPECT_EQ(first, -9) << row.function;
    }
}
