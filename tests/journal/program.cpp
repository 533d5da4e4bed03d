// SPDX-License-Identifier: MIT
// Calls from several threads at once, each on a handle of its own, every
// answer checked: run with a journal (VELKFAULT_JOURNAL) whose lines must
// come out whole, or with one that cannot be written, which must change no
// answer. Two of the threads meet inside a call, so that at least one
// call overlaps another however busy the machine is. Exits 0 when every
// answer was right.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "velkmock.h"

namespace {

// Thread 0 waits inside a get's callback until thread 1 has made a call.
std::atomic<bool> waiting{false};
std::atomic<bool> met{false};

void wait_for(const std::atomic<bool>& flag) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!flag.load() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::yield();
    }
}

extern "C" int meet(int32_t, const void* const*, const uint64_t*, const int32_t*, void*) {
    waiting = true;
    wait_for(met);
    return 0;
}

void meeting(int thread, velk_client* client) {
    if (thread == 0) {
        velk_get_item_t item;
        std::memset(&item, 0, sizeof item);
        item.key = "none";
        velk_batch_get(client, "meeting", &item, 1, meet, nullptr, nullptr);
    } else if (thread == 1) {
        wait_for(waiting);
        velk_get_nodes(client, nullptr, nullptr, 0);
        met = true;
    }
}

}  // namespace

int main() {
    constexpr int kThreads = 4;
    constexpr int kRounds = 150;
    std::atomic<int> wrong{0};
    // The threads start their calls together, so that some overlap even on
    // a machine busy with other work.
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong, &ready] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            const int config = 0;
            velk_client* client = velk_client_create(&config);
            if (client == nullptr) {
                ++wrong;
                return;
            }
            meeting(t, client);
            const std::string ns = "thread-" + std::to_string(t);
            for (int round = 0; round < kRounds; ++round) {
                const std::string key = "key-" + std::to_string(round % 7);
                const std::string value = std::string(1 + round % 13, static_cast<char>('a' + t));
                const void* parts[] = {value.data()};
                const size_t lens[] = {value.size()};
                velk_put_item_t item;
                std::memset(&item, 0, sizeof item);
                item.key = key.c_str();
                item.value_parts = parts;
                item.value_part_lens = lens;
                item.value_part_count = 1;
                velk_put_result_t result;
                wrong += velk_batch_put(client, ns.c_str(), &item, 1, &result, 1, nullptr) != VELK_OK;
                velk_get_item_t get;
                std::memset(&get, 0, sizeof get);
                get.key = key.c_str();
                char buffer[32] = {};
                void* buffers[] = {buffer};
                const uint64_t sizes[] = {sizeof buffer};
                int32_t status = 0;
                uint64_t length = 0;
                wrong += velk_batch_get_into(client, ns.c_str(), &get, 1, buffers, sizes, &status, &length,
                                             nullptr) != VELK_OK ||
                         value != std::string(buffer, length);
                const char* keys[] = {key.c_str()};
                velk_query_result_t found[1];
                wrong += velk_batch_query(client, ns.c_str(), keys, 1, nullptr, found, 1) != 1 ||
                         found[0].value_len != value.size();
                velk_query_result_free(found, 1);
            }
            velk_client_destroy(client);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::printf("journal program: %d wrong answers\n", wrong.load());
    return wrong == 0 ? 0 : 1;
}
