// SPDX-License-Identifier: MIT
// The allocation-failure sweep: for every exported call that can allocate,
// fail its 1st, 2nd, ... allocation until the call completes, and check each
// time that it answered with a code (never an abort or an escaped
// exception), released the lock, tore no entry and leaked nothing.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "alloc_hook.hpp"
#include "store_choice.hpp"
#include "velk_test.hpp"

using namespace velk_test;

namespace {

constexpr int kMany = 70;  // past every stack-held temporary

std::vector<std::string> many_keys() {
    std::vector<std::string> keys;
    for (int i = 0; i < kMany; ++i) {
        keys.push_back("sweep-key-" + std::to_string(i) + "-past-short-strings");
    }
    return keys;
}

const std::vector<std::string>& keys() {
    static const std::vector<std::string> k = many_keys();
    return k;
}

std::vector<const char*> key_ptrs() {
    std::vector<const char*> out;
    for (const auto& k : keys()) {
        out.push_back(k.c_str());
    }
    return out;
}

const std::string kLongPolicy(200, 'p');
const std::string kLongName(150, 'n');

// A store with the entries every row reads, replaces or removes.
void prepare(velk_client* client) {
    std::vector<PutSpec> planned;
    for (const auto& k : keys()) {
        planned.push_back(PutSpec{k, "old-" + k, {{"m", "1"}, {"n", "2"}}, 7, 2});
    }
    ASSERT_EQ(put(client, "ns", planned), 0);
    ASSERT_EQ(put(client, "ll", planned), 0);
    const velk_namespace_options_t options{10, "lfu", 0.5};
    ASSERT_EQ(velk_create_namespace(client, "admin", &options), 0);
}

// Every prepared key holds its old value, its new value or (for deletes)
// nothing; never anything else. One batch: against a shared store each
// call is a round trip.
bool untorn(velk_client* client, const char* ns, const std::string& new_prefix) {
    std::vector<velk_get_item_t> items(kMany);
    std::vector<std::string> buffers(kMany, std::string(128, '\0'));
    std::vector<void*> pointers(kMany);
    const std::vector<uint64_t> sizes(kMany, 128);
    std::vector<int32_t> statuses(kMany);
    std::vector<uint64_t> lens(kMany);
    for (int i = 0; i < kMany; ++i) {
        items[i].key = keys()[i].c_str();
        pointers[i] = buffers[i].data();
    }
    if (velk_batch_get_into(client, ns, items.data(), kMany, pointers.data(), sizes.data(), statuses.data(),
                            lens.data(), nullptr) != VELK_OK) {
        return false;
    }
    for (int i = 0; i < kMany; ++i) {
        const std::string value = buffers[i].substr(0, lens[i]);
        if (statuses[i] != 0 && value != "old-" + keys()[i] && value != new_prefix + keys()[i]) {
            return false;
        }
    }
    return true;
}

int count_callback(int32_t, const void* const*, const uint64_t*, const int32_t*, void*) {
    return 0;
}

using Invoke = std::function<int()>;

struct Row {
    const char* name;
    // Builds the call's arguments (outside the failure window) and returns
    // the bare call. Query rows leave their records in `results`, to be
    // released once the handle is gone.
    std::function<Invoke(velk_client*, std::vector<velk_query_result_t>&)> prepare;
    // Whether a code other than -4 means success.
    std::function<bool(int)> succeeded;
    std::function<bool(velk_client*)> intact;
};

bool ok(int rc) {
    return rc == 0;
}

// Argument material that outlives the preparation.
struct Args {
    std::vector<const char*> keys = key_ptrs();
    std::vector<std::string> buffers = std::vector<std::string>(kMany, std::string(64, '\0'));
    std::vector<void*> pointers = std::vector<void*>(kMany);
    std::vector<uint64_t> sizes = std::vector<uint64_t>(kMany, 64);
    std::vector<int32_t> statuses = std::vector<int32_t>(kMany);
    std::vector<uint64_t> lens = std::vector<uint64_t>(kMany);
    std::vector<velk_get_item_t> get_items = std::vector<velk_get_item_t>(kMany);
    std::vector<velk_delete_item_t> delete_items = std::vector<velk_delete_item_t>(kMany);
    std::vector<velk_delete_result_t> delete_results = std::vector<velk_delete_result_t>(kMany);
    std::vector<velk_put_result_t> put_results = std::vector<velk_put_result_t>(kMany + 1);
    std::vector<std::string> values;
    std::vector<const void*> parts = std::vector<const void*>(kMany);
    std::vector<velk_ll_put_item_t> ll_items = std::vector<velk_ll_put_item_t>(kMany);
    std::vector<velk_namespace_info_t> infos = std::vector<velk_namespace_info_t>(4);
    std::vector<velk_node_info_t> nodes = std::vector<velk_node_info_t>(2);
    std::unique_ptr<PutBatch> batch;
    int total = 0;

