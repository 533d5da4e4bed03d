// SPDX-License-Identifier: MIT
// The cache mode's engine against a reference written from its documented
// rules with plain lists, its spec, its counts and reports, its control
// calls, threads, and failing allocations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <list>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "alloc_hook.hpp"
#include "cache_front.hpp"
#include "cache_reference.hpp"
#include "faults/cache_spec.hpp"
#include "velkfault.h"

using namespace cache_test;

namespace {

std::string rule(std::uint64_t capacity, const std::string& policy) {
    return "ns=" + std::to_string(capacity) + ":" + policy;
}

const int kHandle = 0;

}  // namespace

// Random traces of puts (keys repeated within a call, values of many sizes,
// some larger than the capacity), gets, queries, deletes, other writers'
// entries, namespace deletes and policy changes: the same victims call by
// call, the same counts and the same entries left.
TEST(CacheEngine, AgreesWithTheReferenceOnRandomTraces) {
    const char* const policies[] = {"lru", "lfu", "fifo", "random"};
    for (const char* policy : policies) {
        for (const std::uint64_t capacity : {40, 100, 333}) {
            for (unsigned seed = 1; seed <= 12; ++seed) {
                SCOPED_TRACE(std::string(policy) + " " + std::to_string(capacity) + " seed " +
                             std::to_string(seed));
                std::mt19937 random(seed);
                const auto pick = [&](unsigned n) {
                    return static_cast<unsigned>(random() % n);
                };
                cache::Engine engine(seed);
                Front front(engine);
                ASSERT_EQ(engine.configure(rule(capacity, policy)), "");
                Reference reference(capacity, policy, seed);
                const auto key = [&] {
                    return "k" + std::to_string(pick(30));
                };
                for (int step = 0; step < 400; ++step) {
                    const unsigned what = pick(100);
                    if (what < 45) {
                        Items items;
                        for (unsigned n = 1 + pick(5); n > 0; --n) {
                            const unsigned kind = pick(10);
                            const std::uint64_t size = kind == 0 ? 0
                                                       : kind == 1
                                                           ? capacity + 1 + pick(20)
                                                           : 1 + pick(static_cast<unsigned>(capacity / 3));
                            items.emplace_back(key(), size);
                        }
                        const Front::Put put = front.put(&kHandle, "ns", items);
                        ASSERT_EQ(put.victims, reference.put(items)) << "step " << step;
                    } else if (what < 85) {
                        std::vector<std::string> keys;
                        for (unsigned n = 1 + pick(4); n > 0; --n) {
                            keys.push_back(pick(8) == 0 ? "f" + std::to_string(pick(3)) : key());
                        }
                        const auto seen = front.read(&kHandle, "ns", keys, what >= 75);
                        for (std::size_t i = 0; i < keys.size(); ++i) {
                            reference.read(keys[i], seen[i]);
                        }
                    } else if (what < 93) {
                        const std::vector<std::string> keys = {key(), key()};
                        front.remove(&kHandle, "ns", keys);
                        reference.remove(keys[0]);
                        reference.remove(keys[1]);
                    } else if (what < 97) {
                        front.foreign(&kHandle, "ns", "f" + std::to_string(pick(3)), pick(50));
                    } else if (what < 98) {
                        front.drop(&kHandle, "ns");
                        reference.clear();
                    } else {
                        const char* other = policies[pick(4)];
                        const std::uint64_t smaller = capacity / (1 + pick(2));
                        ASSERT_EQ(engine.configure(rule(smaller, other)), "");
                        reference.configure(smaller, other);
                    }
                }
                cache::Stats stats;
                ASSERT_TRUE(engine.stats("h1", "ns", stats));
                expect_same(stats, reference.stats);
                Space left = front.space(&kHandle, "ns");
                std::erase_if(left, [](const auto& entry) { return entry.first[0] == 'f'; });
                EXPECT_EQ(left, reference.entries());
            }
        }
    }
}

