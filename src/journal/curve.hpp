// SPDX-License-Identifier: MIT
// The miss-ratio curve of a recorded run: per namespace, the hits and misses
// the cache mode would have counted at each capacity.
//
// What "would have" means. The recording answered every read; at a smaller
// capacity some of those keys would have been evicted, and a program with a
// miss path puts such a key back (it reloads it, or recomputes it). So each
// point is what the cache mode counts, at that capacity and policy, for the
// recorded calls, with one addition: at each miss of a key the recording
// found and had stored through the same handle, the program puts the key
// back at once with the value the recording holds, as a put call of its own.
// Reads the recording did not find are misses at every capacity; reads of
// keys stored elsewhere (another process, or before the recording) are hits
// at every capacity, as the cache mode counts them.
//
// Why the reload: without it, a key evicted at a small capacity stays out
// while at a larger one the same read hits and refreshes it, so a larger
// cache can evict what a smaller one keeps; with it, "lru" is a stack
// algorithm again (every entry a cache keeps, a larger one keeps too), and
// its curve is exact at every capacity in one pass.
//
// "lru": one pass over the uses. For each read of a known entry, the most
// bytes its own entry and the entries used since it ever weighed at the end
// of a put call (or of a reload) is the smallest capacity that keeps it:
// a segment tree over the times of last use gives that as a running maximum
// of suffix sums, O(log n) per use. This is exact at every capacity that
// refuses no item, that is from the largest value stored up; an item larger
// than the capacity is refused while an older entry for its key stays,
// which no single pass can model (an entry can then survive at one capacity
// and not at a larger one), so below the largest value "lru" is given at up
// to eight of the grid capacities, each simulated exactly like the other
// policies.
// "fifo", "lfu", "random": the grid, 64 capacities from the smallest value
// stored to the most known bytes any one cache of the namespace held,
// spaced evenly on a log scale, each simulated with the cache mode's own
// code (src/faults/cache.cpp).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "faults/cache.hpp"
#include "faults/cache_engine.hpp"

namespace velkfault::curve {

using cache::Policy;
using cache::Seen;
// A key, numbered by the reader; numbers dense within a namespace cost least.
using Key = std::uint32_t;

// The calls one handle made on one namespace, in the order they began, as
// the recording answered them.
class Trace {
public:
    enum class Kind : std::uint8_t { Store, EndPut, Read, Remove, Clear };
    struct Op {
        std::uint64_t size;
        Key key;
        Kind kind;
        Seen seen;
    };

    // A put item the recording stored (items it did not store are left out),
    // then the end of its put call (every put call has one).
    void store(Key key, std::uint64_t size) { ops_.push_back({size, key, Kind::Store, Seen::Found}); }
    void end_put() { ops_.push_back({0, 0, Kind::EndPut, Seen::Found}); }
    // A get, get-into or query item with a key, as the cache mode would see
    // it (cache::Seen).
    void read(Key key, Seen seen) { ops_.push_back({0, key, Kind::Read, seen}); }
    // A delete item whose status was 0.
    void remove(Key key) { ops_.push_back({0, key, Kind::Remove, Seen::Found}); }
    // The namespace deleted, or the handle destroyed.
    void clear() { ops_.push_back({0, 0, Kind::Clear, Seen::Found}); }
    // A successful create or update: the capacity it declared.
    void declare(std::int64_t capacity) { declared_ = capacity; }

    const std::vector<Op>& ops() const noexcept { return ops_; }
    std::int64_t declared() const noexcept { return declared_; }

private:
    std::vector<Op> ops_;
    std::int64_t declared_ = 0;
};

// A namespace: one trace per handle that used it.
struct Namespace {
    std::string name;
    std::vector<Trace> caches;
};

struct Point {
    Policy policy;
    std::uint64_t capacity;
    std::uint64_t hits;
    std::uint64_t misses;
};

struct Curve {
    std::string ns;
    std::uint64_t uses = 0;               // the recording's: stored put items and reads that found their key
    std::uint64_t reads = 0;              // read items with a key: hits + misses at every point
    std::uint64_t exact_from = 0;         // lru is exact at every capacity from here up
    std::vector<std::uint64_t> declared;  // the declared capacities above 0, each once
    std::vector<Point> points;            // by policy as asked, then by capacity
};

struct Options {
    std::vector<Policy> policies{Policy::Lru};
    std::uint64_t seed = 1;
};

// The capacities of the grid: `count` of them from lo to hi, evenly spaced
// on a log scale (lo * (hi / lo)^(i / (count - 1)), rounded), each once.
std::vector<std::uint64_t> grid(std::uint64_t lo, std::uint64_t hi, unsigned count = 64);

// What the cache mode counts for one trace at one capacity and policy.
cache::Stats simulate(const Trace& trace, std::uint64_t capacity, Policy policy, std::uint64_t seed);

Curve compute(const Namespace& ns, const Options& options);

// {"namespaces": [{"ns": ..., "uses": N, "points": [{"policy": ...,
// "capacity": N, "hits": N, "misses": N}]}]}
std::string to_json(std::span<const Curve> curves);

}  // namespace velkfault::curve