    Args() {
        for (int i = 0; i < kMany; ++i) {
            pointers[i] = buffers[i].data();
            get_items[i].key = keys[i];
            delete_items[i].key = keys[i];
            values.push_back(std::string("new-") + keys[i]);
        }
        for (int i = 0; i < kMany; ++i) {
            parts[i] = values[i].data();
            lens[i] = values[i].size();
            ll_items[i] = {keys[i], &parts[i], &lens[i], 1};
        }
    }
};

std::vector<Row> rows() {
    std::vector<Row> r;
    auto nothing_torn = [](velk_client* c) {
        return untorn(c, "ns", "new-") && untorn(c, "ll", "new-");
    };
    auto with_args = [](auto call) {
        return [call](velk_client* c, std::vector<velk_query_result_t>& results) -> Invoke {
            auto args = std::make_shared<Args>();
            return [=, &results]() {
                return call(c, *args, results);
            };
        };
    };
    using Results = std::vector<velk_query_result_t>;

    r.push_back({"batch_put",
                 [](velk_client* c, Results&) -> Invoke {
                     std::vector<PutSpec> planned;
                     for (const auto& k : keys()) {
                         planned.emplace_back(k, "new-" + k, Meta{{"x", "y"}}, 1, 1);
                     }
                     planned.emplace_back("brand-new-key-past-short-strings", std::string(5000, 'z'));
                     auto args = std::make_shared<Args>();
                     args->batch = std::make_unique<PutBatch>(planned);
                     return [c, args] {
                         return velk_batch_put(c, "ns", args->batch->items.data(), args->batch->count(),
                                               args->put_results.data(), args->batch->count(), nullptr);
                     };
                 },
                 ok, nothing_torn});
    r.push_back({"batch_put into a new namespace",
                 [](velk_client* c, Results&) -> Invoke {
                     auto args = std::make_shared<Args>();
                     args->batch = std::make_unique<PutBatch>(std::vector<PutSpec>{PutSpec{"k", "v"}});
                     return [c, args] {
                         return velk_batch_put(c, kLongName.c_str(), args->batch->items.data(), 1,
                                               args->put_results.data(), 1, nullptr);
                     };
                 },
                 ok, nothing_torn});
    r.push_back({"batch_get", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_batch_get(c, "ns", a.get_items.data(), kMany, count_callback, nullptr,
                                           nullptr);
                 }),
                 ok, nothing_torn});
    r.push_back({"batch_get_into", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_batch_get_into(c, "ns", a.get_items.data(), kMany, a.pointers.data(),
                                                a.sizes.data(), a.statuses.data(), a.lens.data(), nullptr);
                 }),
                 ok, nothing_torn});
    r.push_back({"batch_delete_items", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_batch_delete_items(c, "ns", a.delete_items.data(), kMany,
                                                    a.delete_results.data(), kMany, nullptr);
                 }),
                 ok, nothing_torn});
    r.push_back({"batch_delete", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_batch_delete(c, "ns", a.keys.data(), kMany, nullptr, a.statuses.data(),
                                              kMany, nullptr);
                 }),
                 ok, nothing_torn});
    r.push_back({"batch_query with metadata and details",
                 [](velk_client* c, Results& results) -> Invoke {
                     auto args = std::make_shared<Args>();
                     results.resize(kMany);
                     return [c, args, &results] {
                         const velk_query_options_t options{0, 1};
                         const int rc = velk_batch_query(c, "ns", args->keys.data(), kMany, &options,
                                                         results.data(), kMany);
                         if (rc < 0) {
                             results.clear();  // the call released its own blocks
                         }
                         return rc;
                     };
                 },
                 [](int rc) { return rc == kMany; }, nothing_torn});
    r.push_back({"create_namespace", with_args([](velk_client* c, Args&, Results&) {
                     const velk_namespace_options_t options{1, kLongPolicy.c_str(), 1.0};
                     return velk_create_namespace(c, kLongName.c_str(), &options);
                 }),
                 ok, [](velk_client* c) {
                     // Created whole or not at all.
                     velk_namespace_info_t info;
                     const int rc = velk_get_namespace(c, kLongName.c_str(), &info);
                     return rc == VELK_ERR_NAMESPACE_NOT_FOUND ||
                            (rc == 0 && info.capacity_bytes == 1 &&
                             kLongPolicy.compare(0, 31, info.eviction_policy) == 0);
                 }});
    r.push_back({"update_namespace", with_args([](velk_client* c, Args&, Results&) {
                     const velk_namespace_options_t options{99, kLongPolicy.c_str(), 9.0};
                     return velk_update_namespace(c, "admin", &options);
                 }),
                 ok, [](velk_client* c) {
                     velk_namespace_info_t info;
                     if (velk_get_namespace(c, "admin", &info) != 0) {
                         return false;
                     }
                     const bool old = info.capacity_bytes == 10 &&
                                      std::strcmp(info.eviction_policy, "lfu") == 0 &&
                                      info.policy_param == 0.5;
                     const bool updated = info.capacity_bytes == 99 && info.policy_param == 9.0 &&
                                          kLongPolicy.compare(0, 31, info.eviction_policy) == 0;
                     return old || updated;
                 }});
    r.push_back({"delete_namespace",
                 with_args([](velk_client* c, Args&, Results&) { return velk_delete_namespace(c, "ns"); }),
                 ok, [](velk_client* c) {
                     return untorn(c, "ll", "new-");
                 }});
    r.push_back({"get_namespace", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_get_namespace(c, "admin", a.infos.data());
                 }),
                 ok, nothing_torn});
    r.push_back({"list_namespaces", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_list_namespaces(c, a.infos.data(), 4, &a.total);
                 }),
                 [](int rc) { return rc == 3; }, nothing_torn});
    r.push_back({"get_nodes", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_get_nodes(c, nullptr, a.nodes.data(), 2);
                 }),
                 [](int rc) { return rc == 2; }, nothing_torn});
    r.push_back({"ll_batch_put", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_ll_batch_put(c, a.ll_items.data(), kMany, a.put_results.data(), kMany,
                                              nullptr, nullptr);
                 }),
                 ok, nothing_torn});
    r.push_back({"ll_batch_get", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_ll_batch_get(c, a.keys.data(), kMany, count_callback, nullptr, nullptr,
                                              nullptr);
                 }),
                 ok, nothing_torn});
    r.push_back({"ll_batch_get_into", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_ll_batch_get_into(c, a.keys.data(), kMany, a.pointers.data(), a.sizes.data(),
                                                   a.statuses.data(), a.lens.data(), nullptr);
                 }),
                 ok, nothing_torn});
    r.push_back({"ll_batch_delete", with_args([](velk_client* c, Args& a, Results&) {
                     return velk_ll_batch_delete(c, a.keys.data(), kMany, a.statuses.data(), kMany, nullptr,
                                                 nullptr);
                 }),
                 ok, nothing_torn});
    r.push_back({"ll_batch_query",
                 [](velk_client* c, Results& results) -> Invoke {
                     auto args = std::make_shared<Args>();
                     results.resize(kMany);
                     return [c, args, &results] {
                         const int rc =
                             velk_ll_batch_query(c, args->keys.data(), kMany, results.data(), kMany, nullptr);
                         if (rc < 0) {
                             results.clear();
                         }
                         return rc;
                     };
                 },
                 [](int rc) { return rc == kMany; }, nothing_torn});
    return r;
}

}  // namespace

