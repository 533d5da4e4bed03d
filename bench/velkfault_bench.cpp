// SPDX-License-Identifier: MIT
// The cost of libvelkfault and its journal in front of the mock: a cycle of
// a put of 64 values (100 bytes each), a get-into and a query of them, on
// 1,024 keys, run through whatever the environment puts in front of the mock
// (bench/report_journal runs it with nothing, with libvelkfault and no
// journal, and with a journal of hashed or of whole values; bench/report_cache
// with the cache mode). Prints the median nanoseconds per cycle over 31
// blocks.
//
// With VELKFAULT_BENCH_KEEP=N the program itself deletes what an lru cache
// of N batches would evict: after each put, the keys of the batch put least
// recently, once more than N are kept. It makes the calls the cache mode
// makes when it evicts, so that the mode's own cost can be told from the
// store's work of removing and storing again.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "velkmock.h"

int main() {
    constexpr int kBatch = 64;
    constexpr int kKeys = 1024;
    constexpr int kCycles = 200;
    const int config = 0;
    velk_client* client = velk_client_create(&config);
    std::vector<std::string> keys;
    for (int i = 0; i < kKeys; ++i) {
        keys.push_back("bench-key-" + std::to_string(i));
    }
    const std::string value(100, 'v');
    const void* parts[] = {value.data()};
    const size_t lens[] = {value.size()};
    std::vector<velk_put_item_t> puts(kBatch);
    std::vector<velk_get_item_t> gets(kBatch);
    std::vector<const char*> names(kBatch);
    std::vector<velk_put_result_t> results(kBatch);
    std::vector<velk_query_result_t> found(kBatch);
    std::vector<std::string> buffers(kBatch, std::string(128, '\0'));
    std::vector<void*> pointers(kBatch);
    const std::vector<uint64_t> sizes(kBatch, 128);
    std::vector<int32_t> statuses(kBatch);
    std::vector<uint64_t> value_lens(kBatch);
    for (int i = 0; i < kBatch; ++i) {
        pointers[i] = buffers[i].data();
    }
    const char* keep_text = std::getenv("VELKFAULT_BENCH_KEEP");
    const std::size_t keep = keep_text != nullptr ? std::strtoul(keep_text, nullptr, 10) : 0;
    std::deque<int> kept;  // the batches stored, least recently put first
    std::vector<velk_delete_item_t> deletes(kBatch);
    std::vector<velk_delete_result_t> deleted(kBatch);
    const auto forget_oldest = [&](int batch) {
        if (keep == 0) {
            return;
        }
        if (const auto it = std::find(kept.begin(), kept.end(), batch); it != kept.end()) {
            kept.erase(it);  // put again: the newest
        }
        kept.push_back(batch);
        if (kept.size() <= keep) {
            return;
        }
        for (int i = 0; i < kBatch; ++i) {
            std::memset(&deletes[i], 0, sizeof deletes[i]);
            deletes[i].key = keys[(kept.front() * kBatch + i) % kKeys].c_str();
        }
        kept.pop_front();
        velk_batch_delete_items(client, "bench", deletes.data(), kBatch, deleted.data(), kBatch, nullptr);
    };
    std::vector<double> blocks;
    for (int block = 0; block < 31; ++block) {
        const auto start = std::chrono::steady_clock::now();
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            for (int i = 0; i < kBatch; ++i) {
                const char* key = keys[(cycle * kBatch + i) % kKeys].c_str();
                std::memset(&puts[i], 0, sizeof puts[i]);
                puts[i].key = key;
                puts[i].value_parts = parts;
                puts[i].value_part_lens = lens;
                puts[i].value_part_count = 1;
                std::memset(&gets[i], 0, sizeof gets[i]);
                gets[i].key = key;
                names[i] = key;
            }
            velk_batch_put(client, "bench", puts.data(), kBatch, results.data(), kBatch, nullptr);
            forget_oldest(cycle % (kKeys / kBatch));
            velk_batch_get_into(client, "bench", gets.data(), kBatch, pointers.data(), sizes.data(),
                                statuses.data(), value_lens.data(), nullptr);
            velk_batch_query(client, "bench", names.data(), kBatch, nullptr, found.data(), kBatch);
            velk_query_result_free(found.data(), kBatch);
        }
        blocks.push_back(
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
            kCycles);
    }
    std::nth_element(blocks.begin(), blocks.begin() + 15, blocks.end());
    std::printf("%.0f\n", blocks[15]);
    velk_client_destroy(client);
    return 0;
}
