// SPDX-License-Identifier: MIT
#include "journal/curve.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace velkfault::curve {
namespace {

constexpr std::uint32_t kNoSlot = UINT32_MAX;

// Per slot i (a time of last use, oldest first): V_i, the bytes of the live
// entries whose last use is at i or later, and H_i, the most V_i was at any
// snapshot since slot i was taken. Range additions to V and the snapshot of
// every slot are lazy: a node's tag says "add a; the most the additions came
// to at a snapshot was m", and composes with its children's.
//
// A new entry takes the newest slot, and its bytes count in every slot
// taken: an addition to the root, O(1). The slots not yet taken receive it
// too, so each slot remembers what the root had received when it was taken
// and subtracts that; what they received before is at most that, so their
// H starts at or below 0, under any real snapshot. A read then costs one
// path: the entry's H, and its bytes out of its slot and the older ones.
class PeakTree {
public:
    void reset(std::size_t slots) {
        size_ = slots;
        nodes_.assign(2 * slots, Node{0, kNoPeak});
        std::fill(nodes_.begin() + static_cast<std::ptrdiff_t>(slots), nodes_.end(), Node{0, 0});
        base_.assign(slots, 0);
        added_ = 0;
    }
    std::size_t size() const noexcept { return size_; }

    // Slot `slot`, the newest, is taken by an entry of `bytes`.
    void enter(std::size_t slot, std::int64_t bytes) noexcept {
        base_[slot] = added_;
        apply(1, bytes, kNoPeak);
        added_ += bytes;
    }

    // H at `slot`, whose entry of `bytes` leaves it (and the older slots).
    std::int64_t take(std::size_t slot, std::int64_t bytes) noexcept {
        std::size_t node = 1;
        std::size_t lo = 0;
        std::size_t hi = size_ - 1;
        while (lo != hi) {
            push(node);
            const std::size_t mid = (lo + hi) / 2;
            if (slot > mid) {
                apply(2 * node, -bytes, kNoPeak);
                node = 2 * node + 1;
                lo = mid + 1;
            } else {
                node = 2 * node;
                hi = mid;
            }
        }
        nodes_[node].add -= bytes;
        return nodes_[node].peak - base_[slot];
    }

    void snapshot() noexcept { apply(1, 0, 0); }

    // The slots' (V, H), once every tag is pushed down to them.
    void settle() noexcept {
        for (std::size_t node = 1; node < size_; ++node) {
            push(node);
        }
    }
    std::pair<std::int64_t, std::int64_t> leaf(std::size_t slot) const noexcept {
        const Node& node = nodes_[size_ + slot];
        return {node.add - base_[slot], node.peak - base_[slot]};
    }
    void set_leaf(std::size_t slot, std::pair<std::int64_t, std::int64_t> value) noexcept {
        nodes_[size_ + slot] = Node{value.first, value.second};
    }

private:
    static constexpr std::int64_t kNoPeak = std::numeric_limits<std::int64_t>::min();

    // A node's tag; at a leaf, add is V and peak is H, and the same rule
    // updates both. Side by side, so a node's two children share a line.
    struct Node {
        std::int64_t add;
        std::int64_t peak;
    };
    void apply(std::size_t node, std::int64_t add, std::int64_t peak) noexcept {
        Node& target = nodes_[node];
        if (peak != kNoPeak) {
            target.peak = std::max(target.peak, target.add + peak);
        }
        target.add += add;
    }
    void push(std::size_t node) noexcept {
        const Node tag = nodes_[node];
        if (tag.add == 0 && tag.peak == kNoPeak) {
            return;
        }
        apply(2 * node, tag.add, tag.peak);
        apply(2 * node + 1, tag.add, tag.peak);
        nodes_[node] = Node{0, kNoPeak};
    }

    std::size_t size_ = 0;
    std::vector<Node> nodes_;
    std::vector<std::int64_t> base_;  // per slot: what the root had received when it was taken
    std::int64_t added_ = 0;
};

// What one pass over a trace learns: for lru, the smallest capacity that
// keeps each read's entry (the read hits at every capacity from there up,
// while no item is refused), and the trace's sizes and counts.
struct Pass {
    std::vector<std::uint64_t> thresholds;  // sorted
    std::uint64_t unknown_hits = 0;         // found, not stored through this handle: hits at every capacity
    std::uint64_t reads = 0;
    std::uint64_t uses = 0;
    std::uint64_t smallest = UINT64_MAX;  // the smallest value above 0 stored
    std::uint64_t largest = 0;
    std::uint64_t peak = 0;  // the most bytes stored and not deleted, after any put call

