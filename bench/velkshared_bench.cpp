// SPDX-License-Identifier: MIT
// libvelkshared against raw hiredis on the same server, in the same run:
// each library batch is paired with the same data written or read by plain
// pipelined commands (which do less: no metadata, no used bytes, no
// atomicity). Blocks of library and baseline batches alternate, and the
// ratio is the median of the per-pair ratios. Also: describing and listing
// namespaces at 10^3 and 10^6 entries. Prints a Markdown section; run it
// through bench/report_shared, which starts a private server.
#include <hiredis/hiredis.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "velkshared.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBatch = 64;
constexpr std::size_t kValue = 1024;
const char* const kBaseHash = "bench:baseline";

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

double time_block(const std::function<void()>& body, int repeat) {
    const auto start = Clock::now();
    for (int i = 0; i < repeat; ++i) {
        body();
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / repeat;
}

struct Pair {
    double library_us;
    double baseline_us;
    double ratio;
};

// Alternating blocks, the order swapped every pair, so both sides meet the
// machine (and the server) in the same state.
Pair paired(const std::function<void()>& library, const std::function<void()>& baseline) {
    constexpr int kPairs = 300;
    constexpr int kRepeat = 3;
    library();
    baseline();
    std::vector<double> lib;
    std::vector<double> base;
    std::vector<double> ratios;
    for (int p = 0; p < kPairs; ++p) {
        double l = 0;
        double b = 0;
        if (p % 2 == 0) {
            l = time_block(library, kRepeat);
            b = time_block(baseline, kRepeat);
        } else {
            b = time_block(baseline, kRepeat);
            l = time_block(library, kRepeat);
        }
        lib.push_back(l);
        base.push_back(b);
        ratios.push_back(l / b);
    }
    return {median(lib), median(base), median(ratios)};
}

class Raw {
public:
    explicit Raw(const char* socket) : context_(redisConnectUnix(socket)) {
        if (context_ == nullptr || context_->err != 0) {
            std::fprintf(stderr, "cannot connect to %s\n", socket);
            std::exit(1);
        }
    }
    ~Raw() { redisFree(context_); }
    Raw(const Raw&) = delete;
    Raw& operator=(const Raw&) = delete;

    // Sends n commands back to back, then reads the n answers.
    template <class Each>
    void pipeline(int n, Each&& each) {
        for (int i = 0; i < n; ++i) {
            const char* argv[4];
            std::size_t lens[4];
            const int argc = each(i, argv, lens);
            redisAppendCommandArgv(context_, argc, argv, lens);
        }
        for (int i = 0; i < n; ++i) {
            void* reply = nullptr;
            if (redisGetReply(context_, &reply) != REDIS_OK) {
                std::fprintf(stderr, "baseline: %s\n", context_->errstr);
                std::exit(1);
            }
            replies_.push_back(static_cast<redisReply*>(reply));
        }
    }
    std::vector<redisReply*>& replies() { return replies_; }
    void release() {
        for (redisReply* reply : replies_) {
            freeReplyObject(reply);
        }
        replies_.clear();
    }

private:
    redisContext* context_;
    std::vector<redisReply*> replies_;
};

struct Data {
    std::vector<std::string> keys;
    std::vector<const char*> key_texts;
    std::string value = std::string(kValue, 'v');
    std::vector<velk_put_item_t> puts;
    std::vector<velk_get_item_t> gets;
    const void* parts[1] = {nullptr};
    std::size_t lens[1] = {kValue};
    std::vector<std::string> buffers = std::vector<std::string>(kBatch, std::string(kValue, '\0'));
    std::vector<void*> pointers = std::vector<void*>(kBatch);
    std::vector<uint64_t> sizes = std::vector<uint64_t>(kBatch, kValue);
    int32_t statuses[kBatch] = {};
    uint64_t value_lens[kBatch] = {};
    velk_put_result_t put_results[kBatch];
    velk_query_result_t query_results[kBatch];

    Data() {
        parts[0] = value.data();
        for (int i = 0; i < kBatch; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "bench-key-%06d", i);
            keys.emplace_back(name);
            pointers[i] = buffers[i].data();
        }
        for (int i = 0; i < kBatch; ++i) {
            key_texts.push_back(keys[i].c_str());
            velk_put_item_t put{};
            put.key = key_texts[i];
            put.value_parts = parts;
            put.value_part_lens = lens;
            put.value_part_count = 1;
            puts.push_back(put);
            velk_get_item_t get{};
            get.key = key_texts[i];
            gets.push_back(get);
        }
    }
};

