// SPDX-License-Identifier: MIT
// Benchmarks of the library side by side with a baseline: the simplest
// in-process store that does the same logical work per item (an outer map of
// namespaces, an inner map of keys to byte vectors, one mutex, string_view
// lookups). Each library benchmark is registered right next to its baseline
// twin, so both run in the same process, on the same data, back to back;
// bench/report turns the pairs into ratios.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "colliding_keys.hpp"
#include "velkmock.h"

namespace {

constexpr const char* kNs = "bench-namespace-0001";  // 20 bytes
constexpr const char* kMetaNs = "bench-namespace-meta";
constexpr int kMaxBatch = 64;

std::string key_name(size_t i) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "bench-key-%014zu", i);  // 24 bytes
    return buffer;
}

// ---------------------------------------------------------------------------
// The baseline store.
// ---------------------------------------------------------------------------

struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};
using Values = std::unordered_map<std::string, std::vector<unsigned char>, Hash, std::equal_to<>>;

class Baseline {
public:
    void put(const char* ns, const char* const* keys, const void* value, size_t length, int n) {
        const std::lock_guard guard(lock_);
        Values& values = space(ns);
        const auto* bytes = static_cast<const unsigned char*>(value);
        for (int i = 0; i < n; ++i) {
            const auto it = values.find(std::string_view(keys[i]));
            if (it == values.end()) {
                values.emplace(keys[i], std::vector<unsigned char>(bytes, bytes + length));
            } else {
                it->second.assign(bytes, bytes + length);
            }
        }
    }
    template <class Callback>
    void get(const char* ns, const char* const* keys, int n, Callback&& callback) {
        const void* values[kMaxBatch];
        uint64_t lengths[kMaxBatch];
        const std::lock_guard guard(lock_);
        const Values* space = find(ns);
        for (int i = 0; i < n; ++i) {
            const auto it = space->find(std::string_view(keys[i]));
            values[i] = it != space->end() ? it->second.data() : nullptr;
            lengths[i] = it != space->end() ? it->second.size() : 0;
        }
        callback(n, values, lengths);
    }
    void get_into(const char* ns, const char* const* keys, int n, void* const* buffers, const uint64_t* sizes,
                  uint64_t* lengths) {
        const std::lock_guard guard(lock_);
        const Values* space = find(ns);
        for (int i = 0; i < n; ++i) {
            const auto it = space->find(std::string_view(keys[i]));
            lengths[i] = it != space->end() ? it->second.size() : 0;
            if (it != space->end() && it->second.size() <= sizes[i]) {
                std::memcpy(buffers[i], it->second.data(), it->second.size());
            }
        }
    }
    void query(const char* ns, const char* const* keys, int n, uint64_t* lengths) {
        const std::lock_guard guard(lock_);
        const Values* space = find(ns);
        for (int i = 0; i < n; ++i) {
            const auto it = space->find(std::string_view(keys[i]));
            lengths[i] = it != space->end() ? it->second.size() : 0;
        }
    }
    void erase(const char* ns, const char* const* keys, int n) {
        const std::lock_guard guard(lock_);
        Values& values = space(ns);
        for (int i = 0; i < n; ++i) {
            const auto it = values.find(std::string_view(keys[i]));
            if (it != values.end()) {
                values.erase(it);
            }
        }
    }

private:
    Values& space(const char* ns) {
        const auto it = spaces_.find(std::string_view(ns));
        return it != spaces_.end() ? it->second : spaces_.emplace(ns, Values{}).first->second;
    }
    const Values* find(const char* ns) const { return &spaces_.find(std::string_view(ns))->second; }

    std::mutex lock_;
    std::unordered_map<std::string, Values, Hash, std::equal_to<>> spaces_;
};

// ---------------------------------------------------------------------------
// Data sets: the same keys, in the same (shuffled) order, in both stores.
// ---------------------------------------------------------------------------

