// SPDX-License-Identifier: MIT
#include "faults/cache.hpp"

#include <algorithm>
#include <bit>

namespace velkfault::cache {

Policy policy_named(std::string_view text) noexcept {
    if (text == "lru") {
        return Policy::Lru;
    }
    if (text == "lfu") {
        return Policy::Lfu;
    }
    if (text == "fifo") {
        return Policy::Fifo;
    }
    if (text == "random") {
        return Policy::Random;
    }
    return Policy::Unknown;
}

const char* policy_text(Policy policy) noexcept {
    switch (policy) {
        case Policy::Lru:
            return "lru";
        case Policy::Lfu:
            return "lfu";
        case Policy::Fifo:
            return "fifo";
        case Policy::Random:
            return "random";
        case Policy::Unknown:
            break;
    }
    return "";
}

std::uint64_t Generator::next() noexcept {
    state_ += 0x9e3779b97f4a7c15U;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9U;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebU;
    return z ^ (z >> 31);
}

namespace {

// Slots for the random policy's tree: a power of two, room to grow.
std::size_t slot_count(std::size_t entries) {
    return std::bit_ceil(std::max<std::size_t>(16, 2 * entries));
}

}  // namespace

void Cache::configure(std::uint64_t capacity, Policy policy) {
    if (policy != policy_) {
        const Policy before = policy_;
        policy_ = policy;
        try {
            rebuild_order();
        } catch (...) {
            policy_ = before;  // the old order is untouched
            throw;
        }
    }
    capacity_ = capacity;
}

// Everything that may allocate happens before the first change, so a
// failure leaves the old order as it was.
void Cache::rebuild_order() {
    std::vector<Id> ids;
    for (Id id = 0; id < entries_.size(); ++id) {
        if (entries_[id].present) {
            ids.push_back(id);
        }
    }
    std::vector<Id> heap;
    std::vector<std::uint32_t> tree;
    std::vector<Id> slots;
    if (policy_ == Policy::Lfu) {
        heap.reserve(std::max<std::size_t>(16, ids.size()));
    } else if (policy_ == Policy::Random) {
        slots.assign(slot_count(ids.size()), kNone);
        tree.assign(slots.size() + 1, 0);
    }
    const bool by_use = policy_ == Policy::Lru;
    std::sort(ids.begin(), ids.end(), [&](Id a, Id b) {
        return by_use ? entries_[a].last_use < entries_[b].last_use : entries_[a].birth < entries_[b].birth;
    });

    head_ = kNone;
    tail_ = kNone;
    heap_.swap(heap);
    heap_.clear();
    tree_.swap(tree);
    slot_id_.swap(slots);
    next_slot_ = 0;
    candidates_ = 0;
    for (const Id id : ids) {
        insert_order(id);
    }
}

void Cache::prepare_insert() {
    if (policy_ == Policy::Lfu && heap_.size() == heap_.capacity()) {
        heap_.reserve(std::max<std::size_t>(16, 2 * heap_.size()));
    } else if (policy_ == Policy::Random && next_slot_ == slot_id_.size()) {
        slots_compact(std::max(slot_id_.size(), slot_count(candidates_ + 1)));
    }
}

void Cache::insert_order(Id id) noexcept {
    switch (policy_) {
        case Policy::Lru:
        case Policy::Fifo:
            list_append(id);
            break;
        case Policy::Lfu:
            heap_push(id);
            break;
        case Policy::Random: {
            const std::uint32_t slot = next_slot_++;
            slot_id_[slot] = id;
            entries_[id].place = slot;
            slots_add(slot, 1);
            ++candidates_;
            break;
        }
        case Policy::Unknown:
            break;
    }
}

void Cache::touch_order(Id id) noexcept {
    if (policy_ == Policy::Lru) {
        list_unlink(id);
        list_append(id);
    } else if (policy_ == Policy::Lfu) {
        heap_down(entries_[id].place);  // one more use: it can only sink
    }
}

void Cache::erase_order(Id id) noexcept {
    switch (policy_) {
        case Policy::Lru:
        case Policy::Fifo:
            list_unlink(id);
            break;
        case Policy::Lfu:
            heap_erase(id);
            break;
        case Policy::Random:
            slots_add(entries_[id].place, -1);
            slot_id_[entries_[id].place] = kNone;
            --candidates_;
            break;
        case Policy::Unknown:
            break;
    }
}

// Room for a new entry: everything storing it could need to allocate.
void Cache::make_room(Id id) {
    if (id >= entries_.size()) {
        entries_.resize(static_cast<std::size_t>(id) + 1);
    }
    prepare_insert();
}

// A new entry, the newest; make_room came first.
void Cache::add_entry(Id id, std::uint64_t size) noexcept {
    ++clock_;
    Entry& entry = entries_[id];
    entry = Entry{};
    entry.size = size;
    entry.last_use = clock_;
    entry.birth = clock_;
    entry.uses = 1;
    entry.present = true;
    known_ += size;
    insert_order(id);
}

void Cache::store(Id id, std::uint64_t size) {
    const bool known = knows(id);
    if (!known) {
        make_room(id);
    }
    call_.push_back(id);
    if (!known) {
        add_entry(id, size);
        return;
    }
    Entry& entry = entries_[id];
    ++clock_;
    known_ = known_ - entry.size + size;
    entry.size = size;
    ++entry.uses;
    entry.last_use = clock_;
    touch_order(id);
}

void Cache::hit(Id id) noexcept {
    Entry& entry = entries_[id];
    ++clock_;
    ++entry.uses;
    entry.last_use = clock_;
    touch_order(id);
    ++stats_.hits;
}

void Cache::forget(Id id) noexcept {
    if (!knows(id)) {
        return;
    }
    erase_order(id);
    entries_[id].present = false;
    known_ -= entries_[id].size;
}

void Cache::clear() noexcept {
    entries_.clear();
    known_ = 0;
    call_.clear();
    exempt_.clear();
    head_ = kNone;
    tail_ = kNone;
    heap_.clear();
    std::fill(tree_.begin(), tree_.end(), 0);
    std::fill(slot_id_.begin(), slot_id_.end(), kNone);
    next_slot_ = 0;
    candidates_ = 0;
}

void Cache::restore(Id id, std::uint64_t size) {
    if (knows(id)) {
        return;  // stored again meanwhile: that value is the one the store holds
    }
    make_room(id);
    add_entry(id, size);
    if (stats_.evictions > 0) {
        --stats_.evictions;
        stats_.evicted_bytes -= std::min(stats_.evicted_bytes, size);
    }
}

void Cache::end_put(std::vector<Victim>& victims) {
    {
        // Whatever happens below, the call's exemption ends with it.
        struct Release {
            Cache& cache;
            ~Release() { cache.release_exempt(); }
        } release{*this};
        exempt_.clear();
        exempt_.reserve(call_.size());
        // A key stored twice counts by the item that stored its value.
        for (std::size_t i = call_.size(); i-- > 0;) {
            Entry& entry = entries_[call_[i]];
            if (entry.present && !entry.exempt) {
                entry.exempt = true;
                exempt_.push_back(call_[i]);
            }
        }
        call_.clear();
        std::reverse(exempt_.begin(), exempt_.end());
        if (bounded() && known_ > capacity_) {
            // The heap and the tree cannot skip entries: the exempt ones
            // leave them until the call's eviction is over.
            if (policy_ == Policy::Lfu || policy_ == Policy::Random) {
                for (const Id id : exempt_) {
                    if (policy_ == Policy::Lfu) {
                        heap_erase(id);
                    } else {
                        slots_add(entries_[id].place, -1);
                        --candidates_;
                    }
                }
                withdrawn_ = true;
            }
            evict_unexempt(victims);
            for (const Id id : exempt_) {
                if (known_ <= capacity_) {
                    break;
                }
                evict(id, victims);
            }
        }
    }
    stats_.peak_bytes = std::max(stats_.peak_bytes, known_);
}

void Cache::release_exempt() noexcept {
    for (const Id id : exempt_) {
        Entry& entry = entries_[id];
        if (!entry.present) {
            continue;
        }
        entry.exempt = false;
        if (withdrawn_ && policy_ == Policy::Lfu) {
            heap_push(id);
        } else if (withdrawn_) {
            slots_add(entry.place, 1);
            ++candidates_;
        }
    }
    exempt_.clear();
    call_.clear();
    withdrawn_ = false;
}

void Cache::evict(Id id, std::vector<Victim>& victims) {
    Entry& entry = entries_[id];
    victims.push_back(Victim{id, entry.size});
    if (!entry.exempt || !withdrawn_) {
        erase_order(id);
    } else if (policy_ == Policy::Random) {
        slot_id_[entry.place] = kNone;  // already out of the tree
    }
    entry.present = false;
    entry.exempt = false;
    known_ -= entry.size;
    ++stats_.evictions;
    stats_.evicted_bytes += entry.size;
}

void Cache::evict_unexempt(std::vector<Victim>& victims) {
    switch (policy_) {
        case Policy::Lru:
        case Policy::Fifo:
            // Oldest first; the call's own entries are passed over (for lru
            // they are the newest anyway).
            for (Id at = head_; at != kNone && known_ > capacity_;) {
                const Id next = entries_[at].next;
                if (!entries_[at].exempt) {
                    evict(at, victims);
                }
                at = next;
            }
            break;
        case Policy::Lfu:
            while (known_ > capacity_ && !heap_.empty()) {
                evict(heap_.front(), victims);
            }
            break;
        case Policy::Random:
            while (known_ > capacity_ && candidates_ > 0) {
                const std::uint64_t index = generator_.next() % candidates_;
                evict(slot_id_[slots_find(index)], victims);
            }
            break;
        case Policy::Unknown:
            break;
    }
}

void Cache::list_append(Id id) noexcept {
    Entry& entry = entries_[id];
    entry.prev = tail_;
    entry.next = kNone;
    if (tail_ != kNone) {
        entries_[tail_].next = id;
    } else {
        head_ = id;
    }
    tail_ = id;
}

void Cache::list_unlink(Id id) noexcept {
    Entry& entry = entries_[id];
    if (entry.prev != kNone) {
        entries_[entry.prev].next = entry.next;
    } else {
        head_ = entry.next;
    }
    if (entry.next != kNone) {
        entries_[entry.next].prev = entry.prev;
    } else {
        tail_ = entry.prev;
    }
}

bool Cache::heap_less(Id a, Id b) const noexcept {
    const Entry& x = entries_[a];
    const Entry& y = entries_[b];
    return x.uses != y.uses ? x.uses < y.uses : x.last_use < y.last_use;
}

void Cache::heap_set(std::uint32_t at, Id id) noexcept {
    heap_[at] = id;
    entries_[id].place = at;
}

void Cache::heap_up(std::uint32_t at) noexcept {
    const Id id = heap_[at];
    while (at > 0) {
        const std::uint32_t parent = (at - 1) / 2;
        if (!heap_less(id, heap_[parent])) {
            break;
        }
        heap_set(at, heap_[parent]);
        at = parent;
    }
    heap_set(at, id);
}

void Cache::heap_down(std::uint32_t at) noexcept {
    const Id id = heap_[at];
    const auto size = static_cast<std::uint32_t>(heap_.size());
    for (;;) {
        std::uint32_t child = 2 * at + 1;
        if (child >= size) {
            break;
        }
        if (child + 1 < size && heap_less(heap_[child + 1], heap_[child])) {
            ++child;
        }
        if (!heap_less(heap_[child], id)) {
            break;
        }
        heap_set(at, heap_[child]);
        at = child;
    }
    heap_set(at, id);
}

// Room was reserved (prepare_insert, or the entry just left the heap).
void Cache::heap_push(Id id) noexcept {
    heap_.push_back(id);
    heap_up(static_cast<std::uint32_t>(heap_.size() - 1));
}

void Cache::heap_erase(Id id) noexcept {
    const std::uint32_t at = entries_[id].place;
    const Id last = heap_.back();
    heap_.pop_back();
    if (at < heap_.size()) {
        heap_set(at, last);
        heap_up(at);
        heap_down(entries_[last].place);
    }
}

void Cache::slots_add(std::uint32_t slot, int delta) noexcept {
    for (std::size_t i = static_cast<std::size_t>(slot) + 1; i < tree_.size(); i += i & (~i + 1)) {
        tree_[i] += static_cast<std::uint32_t>(delta);
    }
}

// The slot of the candidate with `index` candidates before it in slot order.
std::uint32_t Cache::slots_find(std::uint64_t index) const noexcept {
    std::size_t at = 0;
    for (std::size_t step = slot_id_.size(); step > 0; step /= 2) {
        if (at + step < tree_.size() && tree_[at + step] <= index) {
            at += step;
            index -= tree_[at];
        }
    }
    return static_cast<std::uint32_t>(at);
}

// The candidates move to the first slots, in their order, in a table of
// `size` slots. Called only when no exemption is in force.
void Cache::slots_compact(std::size_t size) {
    std::vector<Id> slots(size, kNone);
    std::vector<std::uint32_t> tree(size + 1, 0);
    std::uint32_t count = 0;
    for (const Id id : slot_id_) {
        if (id != kNone) {
            slots[count] = id;
            entries_[id].place = count;
            tree[count + 1] = 1;
            ++count;
        }
    }
    for (std::size_t i = 1; i <= size; ++i) {
        const std::size_t up = i + (i & (~i + 1));
        if (up <= size) {
            tree[up] += tree[i];
        }
    }
    slot_id_.swap(slots);
    tree_.swap(tree);
    next_slot_ = count;
}

}  // namespace velkfault::cache
