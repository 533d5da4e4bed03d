// SPDX-License-Identifier: MIT
// libvelkshared against the plainest commands that store, read or remove the
// same bytes on the same server, in the same run, through hiredis: a put of
// 64 values against one MSET (or 64 pipelined SETs, whichever is faster), a
// put of one against SET, get-into against MGET, query against pipelined
// EXISTS, delete against DEL, and two processes putting and reading against
// two plain clients. The baselines keep no metadata, no used bytes and no
// namespace. Blocks of library and baseline calls alternate (the order
// swapped every pair); each figure is a median over the blocks, the ratio
// the median of the per-pair ratios. Server CPU is the server's own clock
// (INFO cpu) over a block, asked on a connection of its own. Also:
// describing and listing namespaces at 10^3 and 10^6 entries. Prints a
// Markdown section; run it through bench/report_shared, which starts a
// private server.
#include <hiredis/hiredis.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

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
constexpr int kPairs = 120;
constexpr int kPerBlock = 8;

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A plain hiredis connection: the baseline's, and the one that asks the
// server for its CPU clock.
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

    void append(const std::vector<const char*>& argv, const std::vector<std::size_t>& lens) {
        redisAppendCommandArgv(context_, static_cast<int>(argv.size()), const_cast<const char**>(argv.data()),
                               lens.data());
        ++pending_;
    }
    // Reads every answer; `each` sees them in order.
    void read(const std::function<void(const redisReply*)>& each = nullptr) {
        for (; pending_ > 0; --pending_) {
            void* reply = nullptr;
            if (redisGetReply(context_, &reply) != REDIS_OK ||
                static_cast<redisReply*>(reply)->type == REDIS_REPLY_ERROR) {
                std::fprintf(stderr, "baseline: %s\n",
                             reply != nullptr ? static_cast<redisReply*>(reply)->str : context_->errstr);
                std::exit(1);
            }
            if (each) {
                each(static_cast<redisReply*>(reply));
            }
            freeReplyObject(reply);
        }
    }
    // The server's CPU clock (user and system), in microseconds.
    double server_cpu_us() {
        auto* reply = static_cast<redisReply*>(redisCommand(context_, "INFO cpu"));
        const char* user = std::strstr(reply->str, "used_cpu_user:");
        const char* sys = std::strstr(reply->str, "used_cpu_sys:");
        const double us = (std::atof(user + 14) + std::atof(sys + 13)) * 1e6;
        freeReplyObject(reply);
        return us;
    }

private:
    redisContext* context_;
    int pending_ = 0;
};

struct Block {
    double wall_us;    // per call
    double server_us;  // per call
};

struct Pair {
    Block library;
    Block baseline;
    double ratio;         // wall
    double server_ratio;  // server CPU
};

// `n` calls of `op`, each after an untimed `prepare` (whose server time is
// taken out with a block of `prepare` alone).
Block block(Raw& clock, const std::function<void()>& op, const std::function<void()>& prepare) {
    double wall = 0;
    const double cpu0 = clock.server_cpu_us();
    for (int i = 0; i < kPerBlock; ++i) {
        if (prepare) {
            prepare();
        }
        const auto start = Clock::now();
        op();
        wall += seconds_since(start) * 1e6;
    }
    double cpu = clock.server_cpu_us() - cpu0;
    if (prepare) {
        const double prep0 = clock.server_cpu_us();
        for (int i = 0; i < kPerBlock; ++i) {
            prepare();
        }
        cpu -= clock.server_cpu_us() - prep0;
    }
    return {wall / kPerBlock, cpu / kPerBlock};
}