TEST(CacheSpec, ValidAndMalformed) {
    struct Case {
        const char* text;
        const char* problem;  // a part of the message, or "" for valid
        const char* summary;  // the rules, for valid ones
    };
    const Case cases[] = {
        {"on", "", ""},
        {" on ; sessions = 1MiB : lru ;; ", "", "sessions=1048576:lru"},
        {"a=0;*=512:fifo;a=2KiB", "", "a=2048:- *=512:fifo"},
        {"x=y=3GiB:random", "", "x=y=3221225472:random"},
        {"off", "", "off"},
        {"big=8388607TiB", "", "big=9223370937343148032:-"},
        {"", "no rule", ""},
        {" ; ", "no rule", ""},
        {"sessions", "rule 'sessions': expected on, off or NS=BYTES", ""},
        {"=100", "rule '=100': expected a namespace name", ""},
        {"a=", "rule 'a=': expected a number of bytes", ""},
        {"a=12kb", "rule 'a=12kb': expected a number of bytes", ""},
        {"a=-1", "rule 'a=-1': expected a number of bytes", ""},
        {"a=8388608TiB", "expected a number of bytes", ""},
        {"a=99999999999999999999", "expected a number of bytes", ""},
        {"a=10:LRU", "rule 'a=10:LRU': unknown policy 'LRU'", ""},
        {"a=10:", "unknown policy ''", ""},
        {"off;on", "off stands alone", ""},
        {"on;off", "off stands alone", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        cache::Spec spec;
        spec.rules.push_back({"untouched", 1, {}});
        const std::string problem = cache::parse_spec(c.text, spec);
        if (*c.problem != '\0') {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
            EXPECT_EQ(spec.rules.size(), 1u);  // a bad spec changes nothing
            continue;
        }
        ASSERT_EQ(problem, "");
        std::string summary = spec.off ? "off" : "";
        for (const cache::Rule& rule : spec.rules) {
            summary += (summary.empty() ? "" : " ") + rule.ns + "=" + std::to_string(rule.capacity) + ":" +
                       (rule.policy ? cache::policy_text(*rule.policy) : "-");
        }
        if (spec.others) {
            summary += " *=" + std::to_string(spec.others->capacity) + ":" +
                       cache::policy_text(*spec.others->policy);
        }
        EXPECT_EQ(summary, c.summary);
    }
    std::uint64_t seed = 7;
    EXPECT_EQ(cache::parse_seed(" 18446744073709551615 ", seed), "");
    EXPECT_EQ(seed, UINT64_MAX);
    for (const char* bad : {"", "-1", "1x", "18446744073709551616"}) {
        EXPECT_NE(cache::parse_seed(bad, seed), "") << bad;
    }
}

// What a read item found, from what it reported: the one rule the
// interposer and a journal's reader both decide with.
TEST(CacheEngine, ReadsFoundWhatTheyReport) {
    struct Get {
        std::int32_t status;
        std::uint64_t length;
        bool filtered;
        cache::Seen seen;
    };
    const Get gets[] = {
        {5, 5, false, cache::Seen::Found},
        {-28, 10, false, cache::Seen::Found},  // too large for its buffer: there
        {-28, 0, false, cache::Seen::NotFound},
        {0, 0, false, cache::Seen::Nothing},  // an empty value, or none
        {0, 0, true, cache::Seen::NotFound},  // a filter found nothing
    };
    for (const Get& get : gets) {
        EXPECT_EQ(cache::seen_by_get(get.status, get.length, get.filtered), get.seen) << get.status;
    }
    const char found[16] = "ok";
    const char okay[16] = "okay";
    const char not_found[16] = "not_found";
    const char none[16] = "";
    EXPECT_EQ(cache::seen_by_query(found), cache::Seen::Found);
    EXPECT_EQ(cache::seen_by_query(okay), cache::Seen::NotFound);
    EXPECT_EQ(cache::seen_by_query(not_found), cache::Seen::NotFound);
    EXPECT_EQ(cache::seen_by_query(none), cache::Seen::NotFound);
    EXPECT_EQ(cache::seen_by_query(std::string_view("ok")), cache::Seen::Found);
    EXPECT_EQ(cache::seen_by_query(std::string_view("o")), cache::Seen::NotFound);
}

TEST(CacheEngine, PutItemsStoredByTheCallsAnswer) {
    using cache::Fate;
    struct Case {
        std::int32_t rc;
        std::vector<std::int32_t> statuses;
        std::vector<Fate> before;
        std::vector<Fate> after;
    };
    const Fate P = Fate::Pending, S = Fate::Stored, N = Fate::NotStored, R = Fate::Refused;
    const Case cases[] = {
        {0, {0, -5, 0}, {P, P, P}, {S, N, S}},
        {0, {-4, 0, 0}, {R, N, P}, {R, N, S}},             // refused and dropped items are not the call's
        {-4, {0, -5, -4, 0}, {P, P, P, P}, {S, N, N, N}},  // the records after the failing one are untouched
        {-4, {-4, 0, 0}, {R, P, P}, {R, S, S}},
        {-5, {0, 0}, {P, P}, {N, N}},
        {-2, {0}, {P}, {N}},
    };
    for (const Case& c : cases) {
        std::vector<Fate> fates = c.before;
        cache::settle_fates(c.rc, c.statuses, fates);
        EXPECT_EQ(fates, c.after) << c.rc;
    }
}

TEST(CacheEngine, DeclaredSettingsAndTheRulesOverThem) {
    cache::Engine engine;
    Front front(engine);
    const int handle = 0;
    ASSERT_EQ(engine.configure("on"), "");
    front.declare(&handle, "a", 100, "fifo");
    front.put(&handle, "b", {{"x", 1000}});  // made by a put: not bounded
    EXPECT_EQ(engine.declared(&handle, "c", 10, nullptr, false),
              "");  // an update keeps the policy unless it names one
    EXPECT_NE(engine.declared(&handle, "f", 5, "", false).find("policy ''"),
              std::string::npos);  // "" is kept
    EXPECT_NE(engine.declared(&handle, "d", 10, "tinylfu", true).find("'tinylfu'"), std::string::npos);
    EXPECT_EQ(engine.declared(&handle, "e", 10, "tinylfu", true), "");  // reported once
    EXPECT_EQ(front.put(&handle, "d", {{"x", 50}}).fates[0], cache::Fate::Stored);
    front.remove(&handle, "d", {"x"});  // forgotten, though it has no order to leave
    EXPECT_EQ(front.put(&handle, "a", {{"x", 101}}).fates[0], cache::Fate::Refused);
    engine.declared(&handle, "a", 200, nullptr, false);
    EXPECT_EQ(front.put(&handle, "a", {{"x", 101}}).fates[0], cache::Fate::Stored);

    const auto summary = [&] {
        std::string text;
        for (const cache::Record& record : engine.records()) {
            text += record.ns + "=" + std::to_string(record.capacity) + ":" + record.policy + " ";
        }
        return text;
    };
    EXPECT_EQ(summary(), "a=200:fifo b=0:lru c=10:lru d=0:tinylfu e=0:tinylfu f=0: ");
    ASSERT_EQ(engine.configure("*=64;d=32:random"), "");  // capacity only: the declared policy stays
    EXPECT_EQ(summary(), "a=64:fifo b=64:lru c=64:lru d=32:random e=0:tinylfu f=0: ");
    front.drop(&handle, "a");  // made again by a put, with the implicit settings
    ASSERT_EQ(engine.configure("on"), "");
    EXPECT_EQ(summary(), "a=0:lru b=0:lru c=10:lru d=0:tinylfu e=0:tinylfu f=0: ");
}

// What the store did not remove stays known, is not counted as evicted, and
// goes at the next eviction; off forgets every entry and keeps the counts.
TEST(CacheEngine, RestoredVictimsAndTurningOff) {
    cache::Engine engine;
    Front front(engine);
    const int handle = 0;
    ASSERT_EQ(engine.configure("ns=10:lru"), "");
    front.put(&handle, "ns", {{"a", 6}});
    const std::vector<cache::Victim> kept =
        engine.stored(&handle, "ns", std::vector<cache::PutItem>{{"b", 6, cache::Fate::Stored}});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].key, "a");
    engine.restore(&handle, "ns", kept);
    cache::Stats stats;
    ASSERT_TRUE(engine.stats("h1", "ns", stats));
    EXPECT_EQ(stats.evictions, 0u);
    EXPECT_EQ(stats.evicted_bytes, 0u);
    // "a" is now the newest: the next put evicts "b" first.
    EXPECT_EQ(front.put(&handle, "ns", {{"c", 1}}).victims, std::vector<std::string>{"b"});

    ASSERT_EQ(engine.configure("off"), "");
    EXPECT_FALSE(engine.on());
    ASSERT_EQ(engine.configure("ns=10:lru"), "");
    EXPECT_TRUE(engine.on());
    // Nothing is known any more: a put of 10 bytes evicts nothing it knew.
    EXPECT_TRUE(front.put(&handle, "ns", {{"d", 10}}).victims.empty());
    ASSERT_TRUE(engine.stats("h1", "ns", stats));
    EXPECT_EQ(stats.evictions, 1u);
}

