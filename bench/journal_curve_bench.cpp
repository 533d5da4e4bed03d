// SPDX-License-Identifier: MIT
// What velk-journal curve costs beside reading the journal it draws from:
// for a journal (bench/report_cache records the journal benchmark's calls,
// values none), the processor time of reading it (the index, then every
// call line parsed, as velk-journal reads lines) and of its curves (the
// same reading, the traces, the lru curve of each namespace and its JSON;
// then all four policies). Medians of five runs, in milliseconds of the
// whole process's processor time (the lines are parsed on a thread of
// their own).
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "cpu_time.hpp"
#include "journal/curve.hpp"
#include "velk_journal/ahead.hpp"
#include "velk_journal/curve_reader.hpp"
#include "velk_journal/input.hpp"

namespace {

std::size_t curves(const std::string& path, const velkfault::curve::Options& options) {
    velkjournal::Journal journal(path);
    std::string json;
    for (const velkfault::curve::Namespace& ns : velkjournal::read_traces(journal, std::nullopt)) {
        const velkfault::curve::Curve curve = velkfault::curve::compute(ns, options);
        json += velkfault::curve::to_json(std::span(&curve, 1));
    }
    return json.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: velkmock_journal_curve_bench JOURNAL\n");
        return 2;
    }
    const std::string path = argv[1];
    std::size_t lines = 0;
    const double read = bench::median_ms([&] {
        velkjournal::Journal journal(path);
        std::vector<std::size_t> order(journal.calls().size());
        std::iota(order.begin(), order.end(), 0);
        velkjournal::Ahead ahead(journal, order);
        lines = 0;
        for (std::size_t i = 0; i < order.size(); ++i) {
            lines += ahead.next().is_object() ? 1 : 0;
        }
    });
    std::uint64_t uses = 0;
    {
        velkjournal::Journal journal(path);
        for (const velkfault::curve::Namespace& ns : velkjournal::read_traces(journal, std::nullopt)) {
            uses += velkfault::curve::compute(ns, {}).uses;
        }
    }
    using velkfault::cache::Policy;
    const double lru = bench::median_ms([&] { curves(path, {{Policy::Lru}, 1}); });
    const double all = bench::median_ms([&] {
        curves(path, {{Policy::Lru, Policy::Fifo, Policy::Lfu, Policy::Random}, 1});
    });
    std::printf("lines %zu\nuses %llu\nread_ms %.0f\nlru_ms %.0f\nall_ms %.0f\n", lines,
                static_cast<unsigned long long>(uses), read, lru, all);
    return 0;
}