TEST(AllocSweep, EveryCallSurvivesEveryAllocationFailure) {
    for (const Row& row : rows()) {
        long points = 0;
        for (long n = 1;; ++n) {
            choose_store(0);  // a shared store outlives its handles: emptied
            velk_client* client = velk_client_create("cfg");
            ASSERT_NE(client, nullptr);
            prepare(client);
            std::vector<velk_query_result_t> results;
            const Invoke call = row.prepare(client, results);

            alloc_hook::open(n);
            const int rc = call();
            const alloc_hook::Window w = alloc_hook::pause();

            if (w.failed) {
                ++points;
                const bool lost_connection = shared_store() && (rc == -ENOTCONN || rc == -ETIMEDOUT);
                EXPECT_TRUE(rc == VELK_ERR_NO_MEMORY || lost_connection || row.succeeded(rc))
                    << row.name << ": failure at allocation " << n << " gave " << rc;
            } else {
                EXPECT_TRUE(row.succeeded(rc)) << row.name << " gave " << rc;
            }
            EXPECT_TRUE(row.intact(client)) << row.name << ": torn state after failure at " << n;
            // The lock was released on the way out: the handle still works.
            EXPECT_EQ(put_one(client, "follow-up", "k", "v"), 0) << row.name << " at " << n;
            EXPECT_EQ(get_value(client, "follow-up", "k"), "v") << row.name << " at " << n;

            velk_client_destroy(client);
            velk_query_result_free(results.data(), static_cast<int32_t>(results.size()));
            EXPECT_EQ(alloc_hook::peek().live, 0) << row.name << ": leak after failure at " << n;
            alloc_hook::close();
            if (!w.failed) {
                break;
            }
        }
        std::printf("alloc sweep: %-40s %ld failure points\n", row.name, points);
    }
}

TEST(AllocSweep, CreateCallsReturnNullAndLeakNothing) {
    const velk_ll_config_t config{"sweep"};
    const std::function<velk_client*()> creates[] = {
        [] { return velk_client_create("cfg"); },
        [&] { return velk_ll_create(&config); },
    };
    for (const auto& create : creates) {
        long points = 0;
        for (long n = 1;; ++n) {
            alloc_hook::open(n);
            velk_client* client = create();
            const alloc_hook::Window w = alloc_hook::pause();
            EXPECT_EQ(client == nullptr, w.failed) << "failure at " << n;
            points += w.failed;
            if (client != nullptr) {
                EXPECT_EQ(put_one(client, "ns", "k", "v"), 0);
            }
            velk_client_destroy(client);
            EXPECT_EQ(alloc_hook::peek().live, 0);
            alloc_hook::close();
            if (!w.failed) {
                break;
            }
        }
        if (!shared_store()) {
            EXPECT_EQ(points, 2);  // the handle and its node table
        }
    }
}