Pair paired(Raw& clock, const std::function<void()>& library, const std::function<void()>& baseline,
            const std::function<void()>& library_prepare = nullptr,
            const std::function<void()>& baseline_prepare = nullptr) {
    for (int i = 0; i < 20; ++i) {  // warm both
        if (library_prepare) {
            library_prepare();
        }
        library();
        if (baseline_prepare) {
            baseline_prepare();
        }
        baseline();
    }
    std::vector<double> lw, bw, lc, bc, ratios, server_ratios;
    for (int p = 0; p < kPairs; ++p) {
        Block l{};
        Block b{};
        if (p % 2 == 0) {
            l = block(clock, library, library_prepare);
            b = block(clock, baseline, baseline_prepare);
        } else {
            b = block(clock, baseline, baseline_prepare);
            l = block(clock, library, library_prepare);
        }
        lw.push_back(l.wall_us);
        bw.push_back(b.wall_us);
        lc.push_back(l.server_us);
        bc.push_back(b.server_us);
        ratios.push_back(l.wall_us / b.wall_us);
        server_ratios.push_back(b.server_us > 0 ? l.server_us / b.server_us : 0);
    }
    return {{median(lw), median(lc)}, {median(bw), median(bc)}, median(ratios), median(server_ratios)};
}

struct Data {
    std::vector<std::string> keys;
    std::vector<std::string> plain_keys;  // the baseline's, top-level keys
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
            plain_keys.emplace_back(std::string("bench:plain:") + name);
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

// The plain commands of the baselines.
void mset(Raw& raw, const Data& d, int n) {
    std::vector<const char*> argv{"MSET"};
    std::vector<std::size_t> lens{4};
    for (int i = 0; i < n; ++i) {
        argv.push_back(d.plain_keys[i].data());
        lens.push_back(d.plain_keys[i].size());
        argv.push_back(d.value.data());
        lens.push_back(d.value.size());
    }
    raw.append(argv, lens);
    raw.read();
}
void sets(Raw& raw, const Data& d, int n) {
    for (int i = 0; i < n; ++i) {
        raw.append({"SET", d.plain_keys[i].data(), d.value.data()},
                   {3, d.plain_keys[i].size(), d.value.size()});
    }
    raw.read();
}
void keyed(Raw& raw, const Data& d, const char* command, int n,
           const std::function<void(const redisReply*)>& each) {
    std::vector<const char*> argv{command};
    std::vector<std::size_t> lens{std::strlen(command)};
    for (int i = 0; i < n; ++i) {
        argv.push_back(d.plain_keys[i].data());
        lens.push_back(d.plain_keys[i].size());
    }
    raw.append(argv, lens);
    raw.read(each);
}

// Items per second that two processes move together, each putting a batch
// of 64 and reading it back, for a second; with `library`, through
// libvelkshared (each its own namespace), else through plain clients.
double two_processes(const char* socket, bool library) {
    auto* counts = static_cast<long*>(
        mmap(nullptr, 2 * sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    const auto start = Clock::now() + std::chrono::milliseconds(200);
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = fork();
        if (children[p] == 0) {
            Data d;
            const std::string ns = "two-" + std::to_string(p);
            for (std::string& key : d.plain_keys) {
                key += ":" + ns;
            }
            int config = 0;
            velk_client* client = library ? velk_client_create(&config) : nullptr;
            Raw raw(socket);
            while (Clock::now() < start) {
            }
            long items = 0;
            while (seconds_since(start) < 1.0) {
                if (library) {
                    check(velk_batch_put(client, ns.c_str(), d.puts.data(), kBatch, d.put_results, kBatch,
                                         nullptr),
                          0, "put");
                    check(velk_batch_get_into(client, ns.c_str(), d.gets.data(), kBatch, d.pointers.data(),
                                              d.sizes.data(), d.statuses, d.value_lens, nullptr),
                          0, "get_into");
                } else {
                    mset(raw, d, kBatch);
                    keyed(raw, d, "MGET", kBatch, [&](const redisReply* reply) {
                        for (std::size_t i = 0; i < reply->elements; ++i) {
                            std::memcpy(d.pointers[i], reply->element[i]->str, reply->element[i]->len);
                        }
                    });
                }
                items += 2 * kBatch;
            }
            counts[p] = items;
            velk_client_destroy(client);
            _exit(0);
        }
    }
    for (const pid_t child : children) {
        waitpid(child, nullptr, 0);
    }
    const double rate = static_cast<double>(counts[0] + counts[1]);
    munmap(counts, 2 * sizeof(long));
    return rate;
}

// Namespace get and list at a size, in microseconds per call.
std::pair<double, double> describe_at(velk_client* client) {
    velk_namespace_info_t infos[4];
    int total = 0;
    std::vector<double> get;
    std::vector<double> list;
    for (int i = 0; i < 200; ++i) {
        auto start = Clock::now();
        velk_get_namespace(client, "grow", infos);
        get.push_back(seconds_since(start) * 1e6);
        start = Clock::now();
        velk_list_namespaces(client, infos, 4, &total);
        list.push_back(seconds_since(start) * 1e6);
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

struct Row {
    std::string name;
    std::string baseline;
    Pair pair;
    double goal;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: velkshared_bench SOCKET  (VELKSHARED_URL names the same server)\n");
        return 2;
    }
    const char* socket = argv[1];
    setenv("VELKSHARED_STORE", "bench", 1);
    check(velkshared_clear(nullptr, nullptr), 0, "clear");
    int config = 0;
    velk_client* client = velk_client_create(&config);
    if (client == nullptr) {
        std::perror("velk_client_create");
        return 1;
    }
    Raw raw(socket);
    Raw clock(socket);
    Data d;
    const auto lib_put = [&](int n) {
        check(velk_batch_put(client, "ns", d.puts.data(), n, d.put_results, n, nullptr), 0, "put");
    };
    const auto lib_delete = [&] {
        check(
            velk_batch_delete(client, "ns", d.key_texts.data(), kBatch, nullptr, d.statuses, kBatch, nullptr),
            0, "delete");
    };

    std::vector<Row> rows;
    // A put of 64: the faster of one MSET and 64 pipelined SETs.
    const Pair against_mset = paired(
        clock, [&] { lib_put(kBatch); }, [&] { mset(raw, d, kBatch); });
    const Pair against_sets = paired(
        clock, [&] { lib_put(kBatch); }, [&] { sets(raw, d, kBatch); });
    const bool mset_faster = against_mset.baseline.wall_us <= against_sets.baseline.wall_us;
    rows.push_back({"put 64 x 1 KiB", mset_faster ? "MSET of 64" : "64 pipelined SETs",
                    mset_faster ? against_mset : against_sets, 1.5});
    rows.push_back({"put 1 x 1 KiB", "SET",
                    paired(
                        clock, [&] { lib_put(1); }, [&] { sets(raw, d, 1); }),
                    1.3});
    lib_put(kBatch);
    mset(raw, d, kBatch);
    rows.push_back({"get-into 64", "MGET of 64",
                    paired(
                        clock,
                        [&] {
                            check(velk_batch_get_into(client, "ns", d.gets.data(), kBatch, d.pointers.data(),
                                                      d.sizes.data(), d.statuses, d.value_lens, nullptr),
                                  0, "get_into");
                        },
                        [&] {
                            keyed(raw, d, "MGET", kBatch, [&](const redisReply* reply) {
                                for (std::size_t i = 0; i < reply->elements; ++i) {
                                    std::memcpy(d.pointers[i], reply->element[i]->str,
                                                reply->element[i]->len);
                                }
                            });
                        }),
                    1.15});
    rows.push_back({"query 64", "64 pipelined EXISTS",
                    paired(
                        clock,
                        [&] {
                            check(velk_batch_query(client, "ns", d.key_texts.data(), kBatch, nullptr,
                                                   d.query_results, kBatch),
                                  kBatch, "query");
                            velk_query_result_free(d.query_results, kBatch);
                        },
                        [&] {
                            for (int i = 0; i < kBatch; ++i) {
                                raw.append({"EXISTS", d.plain_keys[i].data()}, {6, d.plain_keys[i].size()});
                            }
                            raw.read();
                        }),
                    1.15});
    rows.push_back({"delete 64", "DEL of 64",
                    paired(
                        clock, lib_delete, [&] { keyed(raw, d, "DEL", kBatch, nullptr); },
                        [&] { lib_put(kBatch); }, [&] { mset(raw, d, kBatch); }),
                    1.5});

    std::vector<double> library_rates;
    std::vector<double> plain_rates;
    for (int round = 0; round < 5; ++round) {
        library_rates.push_back(two_processes(socket, true));
        plain_rates.push_back(two_processes(socket, false));
    }
    const double library_rate = median(library_rates);
    const double plain_rate = median(plain_rates);

    // (VELKSHARED_BENCH_QUICK=1 leaves out the million entries, for runs by hand.)
    const bool quick = std::getenv("VELKSHARED_BENCH_QUICK") != nullptr;
    // After a fill the server goes on rehashing its tables for a while:
    // each size is measured once it is idle again.
    const auto settle = [&] {
        for (int i = 0; i < 100; ++i) {
            const double before = clock.server_cpu_us();
            usleep(200000);
            if (clock.server_cpu_us() - before < 5000) {
                return;
            }
        }
    };
    std::size_t entries = 0;
    grow_to(client, entries, 1000);
    settle();
    const auto small = describe_at(client);
    grow_to(client, entries, quick ? 1000 : 1000000);
    settle();
    const auto large = describe_at(client);

    std::printf("## The shared store against the plainest commands\n\n");
    std::printf(
        "libvelkshared against the plainest commands that store, read or remove the same bytes (1 KiB "
        "values) on the same private redis-server 7.0, through hiredis over a Unix socket on the same "
        "machine, in the same run. The baselines keep no metadata, no used bytes and no namespace, and "
        "are not one atomic step. Blocks of both alternate; each figure is a median over %d blocks of %d "
        "calls, the ratio the median of the per-pair ratios. Server CPU is the server's own clock (INFO "
        "cpu) over a block; a delete's excludes the put that prepares it. Regenerate with "
        "`bench/report_shared`.\n\n",
        kPairs, kPerBlock);
    std::printf(
        "| scenario | baseline | library us | baseline us | wall ratio | library server us | baseline "
        "server us | server ratio | goal (wall) | |\n|---|---|---:|---:|---:|---:|---:|---:|---:|---|\n");
    int missed = 0;
    for (const Row& row : rows) {
        const bool ok = row.pair.ratio <= row.goal;
        missed += ok ? 0 : 1;
        std::printf("| %s | %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f | <= %.2f | %s |\n",
                    row.name.c_str(), row.baseline.c_str(), row.pair.library.wall_us,
                    row.pair.baseline.wall_us, row.pair.ratio, row.pair.library.server_us,
                    row.pair.baseline.server_us, row.pair.server_ratio, row.goal, ok ? "ok" : "MISSED");
    }
    const double two_ratio = plain_rate / library_rate;
    const bool two_ok = two_ratio <= 1.5;
    missed += two_ok ? 0 : 1;
    std::printf(
        "| two processes putting and reading 64 each | two plain clients (MSET, MGET) | %.0f items/s | %.0f "
        "items/s | %.2f | | | | <= 1.50 | %s |\n",
        library_rate, plain_rate, two_ratio, two_ok ? "ok" : "MISSED");
    std::printf(
        "\nWhat the writes pay for. A put and a delete are each one atomic step that keeps the used bytes "
        "exact: a small script reads the old length of every key the call touches (their attributes begin "
        "with it) and keeps the total, and plain HSETs or HDELs in the same transaction do the rest. The "
        "script takes each key as an argument once, and an argument or a call of a script costs the server "
        "more than DEL's whole work on a key: so a delete of 64 costs about twice a DEL, and a put of one "
        "pays the script's fixed cost (about six SETs' worth of server work), between 1.3 and 1.5 of a SET "
        "from run to run on a 2-core machine. Meeting the goals there would cost a promise: the exact total "
        "(computed by walking the entries, a namespace's describe would then grow with them) or the single "
        "step (the lengths read first, then removed under WATCH: two round trips, and more wall time "
        "still).\n");
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
