// SPDX-License-Identifier: MIT
// Threads on one handle, mixing every locked call with the flat and
// low-level forms, plus threads on handles of their own. Run under the tsan
// preset this also proves the absence of data races; everywhere it checks
// what the lock must guarantee. Bounded by a deadline, so a deadlock fails
// the test instead of hanging it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "velk_test.hpp"

using namespace velk_test;

namespace {

constexpr int kKeys = 8;
constexpr auto kRunFor = std::chrono::milliseconds(600);

std::vector<std::string> key_names() {
    std::vector<std::string> names;
    for (int i = 0; i < kKeys; ++i) {
        names.push_back("generation-key-" + std::to_string(i));
    }
    return names;
}

// A put batch writes one generation to all keys. Its length changes from
// one generation to the next, so a reader that sees half a batch sees a
// used-bytes total that is no multiple of the key count.
void write_generation(velk_client* client, const char* ns, const std::vector<std::string>& keys, long g) {
    std::vector<PutSpec> planned;
    for (const auto& k : keys) {
        planned.emplace_back(k, std::to_string(g) + std::string(static_cast<size_t>(g % 5), '+'));
    }
    ASSERT_EQ(put(client, ns, planned), 0);
}

struct Snapshot {
    std::vector<std::string> values;
};

int take_snapshot(int32_t count, const void* const* values, const uint64_t* lens, const int32_t*,
                  void* user_data) {
    auto* snapshot = static_cast<Snapshot*>(user_data);
    for (int32_t i = 0; i < count; ++i) {
        snapshot->values.emplace_back(values[i] ? static_cast<const char*>(values[i]) : "", lens[i]);
    }
    return 0;
}

}  // namespace

TEST(Stress, ConcurrentCallsOnOneHandleKeepBatchesWhole) {
    Client shared = make_client();
    const auto keys = key_names();
    write_generation(shared.get(), "gen", keys, 0);
    std::vector<velk_get_item_t> items(kKeys);
    for (int i = 0; i < kKeys; ++i) {
        items[i].key = keys[i].c_str();
    }

    std::atomic<bool> stop{false};
    std::atomic<long> operations{0};
    std::atomic<long> torn{0};
    std::atomic<long> bad_totals{0};
    std::vector<std::thread> threads;

    // Writer: whole generations.
    threads.emplace_back([&] {
        for (long g = 1; !stop; ++g) {
            write_generation(shared.get(), "gen", keys, g);
            ++operations;
        }
    });
    // Readers: every batch must see a single generation.
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&] {
            while (!stop) {
                Snapshot snapshot;
                velk_batch_get(shared.get(), "gen", items.data(), kKeys, take_snapshot, &snapshot, nullptr);
                for (const auto& v : snapshot.values) {
                    torn += v != snapshot.values[0];
                }
                char buffers[kKeys][32];
                void* ptrs[kKeys];
                uint64_t sizes[kKeys];
                int32_t statuses[kKeys];
                uint64_t lens[kKeys];
                for (int i = 0; i < kKeys; ++i) {
                    ptrs[i] = buffers[i];
                    sizes[i] = sizeof buffers[i];
                }
                velk_batch_get_into(shared.get(), "gen", items.data(), kKeys, ptrs, sizes, statuses, lens,
                                    nullptr);
                for (int i = 1; i < kKeys; ++i) {
                    torn += std::string(buffers[i], lens[i]) != std::string(buffers[0], lens[0]);
                }
                operations += 2;
            }
        });
    }
    // Churn: every other call family on the same handle, including the flat
    // and low-level forms, namespace administration and listings.
    threads.emplace_back([&] {
        const char* churn_keys[] = {"c1", "c2", "c3"};
        velk_namespace_info_t infos[16];
        velk_node_info_t nodes[2];
        for (long i = 0; !stop; ++i) {
            const std::string ns = "churn-" + std::to_string(i % 5);
            put_one(shared.get(), ns.c_str(), "c1", "value");
            velk_create_namespace(shared.get(), ns.c_str(), nullptr);
            const velk_namespace_options_t options{i, "lfu", 0.5};
            velk_update_namespace(shared.get(), ns.c_str(), &options);
            int32_t statuses[3];
            velk_batch_delete(shared.get(), ns.c_str(), churn_keys, 3, nullptr, statuses, 3, nullptr);
            velk_query_result_t results[3];
            if (velk_batch_query(shared.get(), "gen", churn_keys, 3, nullptr, results, 3) == 3) {
                velk_query_result_free(results, 3);
            }
            int total = 0;
            const int listed = velk_list_namespaces(shared.get(), infos, 16, &total);
            bad_totals += listed != total;
            // Whole batches leave the used bytes a multiple of the key count.
            for (int look = 0; look < 4; ++look) {
                velk_namespace_info_t gen{};
                if (velk_get_namespace(shared.get(), "gen", &gen) == VELK_OK) {
                    torn += gen.used_bytes % kKeys != 0;
                } else {
                    ++torn;
                }
            }
            velk_get_nodes(shared.get(), nullptr, nodes, 2);
            const void* parts[] = {"ll"};
            const uint64_t lens[] = {2};
            const velk_ll_put_item_t item{"c1", parts, lens, 1};
            velk_put_result_t result;
            velk_ll_batch_put(shared.get(), &item, 1, &result, 1, nullptr, nullptr);
            velk_ll_batch_delete(shared.get(), churn_keys, 3, statuses, 3, nullptr, nullptr);
            Snapshot low_level;
            velk_ll_batch_get(shared.get(), churn_keys, 3, take_snapshot, &low_level, nullptr, nullptr);
            char buffer[8];
            void* buffers[] = {buffer, buffer, buffer};
            const uint64_t sizes[] = {sizeof buffer, sizeof buffer, sizeof buffer};
            uint64_t value_lens[3];
            velk_ll_batch_get_into(shared.get(), churn_keys, 3, buffers, sizes, statuses, value_lens,
                                   nullptr);
            if (velk_ll_batch_query(shared.get(), churn_keys, 3, results, 3, nullptr) == 3) {
                velk_query_result_free(results, 3);
            }
            if (i % 7 == 0) {
                velk_delete_namespace(shared.get(), ns.c_str());
            }
            operations += 18;
        }
    });
    // Threads with handles of their own share nothing with the rest.
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            Client own = make_client();
            const std::string ns = "own-" + std::to_string(t);
            for (long i = 0; !stop; ++i) {
                put_one(own.get(), ns.c_str(), "k", std::to_string(i));
                if (get_value(own.get(), ns.c_str(), "k") != std::to_string(i)) {
                    ++torn;
                }
                operations += 2;
            }
        });
    }

    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kRunFor);
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(bad_totals.load(), 0);
    std::printf("stress: %ld operations in %.2f s on %zu threads (%.0f ops/s)\n", operations.load(), seconds,
                threads.size(), operations.load() / seconds);
}