TEST(CacheEngine, HandlesCountsAndReports) {
    cache::Engine engine;
    Front front(engine);
    const int first = 0;
    const int second = 0;
    ASSERT_EQ(engine.configure("s\"1=10:lru"), "");
    front.create(&first);
    front.create(&second);
    front.put(&first, "s\"1", {{"a", 4}, {"b", 4}});
    front.read(&first, "s\"1", {"a", "zz"}, true);
    front.put(&second, "s\"1", {{"a", 9}, {"b", 9}, {"c", 20}});
    front.put(&second, "\xff", {{"a", 1}});
    front.destroy(&second);
    front.create(&second);  // the same address: a new handle, h3
    front.read(&second, "s\"1", {"a"}, true);

    cache::Stats stats;
    EXPECT_FALSE(engine.stats("h4", "s\"1", stats));
    EXPECT_FALSE(engine.stats("x1", "s\"1", stats));
    EXPECT_FALSE(engine.stats("h", "s\"1", stats));
    ASSERT_TRUE(engine.stats(nullptr, "s\"1", stats));
    EXPECT_EQ(stats.hits, 1u);
    EXPECT_EQ(stats.misses, 2u);
    EXPECT_EQ(stats.evictions, 1u);
    EXPECT_EQ(stats.refused, 1u);
    EXPECT_EQ(stats.peak_bytes, 9u);  // the largest of the handles' peaks, not their sum
    const auto records = engine.records();
    EXPECT_EQ(
        cache::report_json(records),
        "{\"namespaces\": [\n"
        "  {\"handle\": \"h1\", \"ns\": \"s\\\"1\", \"capacity\": 10, \"policy\": \"lru\", \"hits\": 1, "
        "\"misses\": 1, \"evictions\": 0, \"evicted_bytes\": 0, \"refused\": 0, \"peak_bytes\": 8},\n"
        "  {\"handle\": \"h2\", \"ns\": \"s\\\"1\", \"capacity\": 10, \"policy\": \"lru\", \"hits\": 0, "
        "\"misses\": 0, \"evictions\": 1, \"evicted_bytes\": 9, \"refused\": 1, \"peak_bytes\": 9},\n"
        "  {\"handle\": \"h2\", \"ns\": \"\\ufffd\", \"capacity\": 0, \"policy\": \"lru\", \"hits\": 0, "
        "\"misses\": 0, \"evictions\": 0, \"evicted_bytes\": 0, \"refused\": 0, \"peak_bytes\": 1},\n"
        "  {\"handle\": \"h3\", \"ns\": \"s\\\"1\", \"capacity\": 10, \"policy\": \"lru\", \"hits\": 0, "
        "\"misses\": 1, \"evictions\": 0, \"evicted_bytes\": 0, \"refused\": 0, \"peak_bytes\": 0}\n"
        "]}\n");
    EXPECT_EQ(cache::report_json({}), "{\"namespaces\": []}\n");
    EXPECT_EQ(cache::report_table(records),
              "libvelkfault cache mode:\n"
              "  namespace  handles  capacity  policy  hits  misses  hit %  evictions  evicted bytes  "
              "refused  peak bytes\n"
              "  s\"1              3        10  lru        1       2   33.3          1              9        "
              "1           9\n"
              "  \xff                1      none  lru        0       0      -          0              0      "
              "  0           1\n");
    std::string text;
    cache::append_json_string(
        text,
        std::string("\x01\t\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xc0\x80\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82",
                    22));
    EXPECT_EQ(
        text,
        "\"\\u0001\\u0009é€😀\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\"");
}

