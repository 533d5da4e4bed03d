// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "alloc_hook.hpp"
#include "velk_test.hpp"

using namespace velk_test;

TEST(Lifecycle, VersionTextsAreFixed) {
    EXPECT_STREQ(velk_version(), "0.0.0-mock");
    EXPECT_STREQ(velk_revision(), "mockrev");
    EXPECT_STREQ(velk_build_time(), "1970-01-01T00:00:00Z");
    EXPECT_EQ(velk_version(), velk_version());
}

TEST(Lifecycle, CreateNeedsAConfigPointerButReadsNothing) {
    EXPECT_EQ(velk_client_create(nullptr), nullptr);
    struct Empty {
    } empty;
    velk_client* client = velk_client_create(&empty);
    ASSERT_NE(client, nullptr);
    velk_client_destroy(client);
    velk_client_destroy(nullptr);
}

TEST(Lifecycle, NewHandleHasNoNamespacesAndTwoNodes) {
    Client client = make_client();
    int total = -1;
    EXPECT_EQ(velk_list_namespaces(client.get(), nullptr, 0, &total), 0);
    EXPECT_EQ(total, 0);
    velk_node_info_t nodes[3];
    EXPECT_EQ(velk_get_nodes(client.get(), nullptr, nodes, 3), 2);
}

TEST(Lifecycle, HandlesShareNothing) {
    Client a = make_client();
    Client b = make_client();
    ASSERT_EQ(put_one(a.get(), "shared", "k", "from-a"), 0);
    EXPECT_EQ(get_value(b.get(), "shared", "k"), std::nullopt);
    velk_namespace_info_t info;
    EXPECT_EQ(velk_get_namespace(b.get(), "shared", &info), VELK_ERR_NAMESPACE_NOT_FOUND);
    ASSERT_EQ(put_one(b.get(), "shared", "k", "from-b"), 0);
    EXPECT_EQ(get_value(a.get(), "shared", "k"), "from-a");
}

TEST(Lifecycle, DestroyReleasesAStoreFullOfData) {
    alloc_hook::Scope window;
    velk_client* client = velk_client_create("cfg");
    ASSERT_NE(client, nullptr);
    for (int n = 0; n < 5; ++n) {
        const std::string ns = "ns" + std::to_string(n);
        for (int k = 0; k < 50; ++k) {
            ASSERT_EQ(put(client, ns.c_str(),
                          {PutSpec{"key-" + std::to_string(k), std::string(100, 'v'), {{"m", "x"}}, 1, 2}}),
                      0);
        }
    }
    // The test's own temporaries are gone by now; every block still live
    // belongs to the handle.
    EXPECT_GT(alloc_hook::peek().live, 5 * 50);
    velk_client_destroy(client);
    EXPECT_EQ(alloc_hook::peek().live, 0);
}

// No call but the low-level create changes errno, whether it succeeds, finds
// nothing or is refused (a store's socket reads leave EAGAIN behind unless it
// keeps the caller's): the caller's errno stays as it was.
TEST(Lifecycle, ErrnoUntouched) {
    Client client = make_client();
    ASSERT_TRUE(client);
    velk_client* c = client.get();
    const char* keys[] = {"k", "missing"};
    int32_t statuses[2] = {};
    uint64_t lens[2] = {};
    char buffer[8];
    void* buffers[] = {buffer, buffer};
    const uint64_t sizes[] = {sizeof buffer, sizeof buffer};
    velk_get_item_t items[2] = {};
    items[0].key = "k";
    items[1].key = "missing";
    velk_delete_item_t deletes[1] = {};
    deletes[0].key = "k";
    velk_delete_result_t deleted[1];
    velk_query_result_t results[2];
    velk_namespace_info_t infos[2];
    velk_node_info_t nodes[2];
    const velk_get_callback_t ignore = [](int32_t, const void* const*, const uint64_t*, const int32_t*,
                                          void*) {
        return 0;
    };
    const void* part = "v";
    const uint64_t part_len = 1;
    const velk_ll_put_item_t ll_item{"k", &part, &part_len, 1};
    velk_put_result_t put_result;
    const struct {
        const char* what;
        std::function<void()> call;
    } calls[] = {
        {"create and destroy",
         [] {
             velk_client_destroy(make_client().release());
         }},
        {"put",
         [&] {
             put_one(c, "ns", "k", "v");
         }},
        {"put refused",
         [&] {
             velk_batch_put(c, nullptr, nullptr, 0, nullptr, 0, nullptr);
         }},
        {"get",
         [&] {
             velk_batch_get(c, "ns", items, 2, ignore, nullptr, nullptr);
         }},
        {"get into",
         [&] {
             velk_batch_get_into(c, "ns", items, 2, buffers, sizes, statuses, lens, nullptr);
         }},
        {"get from no namespace",
         [&] {
             velk_batch_get(c, "none", items, 2, ignore, nullptr, nullptr);
         }},
        {"query",
         [&] {
             velk_batch_query(c, "ns", keys, 2, nullptr, results, 2);
             velk_query_result_free(results, 2);
         }},
        {"delete",
         [&] {
             velk_batch_delete(c, "ns", keys, 2, nullptr, statuses, 2, nullptr);
         }},
        {"delete items",
         [&] {
             velk_batch_delete_items(c, "ns", deletes, 1, deleted, 1, nullptr);
         }},
        {"delete from no namespace",
         [&] {
             velk_batch_delete(c, "none", keys, 2, nullptr, statuses, 2, nullptr);
         }},
        {"create namespace",
         [&] {
             velk_create_namespace(c, "made", nullptr);
         }},
        {"create it again",
         [&] {
             velk_create_namespace(c, "made", nullptr);
         }},
        {"update namespace",
         [&] {
             velk_update_namespace(c, "made", nullptr);
         }},
        {"get namespace",
         [&] {
             velk_get_namespace(c, "made", &infos[0]);
         }},
        {"list namespaces",
         [&] {
             velk_list_namespaces(c, infos, 2, nullptr);
         }},
        {"delete namespace",
         [&] {
             velk_delete_namespace(c, "made");
         }},
        {"delete it again",
         [&] {
             velk_delete_namespace(c, "made");
         }},
        {"nodes",
         [&] {
             velk_get_nodes(c, nullptr, nodes, 2);
         }},
        {"ll put",
         [&] {
             velk_ll_batch_put(c, &ll_item, 1, &put_result, 1, nullptr, nullptr);
         }},
        {"ll get",
         [&] {
             velk_ll_batch_get(c, keys, 2, ignore, nullptr, nullptr, nullptr);
         }},
        {"ll get into",
         [&] {
             velk_ll_batch_get_into(c, keys, 2, buffers, sizes, statuses, lens, nullptr);
         }},
        {"ll query",
         [&] {
             velk_ll_batch_query(c, keys, 2, results, 2, nullptr);
             velk_query_result_free(results, 2);
         }},
        {"ll delete",
         [&] {
             velk_ll_batch_delete(c, keys, 2, statuses, 2, nullptr, nullptr);
         }},
    };
    for (const auto& call : calls) {
        errno = 4321;
        call.call();
        EXPECT_EQ(errno, 4321) << call.what;
    }
}
