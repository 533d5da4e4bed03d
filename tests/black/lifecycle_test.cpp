// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

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
// keeps the caller's): the caller's errno stays as it was. (The low-level
// calls hand on to these.)
TEST(Lifecycle, ErrnoUntouched) {
    static constexpr int kCallers = 4321;
    const auto untouched = [](const char* after) {
        EXPECT_EQ(errno, kCallers) << after;
        errno = kCallers;
    };
    errno = kCallers;
    velk_client_destroy(make_client().release());
    untouched("create and destroy");
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
    velk_query_result_t results[2];
    velk_namespace_info_t infos[2];
    velk_node_info_t nodes[2];
    const velk_get_callback_t ignore = [](int32_t, const void* const*, const uint64_t*, const int32_t*,
                                          void*) {
        return 0;
    };
    untouched("set-up");
    put_one(c, "ns", "k", "v");
    untouched("put");
    velk_batch_put(c, nullptr, nullptr, 0, nullptr, 0, nullptr);
    untouched("a refused put");
    velk_batch_get(c, "ns", items, 2, ignore, nullptr, nullptr);
    untouched("get");
    velk_batch_get_into(c, "none", items, 2, buffers, sizes, statuses, lens, nullptr);
    untouched("get-into of no namespace");
    velk_batch_query(c, "ns", keys, 2, nullptr, results, 2);
    velk_query_result_free(results, 2);
    untouched("query");
    velk_batch_delete(c, "ns", keys, 2, nullptr, statuses, 2, nullptr);
    untouched("delete");
    velk_create_namespace(c, "made", nullptr);
    velk_create_namespace(c, "made", nullptr);
    untouched("create namespace, twice");
    velk_get_namespace(c, "made", &infos[0]);
    velk_list_namespaces(c, infos, 2, nullptr);
    untouched("get and list namespaces");
    velk_delete_namespace(c, "made");
    untouched("delete namespace");
    velk_get_nodes(c, nullptr, nodes, 2);
    untouched("nodes");
}