void check(int rc, int want, const char* what) {
    if (rc != want) {
        std::fprintf(stderr, "%s: %d %s\n", what, rc, velkshared_last_error());
        std::exit(1);
    }
}

// Namespace get and list at a size, in microseconds per call.
std::pair<double, double> describe_at(velk_client* client) {
    velk_namespace_info_t infos[4];
    int total = 0;
    std::vector<double> get;
    std::vector<double> list;
    for (int i = 0; i < 200; ++i) {
        get.push_back(time_block([&] { velk_get_namespace(client, "grow", infos); }, 1));
        list.push_back(time_block([&] { velk_list_namespaces(client, infos, 4, &total); }, 1));
    }
    return {median(get), median(list)};
}

void grow_to(velk_client* client, std::size_t& have, std::size_t want) {
    constexpr int kFill = 1000;
    std::vector<std::string> names(kFill);
    std::vector<velk_put_item_t> items(kFill);
    std::vector<velk_put_result_t> results(kFill);
    static const char value[16] = "0123456789abcde";
    const void* parts[] = {value};
    const std::size_t lens[] = {sizeof value};
    while (have < want) {
        for (int i = 0; i < kFill; ++i) {
            names[i] = "grow-" + std::to_string(have + static_cast<std::size_t>(i));
            items[i] = velk_put_item_t{};
            items[i].key = names[i].c_str();
            items[i].value_parts = parts;
            items[i].value_part_lens = lens;
            items[i].value_part_count = 1;
        }
        check(velk_batch_put(client, "grow", items.data(), kFill, results.data(), kFill, nullptr), 0, "fill");
        have += kFill;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: velkshared_bench SOCKET  (VELKSHARED_URL names the same server)\n");
        return 2;
    }
    setenv("VELKSHARED_STORE", "bench", 1);
    check(velkshared_clear(nullptr, nullptr), 0, "clear");
    int config = 0;
    velk_client* client = velk_client_create(&config);
    if (client == nullptr) {
        std::perror("velk_client_create");
        return 1;
    }
    Raw raw(argv[1]);
    Data d;

    struct Row {
        std::string name;
        Pair pair;
    };
    std::vector<Row> rows;
    for (const int n : {kBatch, 1}) {
        const std::string batch = "/v:1024/b:" + std::to_string(n);
        rows.push_back({"put" + batch, paired(
                                           [&] {
                                               check(velk_batch_put(client, "ns", d.puts.data(), n,
                                                                    d.put_results, n, nullptr),
                                                     0, "put");
                                           },
                                           [&] {
                                               raw.pipeline(n, [&](int i, const char** a, std::size_t* l) {
                                                   a[0] = "HSET";
                                                   l[0] = 4;
                                                   a[1] = kBaseHash;
                                                   l[1] = std::strlen(kBaseHash);
                                                   a[2] = d.key_texts[i];
                                                   l[2] = d.keys[i].size();
                                                   a[3] = d.value.data();
                                                   l[3] = d.value.size();
                                                   return 4;
                                               });
                                               raw.release();
                                           })});
        rows.push_back({"get_into" + batch,
                        paired(
                            [&] {
                                check(velk_batch_get_into(client, "ns", d.gets.data(), n, d.pointers.data(),
                                                          d.sizes.data(), d.statuses, d.value_lens, nullptr),
                                      0, "get_into");
                            },
                            [&] {
                                raw.pipeline(n, [&](int i, const char** a, std::size_t* l) {
                                    a[0] = "HGET";
                                    l[0] = 4;
                                    a[1] = kBaseHash;
                                    l[1] = std::strlen(kBaseHash);
                                    a[2] = d.key_texts[i];
                                    l[2] = d.keys[i].size();
                                    return 3;
                                });
                                for (int i = 0; i < n; ++i) {
                                    const redisReply* reply = raw.replies()[static_cast<std::size_t>(i)];
                                    if (reply->type == REDIS_REPLY_STRING && reply->len <= kValue) {
                                        std::memcpy(d.pointers[i], reply->str, reply->len);
                                    }
                                }
                                raw.release();
                            })});
        rows.push_back({"query" + batch, paired(
                                             [&] {
                                                 check(velk_batch_query(client, "ns", d.key_texts.data(), n,
                                                                        nullptr, d.query_results, n),
                                                       n, "query");
                                                 velk_query_result_free(d.query_results, n);
                                             },
                                             [&] {
                                                 raw.pipeline(n, [&](int i, const char** a, std::size_t* l) {
                                                     a[0] = "HSTRLEN";
                                                     l[0] = 7;
                                                     a[1] = kBaseHash;
                                                     l[1] = std::strlen(kBaseHash);
                                                     a[2] = d.key_texts[i];
                                                     l[2] = d.keys[i].size();
                                                     return 3;
                                                 });
                                                 raw.release();
                                             })});
    }

    std::size_t entries = 0;
    grow_to(client, entries, 1000);
    const auto small = describe_at(client);
    grow_to(client, entries, 1000000);
    const auto large = describe_at(client);

    std::printf("## The shared store against raw hiredis\n\n");
    std::printf(
        "libvelkshared against plain pipelined commands through hiredis (HSET, HGET, HSTRLEN of the same "
        "keys "
        "and 1 KiB values) on the same private redis-server 7.0, over a Unix socket on the same machine, in "
        "the same run. The baseline does less: no metadata, no used bytes, no atomic step. Blocks of both "
        "alternate; the ratio is the median of the per-pair ratios. Regenerate with "
        "`bench/report_shared`.\n\n");
    std::printf(
        "| scenario | library us/batch | baseline us/batch | ratio | goal | "
        "|\n|---|---:|---:|---:|---:|---|\n");
    int missed = 0;
    for (const Row& row : rows) {
        const bool ok = row.pair.ratio <= 1.5;
        missed += ok ? 0 : 1;
        std::printf("| %s | %.1f | %.1f | %.2f | <= 1.5 | %s |\n", row.name.c_str(), row.pair.library_us,
                    row.pair.baseline_us, row.pair.ratio, ok ? "ok" : "MISSED");
    }
    std::printf(
        "\nDescribing a namespace as it grows (the used bytes are a running total): microseconds per "
        "call, medians of 200.\n\n");
    std::printf(
        "| entries | get (us) | list (us) | get / 10^3 | list / 10^3 | goal | |\n"
        "|---:|---:|---:|---:|---:|---:|---|\n");
    std::printf("| 1000 | %.1f | %.1f | 1.00 | 1.00 | | |\n", small.first, small.second);
    const double get_growth = large.first / small.first;
    const double list_growth = large.second / small.second;
    const bool flat = get_growth <= 2 && list_growth <= 2;
    missed += flat ? 0 : 1;
    std::printf("| 1000000 | %.1f | %.1f | %.2f | %.2f | <= 2 | %s |\n", large.first, large.second,
                get_growth, list_growth, flat ? "ok" : "MISSED");
    std::fprintf(stderr, "%d goal(s) missed\n", missed);
    check(velkshared_clear(nullptr, nullptr), 0, "clear");
    velk_client_destroy(client);
    return 0;
}