    std::uint64_t hits_at(std::uint64_t capacity) const {
        return unknown_hits +
               static_cast<std::uint64_t>(std::upper_bound(thresholds.begin(), thresholds.end(), capacity) -
                                          thresholds.begin());
    }
};

// The recording's entries: which keys it holds, at what size.
struct Held {
    enum : std::uint8_t { kNever, kHeld, kGone };  // kGone: listed in `listed`, no longer held
    std::vector<std::uint8_t> state;
    std::vector<std::uint64_t> size;
    std::vector<Key> listed;  // the keys held at some time since the last clear

    bool holds(Key key) const noexcept { return key < state.size() && state[key] == kHeld; }
    // A read as the cache mode decides it: found, or nothing reported for
    // a key held with an empty value.
    bool found(const Trace::Op& op) const noexcept {
        return op.seen == Seen::Found || (op.seen == Seen::Nothing && holds(op.key) && size[op.key] == 0);
    }
    void hold(Key key, std::uint64_t bytes) {
        if (key >= state.size()) {
            const std::size_t to = std::max<std::size_t>(static_cast<std::size_t>(key) + 1, 2 * state.size());
            state.resize(to, kNever);
            size.resize(to, 0);
        }
        if (state[key] == kNever) {
            listed.push_back(key);
        }
        state[key] = kHeld;
        size[key] = bytes;
    }
    void drop(Key key) noexcept { state[key] = kGone; }
    void clear() noexcept {
        for (const Key key : listed) {
            state[key] = kNever;
        }
        listed.clear();
    }
};

class LruPass {
public:
    LruPass() { tree_.reset(16); }

    Pass run(const Trace& trace) {
        for (const Trace::Op& op : trace.ops()) {
            switch (op.kind) {
                case Trace::Kind::Store:
                    ++pass_.uses;
                    pass_.largest = std::max(pass_.largest, op.size);
                    if (op.size > 0) {
                        pass_.smallest = std::min(pass_.smallest, op.size);
                    }
                    if (held_.holds(op.key)) {
                        leave(op.key);
                        known_ -= held_.size[op.key];
                    }
                    held_.hold(op.key, op.size);
                    known_ += op.size;
                    enter(op.key);
                    break;
                case Trace::Kind::EndPut:
                    tree_.snapshot();
                    pass_.peak = std::max(pass_.peak, known_);
                    break;
                case Trace::Kind::Read:
                    ++pass_.reads;
                    if (!held_.found(op)) {
                        break;
                    }
                    ++pass_.uses;
                    if (!held_.holds(op.key)) {
                        ++pass_.unknown_hits;
                        break;
                    }
                    pass_.thresholds.push_back(static_cast<std::uint64_t>(leave(op.key)));
                    enter(op.key);
                    // Where the read missed, the reload's put call ends here.
                    tree_.snapshot();
                    break;
                case Trace::Kind::Remove:
                    if (held_.holds(op.key)) {
                        leave(op.key);
                        known_ -= held_.size[op.key];
                        held_.drop(op.key);
                    }
                    break;
                case Trace::Kind::Clear:
                    held_.clear();
                    known_ = 0;
                    slot_key_.clear();
                    tree_.reset(16);
                    break;
            }
        }
        std::sort(pass_.thresholds.begin(), pass_.thresholds.end());
        return std::move(pass_);
    }

private:
    // The key leaves its slot; returns that slot's H.
    std::int64_t leave(Key key) {
        const std::uint32_t slot = slot_of_[key];
        slot_key_[slot] = kNoSlot;
        return tree_.take(slot, static_cast<std::int64_t>(held_.size[key]));
    }
    // The key takes the newest slot, its size counted in every older one.
    void enter(Key key) {
        if (slot_key_.size() == tree_.size()) {
            compact();
        }
        if (key >= slot_of_.size()) {
            slot_of_.resize(held_.state.size(), kNoSlot);
        }
        const auto slot = static_cast<std::uint32_t>(slot_key_.size());
        slot_key_.push_back(key);
        slot_of_[key] = slot;
        tree_.enter(slot, static_cast<std::int64_t>(held_.size[key]));
    }
    // The live slots move to the front, in order, in a tree with room for as
    // many again: O(slots), once per that many uses.
    void compact() {
        tree_.settle();
        std::vector<std::pair<std::int64_t, std::int64_t>> leaves;
        std::vector<std::uint32_t> keys;
        for (std::size_t slot = 0; slot < slot_key_.size(); ++slot) {
            if (slot_key_[slot] != kNoSlot) {
                leaves.push_back(tree_.leaf(slot));
                keys.push_back(slot_key_[slot]);
            }
        }
        tree_.reset(std::bit_ceil(std::max<std::size_t>(16, 2 * keys.size() + 2)));
        slot_key_.clear();
        for (std::size_t i = 0; i < keys.size(); ++i) {
            tree_.set_leaf(i, leaves[i]);
            slot_key_.push_back(keys[i]);
            slot_of_[keys[i]] = static_cast<std::uint32_t>(i);
        }
    }