struct Dataset {
    Dataset(size_t key_count, size_t value_size) : keys(key_count), value(value_size, 'v') {
        std::vector<size_t> order(key_count);
        for (size_t i = 0; i < key_count; ++i) {
            order[i] = i;
        }
        // Keys as a caller holding them in std::strings has them: each its
        // own heap text, allocated in an order unrelated to the one they are
        // stored and read in, so that reading a key text is a cache miss of
        // its own (allocated in sequence, neighbouring texts would share
        // lines and pages).
        std::shuffle(order.begin(), order.end(), std::mt19937_64(7));
        names.resize(key_count);
        for (const size_t i : order) {
            names[i] = key_name(i);
        }
        for (size_t i = 0; i < key_count; ++i) {
            order[i] = i;
        }
        std::shuffle(order.begin(), order.end(), std::mt19937_64(42));
        // Doubled up to a batch past the end, so a batch starting anywhere is
        // one contiguous window.
        for (size_t i = 0; i < key_count + kMaxBatch; ++i) {
            order_keys.push_back(names[order[i % key_count]].c_str());
        }
        parts[0] = value.data();
        lens[0] = value.size();
        lens64[0] = value.size();
        for (const char* key : order_keys) {
            put_items.push_back(put_item(key, false));
            meta_items.push_back(put_item(key, true));
            velk_get_item_t get{};
            get.key = key;
            get_items.push_back(get);
            delete_items.push_back({key, 0, 0});
            ll_items.push_back({key, parts, lens64, 1});
        }
        // Stored in an order of their own: filled in the order they are
        // read, the entries of one batch would sit side by side in memory.
        for (size_t i = 0; i < key_count; ++i) {
            order[i] = i;
        }
        std::shuffle(order.begin(), order.end(), std::mt19937_64(1234));
        for (size_t i = 0; i < key_count; ++i) {
            const char* key = names[order[i]].c_str();
            fill_keys.push_back(key);
            fill_items.push_back(put_item(key, false));
            fill_meta_items.push_back(put_item(key, true));
        }
        static const int config = 0;
        client = velk_client_create(&config);
        refill(kNs);
    }
    ~Dataset() { velk_client_destroy(client); }

    // A put of the data set's value under `key`, with two metadata pairs or
    // none.
    velk_put_item_t put_item(const char* key, bool with_metadata) const {
        velk_put_item_t put{};
        put.key = key;
        put.value_parts = parts;
        put.value_part_lens = lens;
        put.value_part_count = 1;
        put.metadata = with_metadata ? pairs : nullptr;
        put.metadata_count = with_metadata ? 2 : 0;
        return put;
    }

    // Puts every key into both stores.
    void refill(const char* ns) {
        velk_put_result_t results[kMaxBatch];
        for (size_t i = 0; i < keys; i += kMaxBatch) {
            const int n = static_cast<int>(std::min<size_t>(kMaxBatch, keys - i));
            velk_batch_put(client, ns, &fill_items[i], n, results, n, nullptr);
            baseline.put(ns, &fill_keys[i], value.data(), value.size(), n);
        }
    }
    void ensure(const char* ns) {
        const std::lock_guard guard(extra_lock);
        if (ns == std::string(kMetaNs) && !meta_filled) {
            velk_put_result_t results[kMaxBatch];
            for (size_t i = 0; i < keys; i += kMaxBatch) {
                const int n = static_cast<int>(std::min<size_t>(kMaxBatch, keys - i));
                velk_batch_put(client, ns, &fill_meta_items[i], n, results, n, nullptr);
            }
            baseline.put(ns, fill_keys.data(), value.data(), value.size(), static_cast<int>(keys));
            meta_filled = true;
        } else if (ns == std::string("ll") && !ll_filled) {
            refill("ll");
            ll_filled = true;
        }
    }

    size_t keys;
    std::string value;
    std::vector<std::string> names;
    std::vector<const char*> order_keys;
    std::vector<const char*> fill_keys;
    std::vector<velk_put_item_t> fill_items;
    std::vector<velk_put_item_t> fill_meta_items;
    const void* parts[1];
    size_t lens[1];
    uint64_t lens64[1];
    velk_meta_pair_t pairs[2] = {{"team", "blue"}, {"tier", "gold"}};
    std::vector<velk_put_item_t> put_items;
    std::vector<velk_put_item_t> meta_items;
    std::vector<velk_get_item_t> get_items;
    std::vector<velk_delete_item_t> delete_items;
    std::vector<velk_ll_put_item_t> ll_items;
    velk_client* client = nullptr;
    Baseline baseline;
    std::mutex extra_lock;
    bool meta_filled = false;
    bool ll_filled = false;
};

