// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

// The record followed by a guard byte that must never be written.
struct Guarded {
    velk_sdk_metrics_ctx_t ctx;
    unsigned char after;
};

}  // namespace

TEST(Metrics, RecordIsExactly1520Bytes) {
    EXPECT_EQ(sizeof(velk_sdk_metrics_ctx_t), 1520u);
}

TEST(Metrics, ResetClearsExactlyTheRecord) {
    velk_sdk_metrics_ctx_reset(nullptr);
    Guarded g;
    std::memset(&g, 0xFF, sizeof g);
    velk_sdk_metrics_ctx_reset(&g.ctx);
    EXPECT_TRUE(all_zero(&g.ctx, sizeof g.ctx));
    EXPECT_EQ(g.after, 0xFF);
}

TEST(Metrics, GetMetrics) {
    Client client = make_client();
    Guarded g;
    std::memset(&g, 0xFF, sizeof g);
    EXPECT_EQ(velk_client_get_metrics(nullptr, &g.ctx), -5);
    EXPECT_EQ(velk_client_get_metrics(client.get(), nullptr), -5);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&g.ctx)[0], 0xFF);
    EXPECT_EQ(velk_client_get_metrics(client.get(), &g.ctx), 0);
    EXPECT_TRUE(all_zero(&g.ctx, sizeof g.ctx));
    EXPECT_EQ(g.after, 0xFF);
}

TEST(Metrics, SerializeWritesOnlyTheEmptyText) {
    velk_sdk_metrics_ctx_t ctx{};
    char out[4];
    uint64_t len = 99;
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(velk_sdk_metrics_serialize(&ctx, out, 1, &len), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], 'x');
    EXPECT_EQ(len, 0u);

    std::memset(out, 'x', sizeof out);
    len = 99;
    EXPECT_EQ(velk_sdk_metrics_serialize(&ctx, out, 0, &len), -5);
    EXPECT_EQ(velk_sdk_metrics_serialize(nullptr, out, 4, &len), -5);
    EXPECT_EQ(velk_sdk_metrics_serialize(&ctx, nullptr, 4, &len), -5);
    EXPECT_EQ(velk_sdk_metrics_serialize(&ctx, out, 4, nullptr), -5);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(len, 99u);
}