    Pass pass_;
    Held held_;
    std::uint64_t known_ = 0;
    PeakTree tree_;
    std::vector<Key> slot_key_;  // the key in each slot taken, or kNoSlot
    std::vector<std::uint32_t> slot_of_;
};

}  // namespace

std::vector<std::uint64_t> grid(std::uint64_t lo, std::uint64_t hi, unsigned count) {
    std::vector<std::uint64_t> capacities;
    if (lo == 0 || hi < lo || count == 0) {
        return capacities;
    }
    const double ratio = std::log(static_cast<double>(hi) / static_cast<double>(lo));
    for (unsigned i = 0; i < count; ++i) {
        const double step = count == 1 ? 0.0 : static_cast<double>(i) / static_cast<double>(count - 1);
        auto capacity =
            static_cast<std::uint64_t>(std::llround(static_cast<double>(lo) * std::exp(ratio * step)));
        capacity = i + 1 == count ? hi : std::clamp(capacity, lo, hi);
        if (capacities.empty() || capacity > capacities.back()) {
            capacities.push_back(capacity);
        }
    }
    return capacities;
}

cache::Stats simulate(const Trace& trace, std::uint64_t capacity, Policy policy, std::uint64_t seed) {
    cache::Cache cache(seed);
    cache.configure(capacity, policy);
    Held held;
    std::vector<cache::Cache::Victim> victims;
    const auto put = [&](Key key, std::uint64_t size) {
        if (cache.refuses(size)) {
            cache.refuse();
        } else {
            cache.store(key, size);
        }
    };
    for (const Trace::Op& op : trace.ops()) {
        switch (op.kind) {
            case Trace::Kind::Store:
                held.hold(op.key, op.size);
                put(op.key, op.size);
                break;
            case Trace::Kind::EndPut:
                victims.clear();
                cache.end_put(victims);
                break;
            case Trace::Kind::Read:
                if (!held.found(op)) {
                    cache.miss();
                } else if (!held.holds(op.key)) {
                    cache.hit_unknown();
                } else if (cache.knows(op.key)) {
                    cache.hit(op.key);
                } else {
                    cache.miss();  // and the program puts it back
                    put(op.key, held.size[op.key]);
                    victims.clear();
                    cache.end_put(victims);
                }
                break;
            case Trace::Kind::Remove:
                if (held.holds(op.key)) {
                    cache.forget(op.key);
                    held.drop(op.key);
                }
                break;
            case Trace::Kind::Clear:
                cache.clear();
                held.clear();
                break;
        }
    }
    return cache.stats();
}

