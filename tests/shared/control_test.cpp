// SPDX-License-Identifier: MIT
// velkshared_clear with one allocation failing at each point: a code
// (-ENOMEM, or -107/-110 where the connection had to go), the store whole or
// cleared, never half, and nothing leaked.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "alloc_hook.hpp"
#include "store_choice.hpp"
#include "velk_test.hpp"
#include "velkshared.h"

using namespace velk_test;

TEST(Control, ClearSurvivesEveryAllocationFailure) {
    long points = 0;
    for (long n = 1;; ++n) {
        choose_store(0);
        Client client = make_client();
        ASSERT_TRUE(client);
        ASSERT_EQ(put_one(client.get(), "a", "k", "v"), VELK_OK);
        ASSERT_EQ(put_one(client.get(), "b", "k", "v"), VELK_OK);
        alloc_hook::open(n);
        const int rc = velkshared_clear(nullptr, nullptr);
        const alloc_hook::Window w = alloc_hook::pause();
        EXPECT_TRUE(rc == 0 || (w.failed && (rc == -ENOMEM || rc == -ENOTCONN || rc == -ETIMEDOUT)))
            << rc << " at " << n;
        EXPECT_NE(rc == 0 ? std::string("x") : std::string(velkshared_last_error()), "");
        int total = -1;
        ASSERT_EQ(velk_list_namespaces(client.get(), nullptr, 0, &total), 0);
        EXPECT_TRUE(total == 0 || (rc != 0 && total == 2)) << total << " namespaces after " << rc;
        EXPECT_EQ(alloc_hook::peek().live, 0) << "a leak after a failure at " << n;
        alloc_hook::close();
        points += w.failed;
        if (!w.failed) {
            break;
        }
    }
    EXPECT_GT(points, 0);
}