// Data sets are built once and shared by every benchmark that uses them.
Dataset& dataset(size_t keys, size_t value_size, int copy = 0) {
    static std::mutex lock;
    static std::map<std::tuple<size_t, size_t, int>, std::unique_ptr<Dataset>> cache;
    const std::lock_guard guard(lock);
    auto& slot = cache[{keys, value_size, copy}];
    if (!slot) {
        slot = std::make_unique<Dataset>(keys, value_size);
    }
    return *slot;
}

// Per-thread output space for the reading families.
struct Outputs {
    explicit Outputs(size_t value_size) : storage(kMaxBatch * (value_size + 1)) {
        for (int i = 0; i < kMaxBatch; ++i) {
            buffers[i] = &storage[i * (value_size + 1)];
            sizes[i] = value_size + 1;
        }
    }
    std::vector<unsigned char> storage;
    void* buffers[kMaxBatch];
    uint64_t sizes[kMaxBatch];
    int32_t statuses[kMaxBatch];
    uint64_t lens[kMaxBatch];
    velk_put_result_t put_results[kMaxBatch];
    velk_delete_result_t delete_results[kMaxBatch];
    velk_query_result_t query_results[kMaxBatch];
};

int consume(int32_t count, const void* const* values, const uint64_t* lens, const int32_t*, void*) {
    for (int32_t i = 0; i < count; ++i) {
        benchmark::DoNotOptimize(values[i]);
        benchmark::DoNotOptimize(lens[i]);
    }
    return 0;
}

// A baseline copy of the library's metadata hand-over: the same blocks,
// from the same allocator, released the same way.
void baseline_meta_copies(int n, bool found) {
    for (int i = 0; i < n && found; ++i) {
        auto* pairs = static_cast<velk_meta_pair_t*>(std::calloc(2, sizeof(velk_meta_pair_t)));
        pairs[0] = {strdup("team"), strdup("blue")};
        pairs[1] = {strdup("tier"), strdup("gold")};
        auto* detail = std::calloc(1, sizeof(velk_query_detail_t));
        benchmark::DoNotOptimize(detail);
        for (int j = 0; j < 2; ++j) {
            std::free(const_cast<char*>(pairs[j].key));
            std::free(const_cast<char*>(pairs[j].value));
        }
        std::free(pairs);
        std::free(detail);
    }
}

enum class Family { Put, Get, GetInto, Query, QueryMeta, Delete, LlPut, LlGetInto };
const char* family_name(Family f) {
    switch (f) {
        case Family::Put:
            return "put";
        case Family::Get:
            return "get";
        case Family::GetInto:
            return "get_into";
        case Family::Query:
            return "query";
        case Family::QueryMeta:
            return "query_meta_details";
        case Family::Delete:
            return "delete";
        case Family::LlPut:
            return "ll_put";
        case Family::LlGetInto:
            return "ll_get_into";
    }
    return "?";
}

