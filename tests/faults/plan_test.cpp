// SPDX-License-Identifier: MIT
// The VELKFAULT grammar, valid and malformed, and how the registry finds
// the definitions it forwards to (and what the control calls do when the
// calls would never reach it).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/cache_engine.hpp"
#include "faults/plan.hpp"
#include "faults/registry.hpp"
#include "velkfault.h"

using namespace velkfault;

TEST(Plan, ValidRules) {
    std::vector<PlannedRule> rules;
    ASSERT_EQ(parse_plan(" velk_batch_put=-4@2x1 ; velk_get_nodes~5000;velk_batch_delete[3]=+7x0;;"
                         "velk_ll_create=-22@1;velk_batch_get=-5",
                         rules),
              "");
    ASSERT_EQ(rules.size(), 5u);
    EXPECT_EQ(rules[0].kind, PlannedRule::Fail);
    EXPECT_EQ(rules[0].function, kBatchPut);
    EXPECT_EQ(rules[0].code, -4);
    EXPECT_EQ(rules[0].skip, 2u);
    EXPECT_EQ(rules[0].times, 1u);
    EXPECT_EQ(rules[1].kind, PlannedRule::Delay);
    EXPECT_EQ(rules[1].function, kGetNodes);
    EXPECT_EQ(rules[1].microseconds, 5000u);
    EXPECT_EQ(rules[2].kind, PlannedRule::FailItem);
    EXPECT_EQ(rules[2].item, 3);
    EXPECT_EQ(rules[2].code, 7);
    EXPECT_EQ(rules[2].times, 0u);
    EXPECT_EQ(rules[3].skip, 1u);
    EXPECT_EQ(rules[3].times, 0u);
    EXPECT_EQ(rules[4].code, -5);
    EXPECT_EQ(apply_plan(rules), "");
    std::vector<PlannedRule> none;
    EXPECT_EQ(parse_plan("", none), "");
    EXPECT_EQ(parse_plan(" ; ", none), "");
    EXPECT_TRUE(none.empty());
}

TEST(Plan, MalformedRulesAreNamed) {
    const char* const malformed[] = {
        "velk_batch_put=oops",
        "velk_batch_put=",
        "velk_batch_put",
        "=-4",
        "velk_nope=-4",
        "velk_batch_put=-4@",
        "velk_batch_put=-4x",
        "velk_batch_put=-4xy",
        "velk_batch_put=-4x1@2",
        "velk_batch_put=-4 junk",
        "velk_batch_put[1=-4",
        "velk_batch_put[-1]=-4",
        "velk_batch_put[1]-4",
        "velk_get_nodes~",
        "velk_get_nodes~-5",
        "velk_get_nodes~5ms",
        "velk_batch_put=99999999999",
    };
    for (const char* rule : malformed) {
        std::vector<PlannedRule> rules;
        const std::string problem = parse_plan(std::string("velk_batch_get=-4;") + rule, rules);
        EXPECT_NE(problem.find(std::string("'") + rule + "'"), std::string::npos) << rule << ": " << problem;
        EXPECT_EQ(rules.size(), 1u) << rule;
    }
    // Well formed, but not something the function can do.
    for (const char* rule : {"velk_version=-4", "velk_client_destroy=-4", "velk_batch_get[0]=-4"}) {
        std::vector<PlannedRule> rules;
        ASSERT_EQ(parse_plan(rule, rules), "") << rule;
        EXPECT_NE(apply_plan(rules), "") << rule;
    }
}

// The lookup outside the process's order: a library loaded with RTLD_LOCAL
// is found through the caller's address, or by walking the loaded objects;
// and once the mock is in the global scope, this library is not in front.
TEST(Registry, FindsDefinitionsOutsideTheLookupOrder) {
    EXPECT_TRUE(in_front());
    void* mock = dlopen(VELKFAULT_TEST_MOCK, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(mock, nullptr) << dlerror();
    void* put = dlsym(mock, "velk_batch_put");
    ASSERT_NE(put, nullptr);
    EXPECT_EQ(defined_elsewhere("velk_batch_put", put), put);      // the caller's library
    EXPECT_EQ(defined_elsewhere("velk_batch_put", nullptr), put);  // any loaded library
    EXPECT_EQ(defined_elsewhere("velk_batch_put", reinterpret_cast<const void*>(&in_front)), put);
    EXPECT_EQ(defined_elsewhere("velk_no_such_function", put), nullptr);
    EXPECT_TRUE(in_front());  // RTLD_LOCAL: the process's calls do not reach it
    void* global = dlopen(VELKFAULT_TEST_MOCK, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
    ASSERT_NE(global, nullptr);
    EXPECT_FALSE(in_front());
    dlclose(global);
    dlclose(mock);
}

// Once a library loaded before this code defines the velk_ functions, the
// cache mode could never see a call: the control call refuses.
TEST(CacheControl, RefusedWhenNotInFront) {
    void* mock = dlopen(VELKFAULT_TEST_MOCK, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(mock, nullptr) << dlerror();
    void* global = dlopen(VELKFAULT_TEST_MOCK, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
    ASSERT_NE(global, nullptr) << dlerror();
    EXPECT_EQ(velkfault_cache("on"), VELKFAULT_NOT_IN_FRONT);
    setenv("VELKFAULT_CACHE", "on", 1);
    EXPECT_NE(velkfault::cache::from_environment().find("cannot take effect"), std::string::npos);
    unsetenv("VELKFAULT_CACHE");
    EXPECT_FALSE(velkfault::cache::engine().on());
    dlclose(global);
    dlclose(mock);
}
