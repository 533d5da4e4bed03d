// SPDX-License-Identifier: MIT
// The black-box suite, run a second time against libvelkshared: the same
// sources, linked to the other library. Each test runs on stores of its own
// (made empty before it starts and after it ends), and the tests that cannot
// hold by design are left out, each with its reason.
#include <gtest/gtest.h>
#include <hiredis/hiredis.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cluster_slots.hpp"
#include "store_choice.hpp"
#include "velkshared.h"

namespace {

struct Exclusion {
    const char* tests;
    const char* reason;
};

const Exclusion kExclusions[] = {
    {"AllocFailure.*",
     "the in-memory store's own failure points (a put that stops within its batch, a store's "
     "allocations counted): a shared put is one step on the server, whose memory is not the "
     "process's (AllocSweep runs, with the codes of a lost connection allowed)"},
    {"AllocCounts.*", "counts the in-memory store's allocations (as above)"},
    {"Lifecycle.DestroyReleasesAStoreFullOfData",
     "counts the process's live blocks to show the store went with the handle: a shared store outlives "
     "its handles by design"},
    {"HugeValue.*",
     "a value above 2 GiB: the server takes at most proto-max-bulk-len (512 MiB) as one "
     "value, and refuses larger ones with -4 by design"},
    {"Lifecycle.HandlesShareNothing",
     "two handles expected to share nothing: handles on one store share "
     "everything by design"},
    {"Namespaces.ConcurrentCreatesOfOneNameYieldOneSuccess",
     "each round makes a new handle and expects it empty: the store outlives its handles by design (the "
     "race itself is run across processes by shared.Processes)"},
};

// The differential driver makes about ten round trips to the server per
// step: fewer sequences than against the mock, unless asked for more.
constexpr const char* kDifferentialSeeds = "40";

std::string test_base;  // names this test's stores
int stores_used = 0;

// On a cluster (VELKSHARED_TEST_NODE=the Unix socket of one master), the
// stores are named so that their slot lies on that node: the same tests, on
// each master. The slot ranges the node serves (empty when no node is named).
std::vector<std::pair<int, int>> node_slots() {
    std::vector<std::pair<int, int>> ranges;
    const char* node = std::getenv("VELKSHARED_TEST_NODE");
    if (node == nullptr) {
        return ranges;
    }
    redisContext* context = redisConnectUnix(node);
    auto* port = context != nullptr && context->err == 0
                     ? static_cast<redisReply*>(redisCommand(context, "CONFIG GET port"))
                     : nullptr;
    auto* reply =
        port != nullptr ? static_cast<redisReply*>(redisCommand(context, "CLUSTER SLOTS")) : nullptr;
    const long long tcp_port =
        port != nullptr && port->elements == 2 ? std::atoll(port->element[1]->str) : -1;
    for (std::size_t i = 0; reply != nullptr && i < reply->elements; ++i) {
        const redisReply* range = reply->element[i];
        if (range->elements >= 3 && range->element[2]->elements >= 2 &&
            range->element[2]->element[1]->integer == tcp_port) {
            ranges.emplace_back(static_cast<int>(range->element[0]->integer),
                                static_cast<int>(range->element[1]->integer));
        }
    }
    freeReplyObject(reply);
    freeReplyObject(port);
    redisFree(context);
    if (ranges.empty()) {
        std::fprintf(stderr, "VELKSHARED_TEST_NODE=%s serves no slot\n", node);
        std::exit(1);
    }
    return ranges;
}

std::string store_name(int index) {
    static const std::vector<std::pair<int, int>> ranges = node_slots();
    std::string base = test_base + "#" + std::to_string(index);
    if (ranges.empty()) {
        return base;
    }
    for (int attempt = 0;; ++attempt) {
        std::string name = base + "~" + std::to_string(attempt);
        const int slot = velk_test::slot_of_store(name);
        for (const auto& [low, high] : ranges) {
            if (slot >= low && slot <= high) {
                return name;
            }
        }
    }
}

class StoresPerTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& test) override {
        test_base = std::string("suite:") + test.test_suite_name() + "." + test.name() + ":" +
                    std::to_string(getpid());
        stores_used = 0;
        velk_test::choose_store(0);
    }
    void OnTestEnd(const testing::TestInfo& /*test*/) override {
        for (int i = 0; i < stores_used; ++i) {
            velkshared_clear(nullptr, store_name(i).c_str());
        }
    }
};

}  // namespace

namespace velk_test {

void choose_store(int index) {
    const std::string name = store_name(index);
    setenv("VELKSHARED_STORE", name.c_str(), 1);
    const int status = velkshared_clear(nullptr, name.c_str());
    if (status != 0) {
        ADD_FAILURE() << "the store " << name << " could not be cleared: " << status << " "
                      << velkshared_last_error();
    }
    stores_used = index + 1 > stores_used ? index + 1 : stores_used;
}

bool shared_store() {
    return true;
}

}  // namespace velk_test

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    setenv("VELKMOCK_DIFF_SEEDS", kDifferentialSeeds, 0);
    std::string filter = testing::GTEST_FLAG(filter);
    filter += filter.find('-') == std::string::npos ? "-" : ":";
    for (const Exclusion& exclusion : kExclusions) {
        filter += std::string(exclusion.tests) + ":";
    }
    testing::GTEST_FLAG(filter) = filter;
    testing::UnitTest::GetInstance()->listeners().Append(new StoresPerTest);
    return RUN_ALL_TESTS();
}