// One batch of one family, on the library or on the baseline. Kept out of
// line so that instruction counts (callgrind --toggle-collect) see exactly
// one batch per call.
[[gnu::noinline]] void run_batch(Family family, bool library, Dataset& d, Outputs& out, size_t at, int n) {
    const char* const* keys = &d.order_keys[at];
    switch (family) {
        case Family::Put:
        case Family::LlPut:
            if (!library) {
                d.baseline.put(family == Family::Put ? kNs : "ll", keys, d.value.data(), d.value.size(), n);
            } else if (family == Family::Put) {
                velk_batch_put(d.client, kNs, &d.put_items[at], n, out.put_results, n, nullptr);
            } else {
                velk_ll_batch_put(d.client, &d.ll_items[at], n, out.put_results, n, nullptr, nullptr);
            }
            break;
        case Family::Get:
            if (library) {
                velk_batch_get(d.client, kNs, &d.get_items[at], n, consume, nullptr, nullptr);
            } else {
                d.baseline.get(kNs, keys, n, [](int count, const void* const* values, const uint64_t* lens) {
                    consume(count, values, lens, nullptr, nullptr);
                });
            }
            break;
        case Family::GetInto:
        case Family::LlGetInto:
            if (!library) {
                d.baseline.get_into(family == Family::GetInto ? kNs : "ll", keys, n, out.buffers, out.sizes,
                                    out.lens);
            } else if (family == Family::GetInto) {
                velk_batch_get_into(d.client, kNs, &d.get_items[at], n, out.buffers, out.sizes, out.statuses,
                                    out.lens, nullptr);
            } else {
                velk_ll_batch_get_into(d.client, keys, n, out.buffers, out.sizes, out.statuses, out.lens,
                                       nullptr);
            }
            break;
        case Family::Query:
            if (library) {
                velk_batch_query(d.client, kNs, keys, n, nullptr, out.query_results, n);
            } else {
                d.baseline.query(kNs, keys, n, out.lens);
            }
            break;
        case Family::QueryMeta:
            if (library) {
                const velk_query_options_t options{0, 1};
                velk_batch_query(d.client, kMetaNs, keys, n, &options, out.query_results, n);
                velk_query_result_free(out.query_results, n);
            } else {
                d.baseline.query(kMetaNs, keys, n, out.lens);
                baseline_meta_copies(n, true);
            }
            break;
        case Family::Delete:
            if (library) {
                velk_batch_delete_items(d.client, kNs, &d.delete_items[at], n, out.delete_results, n,
                                        nullptr);
            } else {
                d.baseline.erase(kNs, keys, n);
            }
            break;
    }
    benchmark::ClobberMemory();
}

