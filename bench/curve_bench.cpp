// SPDX-License-Identifier: MIT
// The cost of the miss-ratio curve and of the cache mode's engine. A
// recorded run of 10^6 uses on one handle's namespace: put batches of 64
// (one use in five) and get batches of 64 over 100,000 keys, the keys read
// drawn from a Zipf-like law (skew 0.9), some deleted. Prints the median
// milliseconds over 5 runs of the lru curve (values all 100 bytes, and
// values of 1 B to 4 KiB, which adds the simulations below the largest
// value), of the fifo curve (64 simulations), and the engine's nanoseconds
// per item on the same calls.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cpu_time.hpp"
#include "faults/cache_engine.hpp"
#include "journal/curve.hpp"

namespace {

using velkfault::curve::Key;
using velkfault::curve::Trace;

constexpr int kUses = 1000000;
constexpr int kKeys = 100000;
constexpr int kBatch = 64;

struct Call {
    bool put;
    std::vector<std::pair<Key, std::uint64_t>> items;
};

std::vector<Call> calls(bool varied) {
    std::mt19937_64 random(42);
    // Key k is read with a weight of 1 / (k + 1)^0.9.
    std::vector<double> cumulative(kKeys);
    double total = 0;
    for (int key = 0; key < kKeys; ++key) {
        total += std::pow(key + 1.0, -0.9);
        cumulative[key] = total;
    }
    const auto zipf = [&] {
        const double u = std::uniform_real_distribution<double>(0, total)(random);
        return static_cast<Key>(std::min<std::ptrdiff_t>(
            kKeys - 1, std::upper_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin()));
    };
    const auto size = [&]() -> std::uint64_t {
        if (!varied) {
            return 100;
        }
        return static_cast<std::uint64_t>(std::exp2(std::uniform_real_distribution<double>(0, 12)(random)));
    };
    std::vector<Call> out;
    for (int uses = 0; uses < kUses; uses += kBatch) {
        Call call{random() % 5 == 0, {}};
        for (int i = 0; i < kBatch; ++i) {
            call.items.emplace_back(call.put ? static_cast<Key>(random() % kKeys) : zipf(), size());
        }
        out.push_back(std::move(call));
    }
    return out;
}

Trace trace_of(const std::vector<Call>& run) {
    Trace trace;
    std::vector<std::uint8_t> stored(kKeys, 0);
    for (const Call& call : run) {
        for (const auto& [key, size] : call.items) {
            if (call.put) {
                trace.store(key, size);
                stored[key] = 1;
            } else {
                trace.read(
                    key, stored[key] != 0 ? velkfault::cache::Seen::Found : velkfault::cache::Seen::NotFound);
            }
        }
        if (call.put) {
            trace.end_put();
            trace.remove(call.items.front().first);  // a delete now and then
            stored[call.items.front().first] = 0;
        }
    }
    return trace;
}

}  // namespace

int main() {
    for (const bool varied : {false, true}) {
        const std::vector<Call> run = calls(varied);
        velkfault::curve::Namespace ns{"bench", {trace_of(run)}};
        std::size_t points = 0;
        const double lru = bench::median_ms([&] {
            points = velkfault::curve::compute(ns, {{velkfault::cache::Policy::Lru}, 1}).points.size();
        });
        std::printf("%s values: lru curve of %d uses: %.1f ms (%zu points)\n",
                    varied ? "1 B to 4 KiB" : "100-byte", kUses, lru, points);
        if (!varied) {
            const double fifo = bench::median_ms([&] {
                velkfault::curve::compute(ns, {{velkfault::cache::Policy::Fifo}, 1});
            });
            std::printf("100-byte values: fifo curve (64 simulations): %.1f ms\n", fifo);
        }
    }
    // The engine on the same calls, keys as text, a bound that evicts.
    const std::vector<Call> run = calls(false);
    std::vector<std::string> names;
    for (int key = 0; key < kKeys; ++key) {
        names.push_back("bench-key-" + std::to_string(key));
    }
    const double engine = bench::median_ms([&] {
        velkfault::cache::Engine cache;
        cache.configure("bench=1048576:lru");
        const int handle = 0;
        std::vector<velkfault::cache::PutItem> puts(kBatch);
        std::vector<velkfault::cache::ReadItem> reads(kBatch);
        for (const Call& call : run) {
            for (int i = 0; i < kBatch; ++i) {
                const char* key = names[call.items[i].first].c_str();
                puts[i] = {key, call.items[i].second, velkfault::cache::Fate::Stored};
                reads[i] = {key, velkfault::cache::Seen::Found};
            }
            if (call.put) {
                cache.stored(&handle, "bench", puts);
            } else {
                cache.read(&handle, "bench", reads);
            }
        }
    });
    std::printf("engine: %.1f ns per item (puts and gets of 64, lru, 1 MiB)\n", engine * 1e6 / kUses);
    return 0;
}
