// SPDX-License-Identifier: MIT
// A program with a miss path, for the miss-ratio curve end to end: two
// handles and a low-level one put, read (one key a call, by get, get-into
// or query), delete and drop a namespace; a read that misses a key the
// handle put (and did not delete) puts it back at once, as a program that
// reloads from its database does.
//
//   reloading record        runs it once (with VELKFAULT_JOURNAL, into a journal)
//   reloading check CURVE   for each point of `velk-journal curve --json`'s
//                           output: the cache mode at that capacity and
//                           policy, the program run again on handles of its
//                           own, and its hits and misses compared
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sized_put.hpp"
#include "velkfault.h"
#include "velkmock.h"

namespace {

struct Handle {
    velk_client* client = nullptr;
    bool low_level = false;
    std::map<std::string, std::uint64_t> put;  // what it put and did not delete

    const char* ns() const { return low_level ? "ll" : "ns"; }
};

void store(Handle& h, const velk_test::SizedItems& items) {
    std::vector<std::int32_t> statuses;
    velk_test::put_sized(h.client, h.low_level ? nullptr : "ns", items, statuses);
    // What its database now holds, stored or refused: what a reload puts.
    for (const auto& item : items) {
        h.put[item.first] = item.second;
    }
}

extern "C" int found_any(int32_t, const void* const*, const uint64_t* lens, const int32_t*, void* data) {
    *static_cast<bool*>(data) = lens[0] > 0;
    return 0;
}

// Whether a read of the key found its value (values are never empty).
bool read(const Handle& h, const std::string& key, unsigned how) {
    const char* keys[] = {key.c_str()};
    velk_get_item_t item{};
    item.key = keys[0];
    if (how == 0) {
        velk_query_result_t result{};
        const int32_t rc = h.low_level ? velk_ll_batch_query(h.client, keys, 1, &result, 1, nullptr)
                                       : velk_batch_query(h.client, "ns", keys, 1, nullptr, &result, 1);
        const bool found = rc == 1 && std::strcmp(result.status, "ok") == 0;
        velk_query_result_free(&result, 1);
        return found;
    }
    if (how == 1 && !h.low_level) {
        bool found = false;
        velk_batch_get(h.client, "ns", &item, 1, found_any, &found, nullptr);
        return found;
    }
    char buffer[512];
    void* buffers[] = {buffer};
    const std::uint64_t sizes[] = {sizeof buffer};
    int32_t status = 0;
    std::uint64_t length = 0;
    const int32_t rc =
        h.low_level
            ? velk_ll_batch_get_into(h.client, keys, 1, buffers, sizes, &status, &length, nullptr)
            : velk_batch_get_into(h.client, "ns", &item, 1, buffers, sizes, &status, &length, nullptr);
    return rc == 0 && length > 0;
}

void remove(Handle& h, const std::string& key, bool flat) {
    const char* keys[] = {key.c_str()};
    int32_t status = -1;
    if (h.low_level) {
        velk_ll_batch_delete(h.client, keys, 1, &status, 1, nullptr, nullptr);
    } else if (flat) {
        velk_batch_delete(h.client, "ns", keys, 1, nullptr, &status, 1, nullptr);
    } else {
        velk_delete_item_t item{};
        item.key = keys[0];
        velk_delete_result_t result{};
        velk_batch_delete_items(h.client, "ns", &item, 1, &result, 1, nullptr);
        status = result.status;
    }
    if (status == 0 || status == VELK_ERR_NOT_FOUND) {
        h.put.erase(key);  // gone, whether the store still had it or not
    }
}

void program() {
    static const int config = 0;
    static const velk_ll_config_t ll_config{"reloading"};
    Handle handles[3];
    handles[0].client = velk_client_create(&config);
    handles[1].client = velk_client_create(&config);
    handles[2].client = velk_ll_create(&ll_config);
    handles[2].low_level = true;
    const velk_namespace_options_t options{2000, "lru", 0};
    velk_create_namespace(handles[0].client, "ns", &options);
    std::mt19937 random(7);
    const auto pick = [&](unsigned n) {
        return static_cast<unsigned>(random() % n);
    };
    for (int step = 0; step < 600; ++step) {
        Handle& h = handles[pick(3)];
        const std::string key = "k" + std::to_string(pick(40));
        const unsigned what = pick(100);
        if (what < 35) {
            velk_test::SizedItems items{{key, 0}};
            for (unsigned n = pick(4); n > 0; --n) {
                items.emplace_back("k" + std::to_string(pick(40)), 0);
            }
            for (auto& item : items) {
                item.second = pick(8) == 0 ? 100 + pick(300) : 5 + pick(60);
            }
            store(h, items);
        } else if (what < 85) {
            if (!read(h, key, pick(3)) && h.put.count(key) > 0) {
                store(h, {{key, h.put[key]}});  // the miss path: put it back
            }
        } else if (what < 98) {
            remove(h, key, pick(2) == 0);
        } else if (!h.low_level) {
            velk_delete_namespace(h.client, "ns");
            h.put.clear();
        }
    }
    for (Handle& h : handles) {
        velk_client_destroy(h.client);
    }
}

struct Point {
    std::string ns;
    std::string policy;
    std::uint64_t capacity = 0;
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
};

// The points of the curve's JSON, one a line as velk-journal writes them.
std::vector<Point> points_of(const char* path) {
    std::vector<Point> points;
    std::ifstream in(path);
    std::string line;
    std::string ns;
    while (std::getline(in, line)) {
        char text[256] = {};
        Point point;
        if (std::sscanf(line.c_str(), " {\"ns\": \"%255[^\"]\"", text) == 1) {
            ns = text;
        } else if (std::sscanf(line.c_str(),
                               " {\"policy\": \"%31[a-z]\", \"capacity\": %" SCNu64 ", \"hits\": %" SCNu64
                               ", \"misses\": %" SCNu64,
                               text, &point.capacity, &point.hits, &point.misses) == 4) {
            point.ns = ns;
            point.policy = text;
            points.push_back(point);
        }
    }
    return points;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "record") == 0) {
        program();
        return 0;
    }
    if (argc != 3 || std::strcmp(argv[1], "check") != 0) {
        std::fprintf(stderr, "usage: reloading record | reloading check CURVE.json\n");
        return 2;
    }
    const std::vector<Point> points = points_of(argv[2]);
    int differ = 0;
    for (const Point& point : points) {
        const std::string rule = point.ns + "=" + std::to_string(point.capacity) + ":" + point.policy;
        velkfault_cache_stats_t before{};
        velkfault_cache_stats_t after{};
        velkfault_cache_stats(nullptr, point.ns.c_str(), &before);
        if (velkfault_cache(rule.c_str()) != 0) {
            std::printf("the cache mode refuses %s\n", rule.c_str());
            return 2;
        }
        program();
        velkfault_cache_stats(nullptr, point.ns.c_str(), &after);
        const std::uint64_t hits = after.hits - before.hits;
        const std::uint64_t misses = after.misses - before.misses;
        if (hits != point.hits || misses != point.misses) {
            ++differ;
            std::printf("%s: the curve says %" PRIu64 " hits, %" PRIu64
                        " misses; the cache mode counted %" PRIu64 ", %" PRIu64 "\n",
                        rule.c_str(), point.hits, point.misses, hits, misses);
        }
    }
    std::printf("%zu points checked, %d differ\n", points.size(), differ);
    return points.empty() || differ != 0 ? 1 : 0;
}