// The control calls, on the process's engine, and what the library reads at
// load and writes at exit.
TEST(CacheControl, CallsEnvironmentAndReport) {
    velkfault_cache_stats_t stats;
    std::memset(&stats, 0xab, sizeof stats);
    EXPECT_EQ(velkfault_cache_stats(nullptr, nullptr, &stats), VELKFAULT_INVALID_ARGUMENT);
    EXPECT_EQ(velkfault_cache_stats(nullptr, "ns", nullptr), VELKFAULT_INVALID_ARGUMENT);
    EXPECT_EQ(stats.hits, 0xababababababababU);  // nothing written
    EXPECT_EQ(velkfault_cache_stats(nullptr, "never", &stats), VELKFAULT_NOT_FOUND);
    EXPECT_EQ(stats.hits, 0u);
    EXPECT_EQ(velkfault_cache("ns=3:nope"), VELKFAULT_INVALID_ARGUMENT);
    EXPECT_FALSE(cache::engine().on());
    EXPECT_EQ(velkfault_cache("ns=3:fifo"), 0);
    EXPECT_TRUE(cache::engine().on());
    Front front(cache::engine());
    const int handle = 0;
    front.create(&handle);
    front.put(&handle, "ns", {{"a", 2}, {"b", 2}});
    front.read(&handle, "ns", {"a", "b"}, false);
    EXPECT_EQ(velkfault_cache_stats("h1", "ns", &stats), 0);
    EXPECT_EQ(stats.hits, 1u);
    EXPECT_EQ(stats.misses, 1u);
    EXPECT_EQ(stats.evictions, 1u);
    EXPECT_EQ(stats.evicted_bytes, 2u);
    EXPECT_EQ(stats.peak_bytes, 2u);
    EXPECT_EQ(velkfault_cache(nullptr), 0);
    EXPECT_FALSE(cache::engine().on());

    const std::string report = ::testing::TempDir() + "cache_report.json";
    struct Variable {
        const char* name;
        const char* value;
        const char* problem;
    };
    const Variable variables[] = {
        {"VELKFAULT_SEED", "x", "VELKFAULT_SEED 'x': expected a whole number"},
        {"VELKFAULT_SEED", "5", ""},
        {"VELKFAULT_CACHE", "ns=1:nope", "VELKFAULT_CACHE rule 'ns=1:nope': unknown policy"},
        {"VELKFAULT_CACHE", "", ""},
        {"VELKFAULT_CACHE", "ns=5:lru", ""},
    };
    for (const Variable& variable : variables) {
        setenv(variable.name, variable.value, 1);
        const std::string problem = cache::from_environment();
        EXPECT_EQ(problem.substr(0, std::strlen(variable.problem)), variable.problem) << problem;
        if (std::strcmp(variable.name, "VELKFAULT_SEED") == 0 && *variable.problem != '\0') {
            unsetenv(variable.name);
        }
    }
    EXPECT_TRUE(cache::engine().on());
    setenv("VELKFAULT_CACHE_REPORT", report.c_str(), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(cache::report_at_exit(true), "");
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("  ns    "), std::string::npos);
    std::ifstream file(report);
    std::stringstream written;
    written << file.rdbuf();
    EXPECT_EQ(written.str(), cache::report_json(cache::engine().records()));
    setenv("VELKFAULT_CACHE_REPORT", "/nonexistent-folder/report.json", 1);
    EXPECT_EQ(
        cache::report_at_exit(false),
        "libvelkfault: VELKFAULT_CACHE_REPORT '/nonexistent-folder/report.json': No such file or directory");
    for (const char* name : {"VELKFAULT_SEED", "VELKFAULT_CACHE", "VELKFAULT_CACHE_REPORT"}) {
        unsetenv(name);
    }
    EXPECT_EQ(velkfault_cache("off"), 0);
}