Curve compute(const Namespace& ns, const Options& options) {
    Curve curve;
    curve.ns = ns.name;
    std::vector<Pass> passes;
    std::uint64_t lo = UINT64_MAX;
    std::uint64_t hi = 0;
    std::uint64_t exact = 0;  // the largest value stored
    for (const Trace& trace : ns.caches) {
        passes.push_back(LruPass().run(trace));
        const Pass& pass = passes.back();
        curve.uses += pass.uses;
        curve.reads += pass.reads;
        lo = std::min(lo, pass.smallest);
        hi = std::max(hi, pass.peak);
        exact = std::max(exact, pass.largest);
        if (trace.declared() > 0) {
            curve.declared.push_back(static_cast<std::uint64_t>(trace.declared()));
        }
    }
    std::sort(curve.declared.begin(), curve.declared.end());
    curve.declared.erase(std::unique(curve.declared.begin(), curve.declared.end()), curve.declared.end());
    curve.exact_from = std::max<std::uint64_t>(exact, 1);
    std::vector<std::uint64_t> capacities = grid(lo, hi);
    if (capacities.empty()) {
        capacities.push_back(curve.exact_from);  // no bytes to spread over: one point
    }

    const auto add = [&](Policy policy, std::uint64_t capacity, std::uint64_t hits) {
        curve.points.push_back(Point{policy, capacity, hits, curve.reads - hits});
    };
    const auto simulated = [&](Policy policy, std::uint64_t capacity) {
        std::uint64_t hits = 0;
        for (std::size_t i = 0; i < ns.caches.size(); ++i) {
            hits += policy == Policy::Lru && capacity >= passes[i].largest
                        ? passes[i].hits_at(capacity)
                        : simulate(ns.caches[i], capacity, policy, options.seed).hits;
        }
        return hits;
    };
    for (const Policy policy : options.policies) {
        if (policy != Policy::Lru) {
            for (const std::uint64_t capacity : capacities) {
                add(policy, capacity, simulated(policy, capacity));
            }
            continue;
        }
        // Below the largest value, a simulation per point: at most eight
        // grid points, evenly among those there, the nearest one kept.
        constexpr std::size_t kBelow = 8;
        const auto below = static_cast<std::size_t>(
            std::lower_bound(capacities.begin(), capacities.end(), curve.exact_from) - capacities.begin());
        const std::size_t step = (below + kBelow - 1) / kBelow;
        for (std::size_t i = 0; i < below; ++i) {
            if ((below - 1 - i) % step == 0) {
                add(policy, capacities[i], simulated(policy, capacities[i]));
            }
        }
        // From the largest value up: every capacity where a read starts to hit.
        std::vector<std::uint64_t> thresholds;
        std::uint64_t unknown = 0;
        for (const Pass& pass : passes) {
            thresholds.insert(thresholds.end(), pass.thresholds.begin(), pass.thresholds.end());
            unknown += pass.unknown_hits;
        }
        if (passes.size() > 1) {
            std::sort(thresholds.begin(), thresholds.end());
        }
        auto next = std::upper_bound(thresholds.begin(), thresholds.end(), curve.exact_from);
        add(policy, curve.exact_from, unknown + static_cast<std::uint64_t>(next - thresholds.begin()));
        while (next != thresholds.end()) {
            const std::uint64_t capacity = *next;
            next = std::upper_bound(next, thresholds.end(), capacity);
            add(policy, capacity, unknown + static_cast<std::uint64_t>(next - thresholds.begin()));
        }
        if (capacities.back() > curve.points.back().capacity) {
            add(policy, capacities.back(), curve.points.back().hits);
        }
    }
    return curve;
}

std::string to_json(std::span<const Curve> curves) {
    std::string out = "{\"namespaces\": [";
    for (std::size_t c = 0; c < curves.size(); ++c) {
        const Curve& curve = curves[c];
        out += c == 0 ? "\n  {\"ns\": " : ",\n  {\"ns\": ";
        cache::append_json_string(out, curve.ns);
        out += ", \"uses\": " + std::to_string(curve.uses) + ", \"points\": [";
        for (std::size_t p = 0; p < curve.points.size(); ++p) {
            const Point& point = curve.points[p];
            out += p == 0 ? "\n    {\"policy\": \"" : ",\n    {\"policy\": \"";
            out += cache::policy_text(point.policy);
            out += "\", \"capacity\": " + std::to_string(point.capacity) +
                   ", \"hits\": " + std::to_string(point.hits) +
                   ", \"misses\": " + std::to_string(point.misses) + "}";
        }
        out += curve.points.empty() ? "]}" : "\n  ]}";
    }
    out += curves.empty() ? "]}\n" : "\n]}\n";
    return out;
}

}  // namespace velkfault::curve