void bench_family(benchmark::State& state, Family family, bool library, size_t keys, size_t value_size,
                  int batch) {
    Dataset& d = dataset(keys, value_size);
    if (family == Family::QueryMeta) {
        d.ensure(kMetaNs);
    } else if (family == Family::LlPut || family == Family::LlGetInto) {
        d.ensure("ll");
    }
    Outputs out(value_size);
    size_t at = 0;
    for (auto _ : state) {
        run_batch(family, library, d, out, at, batch);
        at += batch;
        if (at >= keys) {
            at -= keys;
            if (family == Family::Delete) {
                // Deleted keys come back between passes, off the clock.
                state.PauseTiming();
                d.refill(kNs);
                state.ResumeTiming();
            }
        }
    }
    if (family == Family::Delete) {
        d.refill(kNs);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.SetBytesProcessed(family == Family::Query || family == Family::QueryMeta || family == Family::Delete
                                ? 0
                                : state.iterations() * batch * static_cast<int64_t>(value_size));
}

// The data movement of get-into (many stored values into one buffer) or of
// put (one buffer into many stored values), over as many distinct buffers
// as the library's working set, so both meet the same caches.
void bench_memcpy(benchmark::State& state, size_t size, size_t count, bool scatter) {
    std::vector<std::vector<unsigned char>> many(count, std::vector<unsigned char>(size, 'v'));
    std::vector<unsigned char> one(size, 'w');
    size_t at = 0;
    for (auto _ : state) {
        unsigned char* stored = many[at].data();
        if (scatter) {
            std::memcpy(stored, one.data(), size);
        } else {
            std::memcpy(one.data(), stored, size);
        }
        benchmark::ClobberMemory();
        at = at + 1 == count ? 0 : at + 1;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

// Paired measurement: blocks of library batches and blocks of baseline
// batches alternate (in alternating order), each block timed on its own, and
// the ratio reported is the median of the per-pair ratios. Both sides meet
// the machine at the same moment, which matters on shared machines whose
// speed drifts by tens of percent within seconds. With `versus_memcpy` the
// baseline is memcpy of the same sizes over as many distinct buffers.
void bench_paired(benchmark::State& state, Family family, size_t keys, size_t value_size, int batch,
                  bool versus_memcpy, int copy = 0) {
    using Clock = std::chrono::steady_clock;
    Dataset& d = dataset(keys, value_size, copy);
    if (family == Family::QueryMeta) {
        d.ensure(kMetaNs);
    } else if (family == Family::LlPut || family == Family::LlGetInto) {
        d.ensure("ll");
    }
    Outputs out(value_size);
    std::vector<std::vector<unsigned char>> sources;
    if (versus_memcpy) {
        sources.assign(keys, std::vector<unsigned char>(value_size, 'v'));
    }
    const bool scatter = family == Family::Put || family == Family::LlPut;
    auto run_block = [&](bool library, size_t at, size_t block) {
        for (size_t k = 0; k < block; ++k) {
            const size_t position = (at + k * batch) % keys;
            if (library || !versus_memcpy) {
                run_batch(family, library, d, out, position, batch);
            } else if (scatter) {
                std::memcpy(sources[position].data(), out.storage.data(), value_size);
            } else {
                std::memcpy(out.storage.data(), sources[position].data(), value_size);
            }
        }
        benchmark::ClobberMemory();
    };
    // Blocks of about 20 microseconds: long enough to time, short enough
    // that both sides of a pair see the same machine.
    const auto probe_start = Clock::now();
    run_block(true, 0, 8);
    const double per_batch = std::chrono::duration<double, std::nano>(Clock::now() - probe_start).count() / 8;
    const size_t block = std::clamp<size_t>(static_cast<size_t>(20000 / std::max(per_batch, 1.0)), 1, 4096);
    if (family == Family::Delete) {
        d.refill(kNs);
    }

    std::vector<double> lib_ns, base_ns, ratios;
    size_t at = 0;
    size_t pair = 0;
    for (auto _ : state) {
        double took[2] = {0, 0};
        for (int turn = 0; turn < 2; ++turn) {
            const bool library = (turn == 0) == (pair % 2 == 0);
            const auto start = Clock::now();
            run_block(library, at, block);
            took[library ? 0 : 1] = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        }
        lib_ns.push_back(took[0] / block);
        base_ns.push_back(took[1] / block);
        ratios.push_back(took[0] / took[1]);
        ++pair;
        at += block * batch;
        if (at >= keys) {
            at %= keys;
            if (family == Family::Delete) {
                d.refill(kNs);  // between pairs, off both clocks
            }
        }
    }
    if (family == Family::Delete) {
        d.refill(kNs);
    }
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    // Averaged, not summed, over the threads of a threaded run.
    state.counters["lib_ns"] = benchmark::Counter(median(lib_ns), benchmark::Counter::kAvgThreads);
    state.counters["base_ns"] = benchmark::Counter(median(base_ns), benchmark::Counter::kAvgThreads);
    state.counters["ratio"] = benchmark::Counter(median(ratios), benchmark::Counter::kAvgThreads);
}

// Scaling: each thread on a handle (or baseline store) of its own, or all
// threads on one.
void bench_threads(benchmark::State& state, bool library, bool shared) {
    Dataset& d = dataset(1000, 16, shared ? 0 : 1 + state.thread_index());
    Outputs out(16);
    size_t at = 0;
    for (auto _ : state) {
        run_batch(Family::GetInto, library, d, out, at, kMaxBatch);
        at = (at + kMaxBatch) % d.keys;
    }
    state.SetItemsProcessed(state.iterations() * kMaxBatch);
}

// Describing a namespace: its used bytes are kept as a running total, so
// the cost should not depend on how many entries it holds.
void bench_namespace_info(benchmark::State& state, bool list, size_t entries) {
    Dataset& d = dataset(entries, 16);
    velk_namespace_info_t infos[4];
    int total = 0;
    for (auto _ : state) {
        if (list) {
            velk_list_namespaces(d.client, infos, 4, &total);
        } else {
            velk_get_namespace(d.client, kNs, infos);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// Heap bytes in use: the arena's and the blocks large enough to be mapped
// on their own (a table of 10^6 slots is).
size_t heap_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Heap bytes per stored entry: 10^6 entries of 100 bytes under 24-byte keys.
void bench_memory(benchmark::State& state, bool library) {
    constexpr size_t kEntries = 1000000;
    for (auto _ : state) {
        const size_t before = heap_in_use();
        std::vector<std::string> names;
        names.reserve(kEntries);
        for (size_t i = 0; i < kEntries; ++i) {
            names.push_back(key_name(i));
        }
        const size_t names_bytes = heap_in_use() - before;
        const std::string value(100, 'v');
        const size_t start = heap_in_use();
        static const int config = 0;
        velk_client* client = library ? velk_client_create(&config) : nullptr;
        auto baseline = library ? nullptr : std::make_unique<Baseline>();
        const void* parts[] = {value.data()};
        const size_t lens[] = {value.size()};
        velk_put_result_t results[kMaxBatch];
        velk_put_item_t items[kMaxBatch] = {};
        const char* keys[kMaxBatch];
        for (size_t i = 0; i < kEntries; i += kMaxBatch) {
            const int n = static_cast<int>(std::min<size_t>(kMaxBatch, kEntries - i));
            for (int j = 0; j < n; ++j) {
                items[j].key = keys[j] = names[i + j].c_str();
                items[j].value_parts = parts;
                items[j].value_part_lens = lens;
                items[j].value_part_count = 1;
            }
            if (library) {
                velk_batch_put(client, kNs, items, n, results, n, nullptr);
            } else {
                baseline->put(kNs, keys, value.data(), value.size(), n);
            }
        }
        const size_t used = heap_in_use() - start;
        state.counters["bytes_per_entry"] = static_cast<double>(used) / kEntries;
        state.counters["key_text_bytes"] = static_cast<double>(names_bytes) / kEntries;
        velk_client_destroy(client);
    }
}

using Configure = std::function<void(benchmark::internal::Benchmark*)>;

// Keys built to collide under std::hash, against ordinary keys of the same
// length: putting 20,000 of them into a fresh handle, and reading 2,000
// ordinary keys that sit beside them against the same keys alone.
constexpr size_t kHostileKeys = 20000;
constexpr size_t kNeighbours = 2000;

const std::vector<std::string>& hostile_keys(bool colliding) {
    static const std::vector<std::string> bad = velk_test::colliding_keys(kHostileKeys);
    static const std::vector<std::string> good = [] {
        std::vector<std::string> keys;
        for (size_t i = 0; i < kHostileKeys; ++i) {
            char text[17];
            std::snprintf(text, sizeof text, "o%015zu", i);  // 16 bytes, like the colliding ones
            keys.emplace_back(text);
        }
        return keys;
    }();
    return colliding ? bad : good;
}

void put_keys(velk_client* client, const char* ns, const std::vector<std::string>& keys) {
    const std::string value(16, 'v');
    const void* parts[] = {value.data()};
    const size_t lens[] = {value.size()};
    velk_put_item_t items[kMaxBatch] = {};
    velk_put_result_t results[kMaxBatch];
    for (size_t at = 0; at < keys.size(); at += kMaxBatch) {
        const int n = static_cast<int>(std::min<size_t>(kMaxBatch, keys.size() - at));
        for (int i = 0; i < n; ++i) {
            items[i].key = keys[at + static_cast<size_t>(i)].c_str();
            items[i].value_parts = parts;
            items[i].value_part_lens = lens;
            items[i].value_part_count = 1;
        }
        velk_batch_put(client, ns, items, n, results, n, nullptr);
    }
}

void bench_hostile_put(benchmark::State& state, bool colliding) {
    const auto& keys = hostile_keys(colliding);
    static const int config = 0;
    for (auto _ : state) {
        velk_client* client = velk_client_create(&config);
        put_keys(client, kNs, keys);
        state.PauseTiming();
        velk_client_destroy(client);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

void bench_hostile_neighbours(benchmark::State& state, bool beside_colliding) {
    static const int config = 0;
    velk_client* client = velk_client_create(&config);
    const std::vector<std::string> neighbours(hostile_keys(false).begin(),
                                              hostile_keys(false).begin() + kNeighbours);
    if (beside_colliding) {
        put_keys(client, kNs, hostile_keys(true));
    }
    put_keys(client, kNs, neighbours);
    std::vector<velk_get_item_t> items(kNeighbours);
    for (size_t i = 0; i < kNeighbours; ++i) {
        items[i].key = neighbours[i].c_str();
    }
    char buffers[kMaxBatch][16];
    void* pointers[kMaxBatch];
    uint64_t sizes[kMaxBatch];
    for (int i = 0; i < kMaxBatch; ++i) {
        pointers[i] = buffers[i];
        sizes[i] = sizeof buffers[i];
    }
    int32_t statuses[kMaxBatch];
    uint64_t lens[kMaxBatch];
    for (auto _ : state) {
        for (size_t at = 0; at + kMaxBatch <= kNeighbours; at += kMaxBatch) {
            velk_batch_get_into(client, kNs, items.data() + at, kMaxBatch, pointers, sizes, statuses, lens,
                                nullptr);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kNeighbours / kMaxBatch * kMaxBatch));
    velk_client_destroy(client);
}

// Describing a namespace of one key that once held 2^20, against one that
// never held more than that key; heap_bytes shows what the emptied one keeps.
void bench_namespace_emptied(benchmark::State& state, bool emptied) {
    static const int config = 0;
    const size_t before = heap_in_use();
    velk_client* client = velk_client_create(&config);
    constexpr size_t kOnce = size_t{1} << 20;
    std::vector<std::string> keys;
    for (size_t i = 0; i < (emptied ? kOnce : 1); ++i) {
        keys.push_back(key_name(i));
    }
    put_keys(client, kNs, keys);
    std::vector<const char*> doomed;
    for (size_t i = 1; i < keys.size(); ++i) {
        doomed.push_back(keys[i].c_str());
    }
    int32_t statuses[kMaxBatch];
    for (size_t at = 0; at < doomed.size(); at += kMaxBatch) {
        const int n = static_cast<int>(std::min<size_t>(kMaxBatch, doomed.size() - at));
        velk_batch_delete(client, kNs, doomed.data() + at, n, nullptr, statuses, n, nullptr);
    }
    std::vector<const char*>().swap(doomed);
    std::vector<std::string>().swap(keys);
    const size_t kept = heap_in_use() - std::min(before, heap_in_use());
    velk_namespace_info_t info;
    for (auto _ : state) {
        velk_get_namespace(client, kNs, &info);
        benchmark::ClobberMemory();
    }
    state.counters["heap_bytes"] = static_cast<double>(kept);
    state.SetItemsProcessed(state.iterations());
    velk_client_destroy(client);
}

void register_pair(const std::string& name, const std::function<void(benchmark::State&, bool)>& body,
                   const Configure& configure = {}) {
    for (const bool library : {true, false}) {
        auto* b = benchmark::RegisterBenchmark((name + (library ? "/lib" : "/base")).c_str(),
                                               [body, library](benchmark::State& s) { body(s, library); });
        if (configure) {
            configure(b);
        }
    }
}

void register_all() {
    const Family all[] = {Family::Put,       Family::Get,    Family::GetInto, Family::Query,
                          Family::QueryMeta, Family::Delete, Family::LlPut,   Family::LlGetInto};
    // Paired ratios: what bench/report tabulates.
    auto paired = [](Family f, size_t keys, size_t value_size, int batch, bool versus_memcpy) {
        const std::string name = std::string(versus_memcpy ? "paired_memcpy/" : "paired/") + family_name(f) +
                                 "/v:" + std::to_string(value_size) + "/b:" + std::to_string(batch) +
                                 "/n:" + std::to_string(keys);
        benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) {
            bench_paired(s, f, keys, value_size, batch, versus_memcpy);
        })->Iterations(1500);
    };
    for (const size_t value_size : {16, 1024}) {
        for (const int batch : {1, 64}) {
            for (const Family f : all) {
                paired(f, 1000, value_size, batch, false);
            }
        }
        for (const Family f : all) {
            paired(f, 1000000, value_size, 64, false);
        }
    }
    for (const auto& [value_size, keys] : {std::pair<size_t, size_t>{65536, 1000}, {1 << 20, 64}}) {
        for (const Family f : {Family::Put, Family::GetInto, Family::LlPut, Family::LlGetInto}) {
            paired(f, keys, value_size, 1, false);
            paired(f, keys, value_size, 1, true);
        }
    }
    // Scaling, paired too: each thread alternates library and baseline blocks
    // on a handle and a store of its own. The library scales as well as the
    // baseline when its ratio with two threads busy equals its ratio alone.
    for (const int threads : {1, 2}) {
        benchmark::RegisterBenchmark(("paired_threads/own_handles/t:" + std::to_string(threads)).c_str(),
                                     [](benchmark::State& s) {
                                         bench_paired(s, Family::GetInto, 1000, 16, 64, false,
                                                      1 + s.thread_index());
                                     })
            ->Threads(threads)
            ->Iterations(1500);
    }
    // 10^3 keys: cache-resident, the library's own overhead shows.
    for (const size_t value_size : {16, 1024}) {
        for (const int batch : {1, 64}) {
            for (const Family f : all) {
                register_pair(
                    std::string(family_name(f)) + "/v:" + std::to_string(value_size) +
                        "/b:" + std::to_string(batch) + "/n:1000",
                    [=](benchmark::State& s, bool lib) { bench_family(s, f, lib, 1000, value_size, batch); });
            }
        }
    }
    // 10^6 keys: memory-bound lookups. One pass for delete, so every key
    // deleted was present.
    for (const size_t value_size : {16, 1024}) {
        for (const Family f : {Family::Put, Family::Get, Family::GetInto, Family::Query, Family::Delete}) {
            register_pair(
                std::string(family_name(f)) + "/v:" + std::to_string(value_size) + "/b:64/n:1000000",
                [=](benchmark::State& s, bool lib) { bench_family(s, f, lib, 1000000, value_size, 64); },
                [f](benchmark::internal::Benchmark* b) {
                    if (f == Family::Delete) {
                        b->Iterations(1000000 / 64);
                    }
                });
        }
    }
    // Large values: bandwidth against memcpy.
    for (const auto& [value_size, keys] : {std::pair<size_t, size_t>{65536, 1000}, {1 << 20, 64}}) {
        for (const Family f : {Family::Put, Family::Get, Family::GetInto, Family::LlPut, Family::LlGetInto}) {
            register_pair(
                std::string(family_name(f)) + "/v:" + std::to_string(value_size) +
                    "/b:1/n:" + std::to_string(keys),
                [=](benchmark::State& s, bool lib) { bench_family(s, f, lib, keys, value_size, 1); });
        }
        for (const bool scatter : {false, true}) {
            benchmark::RegisterBenchmark(
                ((scatter ? "memcpy_scatter/v:" : "memcpy_gather/v:") + std::to_string(value_size)).c_str(),
                [size = value_size, n = keys, scatter](benchmark::State& s) {
                    bench_memcpy(s, size, n, scatter);
                });
        }
    }
    // Threads.
    for (const int threads : {1, 2}) {
        register_pair(
            "threads/own_handles/t:" + std::to_string(threads),
            [](benchmark::State& s, bool lib) { bench_threads(s, lib, false); },
            [threads](benchmark::internal::Benchmark* b) {
                b->Threads(threads)->UseRealTime()->MinTime(0.5);
            });
    }
    register_pair(
        "threads/one_handle/t:2", [](benchmark::State& s, bool lib) { bench_threads(s, lib, true); },
        [](benchmark::internal::Benchmark* b) { b->Threads(2)->UseRealTime()->MinTime(0.5); });
    // Namespace descriptions as a namespace grows.
    for (const size_t entries : {1000, 10000, 100000, 1000000}) {
        benchmark::RegisterBenchmark(("namespace_get/entries:" + std::to_string(entries)).c_str(),
                                     [=](benchmark::State& s) { bench_namespace_info(s, false, entries); });
        benchmark::RegisterBenchmark(("namespace_list/entries:" + std::to_string(entries)).c_str(),
                                     [=](benchmark::State& s) { bench_namespace_info(s, true, entries); });
    }
    for (const bool colliding : {true, false}) {
        benchmark::RegisterBenchmark(colliding ? "hostile_put/colliding" : "hostile_put/ordinary",
                                     [=](benchmark::State& s) { bench_hostile_put(s, colliding); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            colliding ? "hostile_neighbours/beside_colliding" : "hostile_neighbours/alone",
            [=](benchmark::State& s) { bench_hostile_neighbours(s, colliding); });
        benchmark::RegisterBenchmark(colliding ? "namespace_emptied/emptied" : "namespace_emptied/fresh",
                                     [=](benchmark::State& s) { bench_namespace_emptied(s, colliding); });
    }
    register_pair(
        "memory/entries:1000000", [](benchmark::State& s, bool lib) { bench_memory(s, lib); },
        [](benchmark::internal::Benchmark* b) { b->Iterations(1); });
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
