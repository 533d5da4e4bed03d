// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

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
