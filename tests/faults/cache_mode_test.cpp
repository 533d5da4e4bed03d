// SPDX-License-Identifier: MIT
// The cache mode in front of a store: libvelkfault linked before the mock
// (or, built with VELKFAULT_TEST_SHARED, before the shared store on the
// tests' server), driven through the velk_ calls as a program drives them.
// Random traces of both call families against the reference (the low-level
// calls reach the store through the ordinary ones and must be seen once),
// what every read finds in the store, its used bytes; plans; the settings
// namespaces declare; threads and fork.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cache_reference.hpp"
#include "sized_put.hpp"
#ifndef VELKFAULT_TEST_SHARED
#include "alloc_hook.hpp"
#endif
#include "velkfault.h"
#include "velkmock.h"
#ifdef VELKFAULT_TEST_SHARED
#include "velkshared.h"
#endif

using namespace cache_test;

namespace {

// Each handle a store of its own: the mock's are; on the shared store, a
// name of its own, emptied first.
void fresh_store() {
#ifdef VELKFAULT_TEST_SHARED
    static int made = 0;
    const std::string name = "cache-mode-" + std::to_string(getpid()) + "-" + std::to_string(made++);
    setenv("VELKSHARED_STORE", name.c_str(), 1);
    ASSERT_EQ(velkshared_clear(nullptr, name.c_str()), 0) << velkshared_last_error();
#endif
}

// The cache mode names handles in the order it first sees them; every
// handle of these tests is made while it is on.
int handles_seen = 0;

enum class Read { Get, GetInto, Query };

// One handle and the calls of one family on it: the ordinary calls on "ns",
// or the low-level ones (on "ll", as the cache mode counts them).
class Program {
public:
    explicit Program(bool low_level) : low_(low_level) {
        fresh_store();
        static const int config = 0;
        static const velk_ll_config_t ll_config{"cache-mode"};
        client_ = low_ ? velk_ll_create(&ll_config) : velk_client_create(&config);
        name_ = "h" + std::to_string(++handles_seen);
    }
    ~Program() {
        if (client_ != nullptr) {
            velk_client_destroy(client_);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    velk_client* client() const { return client_; }
    const char* ns() const { return low_ ? "ll" : "ns"; }
    const std::string& name() const { return name_; }

    std::vector<std::int32_t> put(const Items& items) {
        std::vector<std::int32_t> statuses;
        EXPECT_EQ(velk_test::put_sized(client_, low_ ? nullptr : "ns", items, statuses), 0);
        return statuses;
    }

    // What each key's read found, as the cache mode decides it.
    std::vector<cache::Seen> read(const std::vector<std::string>& keys, Read how) {
        std::vector<const char*> names;
        std::vector<velk_get_item_t> items(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            names.push_back(keys[i].c_str());
            items[i].key = names.back();
        }
        const auto n = static_cast<std::int32_t>(keys.size());
        std::vector<cache::Seen> seen;
        if (how == Read::Query) {
            std::vector<velk_query_result_t> results(keys.size());
            const std::int32_t rc =
                low_ ? velk_ll_batch_query(client_, names.data(), n, results.data(), n, nullptr)
                     : velk_batch_query(client_, "ns", names.data(), n, nullptr, results.data(), n);
            EXPECT_EQ(rc, n);
            for (const auto& result : results) {
                seen.push_back(cache::seen_by_query(result.status));
            }
            velk_query_result_free(results.data(), n);
        } else if (how == Read::GetInto) {
            std::vector<std::string> buffers(keys.size(), std::string(512, '\0'));
            std::vector<void*> pointers;
            for (std::string& buffer : buffers) {
                pointers.push_back(buffer.data());
            }
            const std::vector<std::uint64_t> sizes(keys.size(), 512);
            std::vector<std::int32_t> statuses(keys.size());
            std::vector<std::uint64_t> lens(keys.size());
            const std::int32_t rc =
                low_ ? velk_ll_batch_get_into(client_, names.data(), n, pointers.data(), sizes.data(),
                                              statuses.data(), lens.data(), nullptr)
                     : velk_batch_get_into(client_, "ns", items.data(), n, pointers.data(), sizes.data(),
                                           statuses.data(), lens.data(), nullptr);
            EXPECT_EQ(rc, 0);
            for (std::size_t i = 0; i < keys.size(); ++i) {
                seen.push_back(cache::seen_by_get(statuses[i], lens[i], false));
            }
        } else {
            const auto lent = [](int32_t count, const void* const*, const uint64_t* lens,
                                 const int32_t* statuses, void* data) {
                auto* out = static_cast<std::vector<cache::Seen>*>(data);
                for (int32_t i = 0; i < count; ++i) {
                    out->push_back(cache::seen_by_get(statuses[i], lens[i], false));
                }
                return 0;
            };
            const std::int32_t rc =
                low_ ? velk_ll_batch_get(client_, names.data(), n, lent, &seen, nullptr, nullptr)
                     : velk_batch_get(client_, "ns", items.data(), n, lent, &seen, nullptr);
            EXPECT_EQ(rc, 0);
        }
        return seen;
    }

    // Removes the keys (the flat forms when asked); each key's status.
    std::vector<std::int32_t> remove(const std::vector<std::string>& keys, bool flat) {
        std::vector<const char*> names;
        std::vector<velk_delete_item_t> items(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            names.push_back(keys[i].c_str());
            items[i].key = names.back();
        }
        const auto n = static_cast<std::int32_t>(keys.size());
        std::vector<std::int32_t> statuses(keys.size());
        if (low_) {
            EXPECT_EQ(velk_ll_batch_delete(client_, names.data(), n, statuses.data(), n, nullptr, nullptr),
                      0);
        } else if (flat) {
            EXPECT_EQ(velk_batch_delete(client_, "ns", names.data(), n, nullptr, statuses.data(), n, nullptr),
                      0);
        } else {
            std::vector<velk_delete_result_t> results(keys.size());
            EXPECT_EQ(velk_batch_delete_items(client_, "ns", items.data(), n, results.data(), n, nullptr), 0);
            for (std::size_t i = 0; i < keys.size(); ++i) {
                statuses[i] = results[i].status;
            }
        }
        return statuses;
    }

    std::uint64_t used_bytes() const {
        velk_namespace_info_t info{};
        return velk_get_namespace(client_, ns(), &info) == 0 ? info.used_bytes : 0;
    }

    cache::Stats stats() const {
        velkfault_cache_stats_t counts{};
        EXPECT_EQ(velkfault_cache_stats(name_.c_str(), ns(), &counts), 0) << name_;
        return {counts.hits,          counts.misses,  counts.evictions,
                counts.evicted_bytes, counts.refused, counts.peak_bytes};
    }

private:
    bool low_;
    velk_client* client_ = nullptr;
    std::string name_;
};

std::string rule(std::uint64_t capacity, const std::string& policy) {
    const std::string settings = std::to_string(capacity) + ":" + policy;
    return "ns=" + settings + ";ll=" + settings;
}

class CacheMode : public ::testing::Test {
protected:
    void SetUp() override { velkfault_reset(); }
    void TearDown() override {
        velkfault_reset();
        EXPECT_EQ(velkfault_cache("off"), 0);
    }
};

}  // namespace

// Puts (values of many sizes, some larger than the capacity, keys repeated
// within a call), gets, get-intos, queries and deletes of both families,
// every policy: each read finds in the store what the reference holds, and
// the counts and used bytes are the reference's.
TEST_F(CacheMode, AgreesWithTheReferenceInFrontOfTheStore) {
    for (const char* policy : {"lru", "lfu", "fifo", "random"}) {
        for (const std::uint64_t capacity : {40, 333}) {
            for (const bool low_level : {false, true}) {
                for (unsigned seed = 1; seed <= 2; ++seed) {
                    SCOPED_TRACE(std::string(policy) + " " + std::to_string(capacity) +
                                 (low_level ? " low-level" : "") + " seed " + std::to_string(seed));
                    ASSERT_EQ(velkfault_cache(rule(capacity, policy).c_str()), 0);
                    Program program(low_level);
                    Reference reference(capacity, policy, 1);
                    std::mt19937 random(seed);
                    const auto pick = [&](unsigned n) {
                        return static_cast<unsigned>(random() % n);
                    };
                    const auto key = [&] {
                        return "k" + std::to_string(pick(24));
                    };
                    for (int step = 0; step < 120; ++step) {
                        const unsigned what = pick(100);
                        if (what < 45) {
                            Items items;
                            for (unsigned n = 1 + pick(5); n > 0; --n) {
                                const unsigned kind = pick(10);
                                items.emplace_back(
                                    key(), kind == 0   ? 0
                                           : kind == 1 ? capacity + 1 + pick(20)
                                                       : 1 + pick(static_cast<unsigned>(capacity / 3)));
                            }
                            const std::vector<std::int32_t> statuses = program.put(items);
                            reference.put(items);
                            for (std::size_t i = 0; i < items.size(); ++i) {
                                EXPECT_EQ(statuses[i], items[i].second > capacity ? VELK_ERR_NO_MEMORY : 0);
                            }
                        } else if (what < 88) {
                            std::vector<std::string> keys;
                            for (unsigned n = 1 + pick(4); n > 0; --n) {
                                keys.push_back(key());
                            }
                            const auto how = static_cast<Read>(pick(3));
                            const std::vector<cache::Seen> seen = program.read(keys, how);
                            ASSERT_EQ(seen.size(), keys.size());
                            for (std::size_t i = 0; i < keys.size(); ++i) {
                                const Space held = reference.entries();
                                const auto it = held.find(keys[i]);
                                // A get reports an empty value as it reports nothing.
                                const bool found = it != held.end();
                                const cache::Seen expected =
                                    how == Read::Query ? (found ? cache::Seen::Found : cache::Seen::NotFound)
                                    : found && it->second > 0 ? cache::Seen::Found
                                                              : cache::Seen::Nothing;
                                ASSERT_EQ(seen[i], expected) << "step " << step << " " << keys[i];
                                reference.read(keys[i], seen[i]);
                            }
                        } else {
                            const std::vector<std::string> keys = {key(), key()};
                            const std::vector<std::int32_t> statuses = program.remove(keys, pick(2) == 0);
                            for (std::size_t i = 0; i < keys.size(); ++i) {
                                if (statuses[i] == 0) {
                                    reference.remove(keys[i]);
                                }
                            }
                        }
                    }
                    expect_same(program.stats(), reference.stats);
                    std::uint64_t held = 0;
                    for (const auto& entry : reference.entries()) {
                        held += entry.second;
                    }
                    EXPECT_EQ(program.used_bytes(), held);
                }
            }
        }
    }
}

// A put a plan fails stores and evicts nothing; an item a plan drops is
// kept from the store beside the ones the mode refuses; a plan on the
// delete with items neither reaches nor counts the mode's evictions.
TEST_F(CacheMode, ComposesWithPlans) {
    ASSERT_EQ(velkfault_cache("ns=10:lru"), 0);
    Program program(false);
    program.put({{"a", 6}});
    ASSERT_EQ(velkfault_fail("velk_batch_put", VELK_ERR_NO_MEMORY, 0, 1), 0);
    const void* part = "123456789";
    const size_t length = 9;
    velk_put_item_t item{};
    item.key = "x";
    item.value_parts = &part;
    item.value_part_lens = &length;
    item.value_part_count = 1;
    velk_put_result_t result{};
    EXPECT_EQ(velk_batch_put(program.client(), "ns", &item, 1, &result, 1, nullptr), VELK_ERR_NO_MEMORY);
    EXPECT_EQ(program.stats().evictions, 0u);
    EXPECT_EQ(program.used_bytes(), 6u);

    ASSERT_EQ(velkfault_fail_item("velk_batch_put", 0, -7, 0, 1), 0);
    EXPECT_EQ(program.put({{"b", 4}, {"c", 11}, {"d", 4}}),
              (std::vector<std::int32_t>{-7, VELK_ERR_NO_MEMORY, 0}));
    EXPECT_EQ(program.read({"a", "b", "c", "d"}, Read::Query),
              (std::vector<cache::Seen>{cache::Seen::Found, cache::Seen::NotFound, cache::Seen::NotFound,
                                        cache::Seen::Found}));
    // Every delete with items fails: the evictions go on, unplanned, uncounted.
    ASSERT_EQ(velkfault_fail("velk_batch_delete_items", -2, 0, 0), 0);
    program.put({{"e", 8}});
    EXPECT_EQ(program.read({"a", "d", "e"}, Read::Query),
              (std::vector<cache::Seen>{cache::Seen::NotFound, cache::Seen::NotFound, cache::Seen::Found}));
    EXPECT_EQ(velkfault_calls("velk_batch_delete_items"), 0u);
    // A read a plan answers found nothing: it is neither a hit nor a miss.
    ASSERT_EQ(velkfault_fail("velk_batch_get_into", -7, 0, 1), 0);
    const cache::Stats before = program.stats();
    velk_get_item_t read{};
    read.key = "e";
    char buffer[8];
    void* buffers[] = {buffer};
    const std::uint64_t sizes[] = {sizeof buffer};
    std::int32_t status = 0;
    std::uint64_t found = 0;
    EXPECT_EQ(velk_batch_get_into(program.client(), "ns", &read, 1, buffers, sizes, &status, &found, nullptr),
              -7);
    const cache::Stats stats = program.stats();
    EXPECT_EQ(stats.hits + stats.misses, before.hits + before.misses);
    EXPECT_EQ(stats.evictions, 2u);
    EXPECT_EQ(stats.refused, 1u);
    EXPECT_EQ(stats.peak_bytes, 10u);
}

// What a read reports decides a hit or a miss: a value too large for its
// buffer was found; a filter the entry does not carry finds nothing, and
// the entry stays known; a get reports an empty value as it reports
// nothing, a hit only where the mode knows the key with an empty value.
TEST_F(CacheMode, ReadsCountWhatTheyReport) {
    ASSERT_EQ(velkfault_cache("ns=100:lru"), 0);
    Program program(false);
    program.put({{"big", 20}, {"empty", 0}});
    const velk_meta_pair_t wanted{"colour", "blue"};
    struct Case {
        const char* what;
        const char* key;
        std::uint64_t buffer;
        bool filtered;
        bool hit;
    };
    const Case cases[] = {
        {"a value too large for its buffer", "big", 4, false, true},
        {"a filter it does not carry", "big", 64, true, false},
        {"an empty value", "empty", 64, false, true},
        {"a key never stored", "never", 64, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        velk_get_item_t item{};
        item.key = c.key;
        if (c.filtered) {
            item.meta_filter = &wanted;
            item.meta_filter_count = 1;
        }
        std::string buffer(c.buffer, '\0');
        void* buffers[] = {buffer.data()};
        const std::uint64_t sizes[] = {c.buffer};
        std::int32_t status = 0;
        std::uint64_t length = 0;
        const cache::Stats before = program.stats();
        ASSERT_EQ(
            velk_batch_get_into(program.client(), "ns", &item, 1, buffers, sizes, &status, &length, nullptr),
            0);
        const cache::Stats after = program.stats();
        EXPECT_EQ(after.hits - before.hits, c.hit ? 1u : 0u);
        EXPECT_EQ(after.misses - before.misses, c.hit ? 0u : 1u);
    }
    EXPECT_EQ(program.read({"big"}, Read::Query), std::vector<cache::Seen>{cache::Seen::Found});
    EXPECT_EQ(program.stats().evictions, 0u);
}

// With `on`, what create and update declare bounds a namespace; its info
// still says what was declared; a namespace delete and a destroy forget;
// turned off, nothing is enforced and nothing evicted.
TEST_F(CacheMode, FollowsWhatNamespacesDeclare) {
    ASSERT_EQ(velkfault_cache("on"), 0);
    Program program(false);
    velk_namespace_options_t options{10, "fifo", 0.5};
    ASSERT_EQ(velk_create_namespace(program.client(), "ns", &options), 0);
    program.put({{"a", 6}});
    program.read({"a"}, Read::Get);
    program.put({{"b", 6}});  // fifo: "a" goes, read or not
    EXPECT_EQ(program.read({"a", "b"}, Read::Query),
              (std::vector<cache::Seen>{cache::Seen::NotFound, cache::Seen::Found}));
    velk_namespace_info_t info{};
    ASSERT_EQ(velk_get_namespace(program.client(), "ns", &info), 0);
    EXPECT_EQ(info.capacity_bytes, 10);
    EXPECT_EQ(info.used_bytes, 6u);
    options.capacity_bytes = 12;
    options.eviction_policy = nullptr;  // the policy stays
    ASSERT_EQ(velk_update_namespace(program.client(), "ns", &options), 0);
    program.put({{"c", 6}});
    EXPECT_EQ(program.used_bytes(), 12u);
    options.eviction_policy = "tinylfu";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(velk_update_namespace(program.client(), "ns", &options), 0);
    ASSERT_EQ(velk_update_namespace(program.client(), "ns", &options), 0);
    const std::string warned = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warned.find("'tinylfu', which the cache mode does not know"), std::string::npos) << warned;
    EXPECT_EQ(warned.find("does not know", warned.find("does not know") + 1), std::string::npos);  // once
    program.put({{"d", 6}});  // counted, never evicted
    EXPECT_EQ(program.used_bytes(), 18u);
    ASSERT_EQ(velk_delete_namespace(program.client(), "ns"), 0);
    program.put({{"e", 60}});  // made again by the put: unbounded
    EXPECT_EQ(program.stats().evictions, 1u);
    EXPECT_EQ(program.stats().refused, 0u);

    // Off: nothing is learned, refused or evicted, and the counts stay.
    ASSERT_EQ(velkfault_cache("off"), 0);
    options = {1, "lru", 0};
    ASSERT_EQ(velk_update_namespace(program.client(), "ns", &options), 0);
    program.put({{"f", 600}, {"g", 6}});
    EXPECT_EQ(program.used_bytes(), 666u);
    EXPECT_EQ(program.stats().evictions, 1u);
    EXPECT_EQ(program.stats().refused, 0u);
    EXPECT_EQ(velkfault_calls("velk_batch_delete_items"), 0u);
}

// Threads on handles of their own keep their caches within capacity
// (ThreadSanitizer watches the engine and the interposer), and a child
// forked meanwhile goes on with the mode, its lock free.
TEST_F(CacheMode, ThreadsAndFork) {
    ASSERT_EQ(velkfault_cache("ns=100:lfu;ll=100:random"), 0);
    std::vector<std::unique_ptr<Program>> programs;
    for (int t = 0; t < 3; ++t) {
        programs.push_back(std::make_unique<Program>(t == 2));
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int i = 0; i < 150; ++i) {
                const std::string key = "k" + std::to_string(random() % 20);
                programs[static_cast<std::size_t>(t)]->put({{key, 1 + random() % 30}});
                programs[static_cast<std::size_t>(t)]->read({key}, static_cast<Read>(i % 3));
            }
        });
    }
    for (int i = 0; i < 5; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const velk_ll_config_t config{"child"};
            velk_client* client = velk_ll_create(&config);
            const char* key = "x";
            const void* part = "12345";
            const std::uint64_t length = 5;
            const velk_ll_put_item_t item{key, &part, &length, 1};
            velk_put_result_t result{};
            const bool put = velk_ll_batch_put(client, &item, 1, &result, 1, nullptr, nullptr) == 0;
            velk_client_destroy(client);
            _exit(put && result.status == 0 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // On the shared store the children's handles share the low-level
    // handle's store: their entry ("x", 5 bytes) is another process's,
    // which the parent's cache mode neither counts nor evicts.
#ifdef VELKFAULT_TEST_SHARED
    const std::uint64_t foreign = 5;
#else
    const std::uint64_t foreign = 0;
#endif
    for (std::size_t t = 0; t < programs.size(); ++t) {
        const cache::Stats stats = programs[t]->stats();
        EXPECT_LE(stats.peak_bytes, 100u);
        EXPECT_GT(stats.evictions, 0u);
        EXPECT_LE(programs[t]->used_bytes(), 100u + (t == 2 ? foreign : 0));
    }
}

#ifndef VELKFAULT_TEST_SHARED
// Every allocation of a put that evicts, a read and a delete fails in turn
// (the mode's own and the mock's): each call answers as the mock does, 0
// or its own VELK_ERR_NO_MEMORY; the mode only loses its view of that call.
TEST_F(CacheMode, FailedAllocationsLoseAViewNeverAnAnswer) {
    Items first;
    std::vector<std::string> names;
    for (int i = 0; i < 70; ++i) {
        first.emplace_back("a" + std::to_string(i), 4);
        names.push_back("b" + std::to_string(i));
    }
    // Everything the calls are given is made before the window opens.
    const void* part = "1234";
    const size_t length = 4;
    std::vector<velk_put_item_t> puts(names.size());
    std::vector<velk_put_result_t> put_results(names.size());
    std::vector<const char*> keys;
    std::vector<velk_delete_item_t> deletes(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        keys.push_back(names[i].c_str());
        puts[i].key = keys.back();
        puts[i].value_parts = &part;
        puts[i].value_part_lens = &length;
        puts[i].value_part_count = 1;
        deletes[i].key = keys.back();
    }
    const auto n = static_cast<std::int32_t>(names.size());
    for (long fail = 1;; ++fail) {
        SCOPED_TRACE(fail);
        ASSERT_EQ(velkfault_cache("ns=300:lru"), 0);
        Program program(false);
        std::vector<std::int32_t> statuses;
        ASSERT_EQ(velk_test::put_sized(program.client(), "ns", first, statuses), 0);
        std::vector<velk_query_result_t> results(names.size());
        std::vector<velk_delete_result_t> removed(names.size());
        alloc_hook::open(fail);
        const std::int32_t put =
            velk_batch_put(program.client(), "ns", puts.data(), n, put_results.data(), n, nullptr);
        const std::int32_t query =
            velk_batch_query(program.client(), "ns", keys.data(), n, nullptr, results.data(), n);
        const std::int32_t gone =
            velk_batch_delete_items(program.client(), "ns", deletes.data(), n, removed.data(), n, nullptr);
        const alloc_hook::Window window = alloc_hook::pause();
        alloc_hook::close();
        EXPECT_TRUE(put == 0 || put == VELK_ERR_NO_MEMORY) << put;
        EXPECT_TRUE(query == n || query == VELK_ERR_NO_MEMORY) << query;
        EXPECT_TRUE(gone == 0 || gone == VELK_ERR_NO_MEMORY) << gone;
        if (query == n) {
            velk_query_result_free(results.data(), n);
        }
        if (!window.failed) {
            EXPECT_EQ(program.stats().evictions, 70u + 70u - 75u);  // 75 entries of 4 bytes fit
            break;
        }
    }
}
#endif

#ifdef VELKFAULT_TEST_REFUSING_STORE
extern "C" void refusing_store_set(int mode);

// A removal the store does not make (the call fails, or each item says the
// server did not answer): the victim stays known, as the newest entry, and
// is not counted as evicted; the next put's eviction takes the oldest.
TEST_F(CacheMode, VictimsTheStoreKeepsStayKnown) {
    for (const int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(velkfault_cache("ns=10:lru"), 0);
        Program program(false);
        program.put({{"a", 6}});
        refusing_store_set(mode);
        program.put({{"b", 6}});
        refusing_store_set(0);
        EXPECT_EQ(program.stats().evictions, 0u);
        EXPECT_EQ(program.used_bytes(), 12u);
        program.put({{"c", 1}});
        EXPECT_EQ(program.read({"a", "b", "c"}, Read::Query),
                  (std::vector<cache::Seen>{cache::Seen::Found, cache::Seen::NotFound, cache::Seen::Found}));
        EXPECT_EQ(program.stats().evictions, 1u);
        EXPECT_EQ(program.used_bytes(), 7u);
    }
}
#endif