// Threads putting and reading on shared and separate namespaces: the lock
// keeps every cache whole (ThreadSanitizer watches), and no bounded cache
// ever ends a put call above its capacity.
TEST(CacheEngine, ThreadsShareTheEngine) {
    cache::Engine engine;
    ASSERT_EQ(engine.configure("*=200:lfu;shared=300:random"), "");
    const int handles[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            const std::string own = "own" + std::to_string(t);
            for (int i = 0; i < 2000; ++i) {
                const std::string key = "k" + std::to_string(random() % 50);
                const std::string& ns = i % 2 == 0 ? own : std::string("shared");
                const void* handle = &handles[i % 3 == 0 ? 0 : t];
                const cache::PutItem item{key.c_str(), 1 + random() % 40, cache::Fate::Stored};
                engine.stored(handle, ns, std::span(&item, 1));
                const cache::ReadItem read{key.c_str(), cache::Seen::Found};
                engine.read(handle, ns, std::span(&read, 1));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const cache::Record& record : engine.records()) {
        EXPECT_LE(record.stats.peak_bytes, record.capacity) << record.ns;
        EXPECT_GT(record.stats.evictions, 0u) << record.ns;
    }
}

// Every allocation of a put call that evicts, then of a change of policy,
// fails in turn: the call throws std::bad_alloc or completes, and afterwards
// the engine's victims are still entries it knew, each once, with the
// capacity kept.
TEST(CacheEngine, FailedAllocationsLeaveItWhole) {
    for (const char* policy : {"random", "lfu"}) {
        for (long fail = 1;; ++fail) {
            SCOPED_TRACE(std::string(policy) + " " + std::to_string(fail));
            cache::Engine engine;
            Front front(engine);
            const int handle = 0;
            ASSERT_EQ(engine.configure(std::string("ns=100:") + policy), "");
            Items items;
            for (int i = 0; i < 40; ++i) {
                items.emplace_back("key-long-enough-to-allocate-" + std::to_string(i), 10);
            }
            front.put(&handle, "ns", Items(items.begin(), items.begin() + 10));
            std::vector<cache::PutItem> put;
            std::set<std::string> known;
            for (const auto& item : items) {
                put.push_back({item.first.c_str(), item.second, cache::Fate::Stored});
                known.insert(item.first);
            }
            alloc_hook::open(fail);
            try {
                engine.stored(&handle, "ns", put);
                engine.configure("ns=100:fifo");
            } catch (const std::bad_alloc&) {
            }
            const alloc_hook::Window window = alloc_hook::pause();
            alloc_hook::close();
            std::set<std::string> seen;
            for (const cache::Victim& victim : engine.stored(&handle, "ns", put)) {
                EXPECT_TRUE(known.count(victim.key) > 0 && seen.insert(victim.key).second) << victim.key;
            }
            cache::Stats stats;
            ASSERT_TRUE(engine.stats("h1", "ns", stats));
            EXPECT_LE(stats.peak_bytes, 100u);
            if (!window.failed) {
                break;
            }
        }
    }
}

// The calls the interposer may make that the traces above do not: a handle
// made again at an address whose destroy was not seen, a destroy of a handle
// never seen, keys that are NULL or unknown, a create without a policy.
TEST(CacheEngine, CallsAtTheEdges) {
    cache::Engine engine;
    Front front(engine);
    const int handle = 0;
    const int other = 0;
    ASSERT_EQ(engine.configure("ns=10:lru"), "");
    front.create(&handle);
    front.put(&handle, "ns", {{"a", 4}});
    front.create(&handle);  // h1's counts are kept; this is h2
    front.destroy(&other);
    engine.declared(&handle, "made", 0, nullptr, true);
    const cache::ReadItem reads[] = {{nullptr, cache::Seen::Found}, {"a", cache::Seen::Found}};
    engine.read(&handle, "ns", reads);
    const char* const keys[] = {nullptr, "never"};
    engine.deleted(&handle, "ns", keys);
    std::vector<cache::Fate> fates = {cache::Fate::NotStored, cache::Fate::Pending};
    const std::vector<std::uint64_t> sizes = {99, 99};
    engine.refuse(&handle, "ns", sizes, fates);
    EXPECT_EQ(fates, (std::vector<cache::Fate>{cache::Fate::NotStored, cache::Fate::Refused}));
    std::string summary;
    for (const cache::Record& record : engine.records()) {
        summary += "h" + std::to_string(record.handle) + "/" + record.ns + ":" + record.policy + ":" +
                   std::to_string(record.stats.hits) + " ";
    }
    EXPECT_EQ(summary, "h1/ns:lru:0 h2/made:lru:0 h2/ns:lru:1 ");
    // A victim given back twice, and after its namespace was dropped.
    const std::vector<cache::Victim> kept = {{"a", 4}};
    engine.restore(&handle, "ns", kept);
    engine.restore(&handle, "ns", kept);
    front.drop(&handle, "ns");
    engine.restore(&handle, "ns", kept);
    EXPECT_EQ(front.put(&handle, "ns", {{"b", 7}}).victims, std::vector<std::string>{"a"});
    EXPECT_STREQ(cache::policy_text(cache::Policy::Unknown), "");
    // Lines of one name whose handles differ in their settings.
    const cache::Record mixed[] = {{1, "a", 10, "lru", {}}, {2, "a", 20, "fifo", {}}};
    EXPECT_NE(cache::report_table(mixed).find("  a                2    varies  varies"), std::string::npos)
        << cache::report_table(mixed);
}
