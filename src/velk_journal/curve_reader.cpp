// SPDX-License-Identifier: MIT
#include "velk_journal/curve_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "faults/cache_engine.hpp"
#include "faults/layer.hpp"
#include "journal/svg.hpp"
#include "velk_journal/ahead.hpp"
#include "velkmock.h"

namespace velkjournal {
namespace {

namespace vf = velkfault;
namespace curve = velkfault::curve;
using curve::Key;
using curve::Trace;

// What the reader needs of each line: its namespace, items or keys, and
// the answer, read only as far as the cache mode would have looked.
constexpr bool counted(vf::Fn fn) {
    switch (fn) {
        case vf::kClientDestroy:
        case vf::kLlClientDestroy:
        case vf::kCreateNamespace:
        case vf::kUpdateNamespace:
        case vf::kDeleteNamespace:
        case vf::kBatchPut:
        case vf::kLlBatchPut:
        case vf::kBatchGet:
        case vf::kLlBatchGet:
        case vf::kBatchGetInto:
        case vf::kLlBatchGetInto:
        case vf::kBatchQuery:
        case vf::kLlBatchQuery:
        case vf::kBatchDeleteItems:
        case vf::kBatchDelete:
        case vf::kLlBatchDelete:
            return true;
        default:
            return false;
    }
}

constexpr bool low_level(vf::Fn fn) {
    return fn == vf::kLlBatchPut || fn == vf::kLlBatchGet || fn == vf::kLlBatchGetInto ||
           fn == vf::kLlBatchQuery || fn == vf::kLlBatchDelete;
}

struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

// One trace being read, with its keys numbered in the order they appear.
struct Building {
    Trace trace;
    std::unordered_map<std::string, Key, TextHash, std::equal_to<>> keys;

    Key key(std::string_view text) {
        if (const auto it = keys.find(text); it != keys.end()) {
            return it->second;
        }
        const auto number = static_cast<Key>(keys.size());
        keys.emplace(std::string(text), number);
        return number;
    }
};

class Reader {
public:
    Reader(Journal& journal, const std::optional<std::string>& only) : journal_(journal), only_(only) {}

    std::vector<curve::Namespace> run() {
        std::vector<std::size_t> order;
        const auto& calls = journal_.calls();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].within == 0 && counted(calls[i].fn)) {
                order.push_back(i);
            }
        }
        Ahead lines(journal_, order);
        for (const std::size_t i : order) {
            const element line = lines.next();
            read(calls[i], line);
        }
        std::vector<curve::Namespace> out;
        for (auto& [name, traces] : spaces_) {
            curve::Namespace ns{name, {}};
            for (auto& [owner, building] : traces) {
                ns.caches.push_back(std::move(building.trace));
            }
            out.push_back(std::move(ns));
        }
        return out;
    }

private:
    using Owner = std::pair<std::uint32_t, std::string>;  // a process and a handle's name

    Building& building(const CallLine& call, std::string_view ns) {
        if (last_ != nullptr && last_call_process_ == call.process && last_handle_ == call.handle &&
            last_ns_ == ns) {
            return *last_;
        }
        auto space = spaces_.find(ns);
        if (space == spaces_.end()) {
            space = spaces_.emplace(std::string(ns), std::map<Owner, Building>{}).first;
        }
        Owner owner{call.process, call.handle};
        const auto [it, made] = space->second.try_emplace(owner);
        if (made) {
            handles_[std::move(owner)].push_back(&it->second);
        }
        Building& found = it->second;
        last_ = &found;
        last_call_process_ = call.process;
        last_handle_ = call.handle;
        last_ns_ = std::string(ns);
        return found;
    }

    bool wanted(std::string_view ns) const { return !only_ || *only_ == ns; }

    element member(element object, const char* name, const Where& where) const {
        return reader_->member(object, name, where);
    }
    std::int64_t number(element object, const char* name, const Where& where) const {
        return reader_->integer<std::int64_t>(member(object, name, where), Where{&where, name});
    }
    // A text member; false for null (or "given", which nothing here needs).
    bool text(element value, const Where& where, std::string_view& out) {
        if (value.is_null() || LineReader::is_given(value)) {
            return false;
        }
        out = reader_->text(value, where, storage_);
        return true;
    }
    // An array member of at least `count` elements.
    simdjson::dom::array array(element object, const char* name, const Where& where,
                               std::size_t count) const {
        simdjson::dom::array list;
        const Where here{&where, name};
        if (member(object, name, where).get_array().get(list) != simdjson::SUCCESS) {
            reader_->refuse(here, "expected an array");
        }
        if (list.size() < count) {
            reader_->refuse(here, cat("it holds ", list.size()) + cat(" items of the call's ", count));
        }
        return list;
    }

    void read(const CallLine& call, element line) {
        const LineReader reader(call.line);
        reader_ = &reader;
        const Where top;
        const Where at_args{&top, "args"};
        const Planned plan = planned(reader, line, call.fn);
        if (plan.decision.kind == vf::Decision::FailCall) {
            return;  // a plan answered it: it reached nothing
        }
        if (call.fn == vf::kClientDestroy || call.fn == vf::kLlClientDestroy) {
            if (const auto it = handles_.find(Owner{call.process, call.handle}); it != handles_.end()) {
                for (Building* gone : it->second) {
                    gone->trace.clear();
                }
            }
            return;
        }
        const element args = member(line, "args", top);
        std::string_view ns = vf::cache::kLowLevelNamespace;
        if (!low_level(call.fn)) {
            std::string_view given;
            if (!text(member(args, "ns", at_args), Where{&at_args, "ns"}, given)) {
                return;  // no namespace: refused for its arguments
            }
            ns = given;
        }
        if (!wanted(ns)) {
            return;
        }
        const element rc_member = member(line, "rc", top);
        const std::int64_t rc = reader.integer<std::int64_t>(rc_member, Where{&top, "rc"});
        const bool ok = rc == VELK_OK;
        switch (call.fn) {
            case vf::kCreateNamespace:
            case vf::kUpdateNamespace: {
                const element options = member(args, "options", at_args);
                if (ok && (!options.is_null() || call.fn == vf::kCreateNamespace)) {
                    const std::string name(ns);  // the line's texts go with the next parse
                    building(call, name)
                        .trace.declare(options.is_null()
                                           ? 0
                                           : number(options, "capacity_bytes", Where{&at_args, "options"}));
                }
                return;
            }
            case vf::kDeleteNamespace:
                if (ok) {
                    building(call, std::string(ns)).trace.clear();
                }
                return;
            default:
                break;
        }
        const std::string name(ns);
        const auto count =
            static_cast<std::size_t>(std::max<std::int64_t>(number(args, "count", at_args), 0));
        switch (call.fn) {
            case vf::kBatchPut:
            case vf::kLlBatchPut:
                // As the cache mode: every put the library took ends with an
                // eviction; out holds the statuses when it returned 0.
                if (rc != VELK_ERR_INVALID_ARGUMENT && rc != -EINVAL) {
                    put(call, name, line, args, ok, count, plan);
                }
                return;
            case vf::kBatchGet:
            case vf::kLlBatchGet:
                if (ok) {
                    get(call, name, args, member(line, "out", top), count);
                }
                return;
            case vf::kBatchGetInto:
            case vf::kLlBatchGetInto:
                if (ok) {
                    get_into(call, name, args, member(line, "out", top), count);
                }
                return;
            case vf::kBatchQuery:
            case vf::kLlBatchQuery:
                if (rc > 0) {
                    query(call, name, args, member(line, "out", top),
                          std::min(count, static_cast<std::size_t>(rc)));
                }
                return;
            default:
                if (ok) {
                    removed(call, name, args, member(line, "out", top), count, plan);
                }
                return;
        }
    }

    void put(const CallLine& call, const std::string& ns, element line, element args, bool ok,
             std::size_t count, const Planned& plan) {
        const Where top;
        const Where at{&top, "args"};
        const Where at_items{&at, "items"};
        Building& into = building(call, ns);
        const element out = ok ? member(line, "out", top) : line;
        if (ok && !out.is_null()) {
            const simdjson::dom::array items = array(args, "items", at, count);
            const simdjson::dom::array results = array(out, "results", Where{&top, "out"}, count);
            vf::layer::Dropped dropped(plan.drops);
            auto item = items.begin();
            auto result = results.begin();
            for (std::size_t i = 0; i < count; ++i, ++item, ++result) {
                const Where here{&at_items, nullptr, static_cast<std::int64_t>(i)};
                if (dropped.at(i) != nullptr || number(*result, "status", here) != VELK_OK) {
                    continue;
                }
                std::string_view key;
                const element value = member(*item, "value", here);
                if (!text(member(*item, "key", here), Where{&here, "key"}, key) || value.is_null()) {
                    continue;
                }
                const auto size = reader_->integer<std::uint64_t>(
                    member(value, "length", Where{&here, "value"}), Where{&here, "value"});
                into.trace.store(into.key(key), size);
            }
        }
        into.trace.end_put();
    }

    // The key of a read item: a get item's (and whether it filters), or the
    // flat calls' text.
    bool read_key(element entry, bool flat, const Where& item, std::string_view& key, bool& filtered) {
        filtered = false;
        if (flat) {
            return text(entry, item, key);
        }
        if (!text(member(entry, "key", item), Where{&item, "key"}, key)) {
            return false;
        }
        filtered = number(entry, "filter_count", item) > 0 && !member(entry, "filter", item).is_null();
        return true;
    }

    // A read item's answer: its status and length.
    void read_item(Building& into, element entry, bool flat, element answer, const Where& here) {
        const auto status =
            reader_->integer<std::int32_t>(member(answer, "status", here), Where{&here, "status"});
        const auto length =
            reader_->integer<std::uint64_t>(member(answer, "length", here), Where{&here, "length"});
        std::string_view key;
        bool filtered = false;
        if (read_key(entry, flat, here, key, filtered)) {
            into.trace.read(into.key(key), vf::cache::seen_by_get(status, length, filtered));
        }
    }

    void get(const CallLine& call, const std::string& ns, element args, element out, std::size_t count) {
        const Where top;
        const Where at_out{&top, "out"};
        const Where at_lent{&at_out, "callbacks"};
        if (out.is_null()) {
            return;  // no callback: the call lent nothing
        }
        const bool flat = low_level(call.fn);
        const simdjson::dom::array list = array(args, flat ? "keys" : "items", Where{&top, "args"}, count);
        simdjson::dom::array callbacks;
        if (member(out, "callbacks", at_out).get_array().get(callbacks) != simdjson::SUCCESS) {
            reader_->refuse(at_lent, "expected an array");
        }
        Building& into = building(call, ns);
        for (const element lent : callbacks) {
            const simdjson::dom::array items = array(lent, "items", at_lent, 0);
            auto entry = list.begin();
            auto item = items.begin();
            for (std::size_t i = 0; i < count && item != items.end(); ++i, ++entry, ++item) {
                read_item(into, *entry, flat, *item, Where{&at_lent, nullptr, static_cast<std::int64_t>(i)});
            }
        }
    }

    void get_into(const CallLine& call, const std::string& ns, element args, element out, std::size_t count) {
        const Where top;
        const Where at_out{&top, "out"};
        const bool flat = low_level(call.fn);
        const simdjson::dom::array list = array(args, flat ? "keys" : "items", Where{&top, "args"}, count);
        const simdjson::dom::array answers = array(out, "items", at_out, count);
        Building& into = building(call, ns);
        auto entry = list.begin();
        auto answer = answers.begin();
        for (std::size_t i = 0; i < count; ++i, ++entry, ++answer) {
            read_item(into, *entry, flat, *answer, Where{&at_out, nullptr, static_cast<std::int64_t>(i)});
        }
    }

    void query(const CallLine& call, const std::string& ns, element args, element out, std::size_t count) {
        const Where top;
        const Where at_out{&top, "out"};
        const simdjson::dom::array keys = array(args, "keys", Where{&top, "args"}, count);
        const simdjson::dom::array results = array(out, "results", at_out, count);
        Building& into = building(call, ns);
        auto key_at = keys.begin();
        auto result = results.begin();
        for (std::size_t i = 0; i < count; ++i, ++key_at, ++result) {
            const Where here{&at_out, nullptr, static_cast<std::int64_t>(i)};
            std::string_view status;
            std::string_view key;
            if (!text(member(*result, "status", here), Where{&here, "status"}, status)) {
                continue;
            }
            const vf::cache::Seen seen = vf::cache::seen_by_query(status);
            if (text(*key_at, here, key)) {
                into.trace.read(into.key(key), seen);
            }
        }
    }

    void removed(const CallLine& call, const std::string& ns, element args, element out, std::size_t count,
                 const Planned& plan) {
        const Where top;
        const Where at_out{&top, "out"};
        const bool items_form = call.fn == vf::kBatchDeleteItems;
        const simdjson::dom::array keys =
            array(args, items_form ? "items" : "keys", Where{&top, "args"}, count);
        const simdjson::dom::array answers = array(out, items_form ? "results" : "statuses", at_out, count);
        Building& into = building(call, ns);
        vf::layer::Dropped dropped(plan.drops);
        auto key_at = keys.begin();
        auto answer = answers.begin();
        for (std::size_t i = 0; i < count; ++i, ++key_at, ++answer) {
            const Where here{&at_out, nullptr, static_cast<std::int64_t>(i)};
            const element status_member = items_form ? member(*answer, "status", here) : *answer;
            const auto status = reader_->integer<std::int32_t>(status_member, here);
            std::string_view key;
            const element key_member = items_form ? member(*key_at, "key", here) : *key_at;
            if (status == VELK_OK && dropped.at(i) == nullptr && text(key_member, here, key)) {
                into.trace.remove(into.key(key));
            }
        }
    }

    Journal& journal_;
    const std::optional<std::string>& only_;
    const LineReader* reader_ = nullptr;
    std::string storage_;
    std::map<std::string, std::map<Owner, Building>, std::less<>> spaces_;
    std::map<Owner, std::vector<Building*>> handles_;
    Building* last_ = nullptr;
    std::uint32_t last_call_process_ = 0;
    std::string last_handle_;
    std::string last_ns_;
};

}  // namespace

std::vector<curve::Namespace> read_traces(Journal& journal, const std::optional<std::string>& only) {
    return Reader(journal, only).run();
}

void write_table(const std::vector<curve::Curve>& curves, const std::vector<curve::Policy>& policies,
                 std::FILE* out) {
    for (const curve::Curve& c : curves) {
        std::string declared;
        for (const std::uint64_t capacity : c.declared) {
            declared += (declared.empty() ? ", declared " : " and ") + curve::byte_label(capacity);
        }
        std::fprintf(out, "%s: %llu uses, %llu reads%s\n", c.ns.c_str(),
                     static_cast<unsigned long long>(c.uses), static_cast<unsigned long long>(c.reads),
                     declared.c_str());
        if (c.points.empty() || c.reads == 0) {
            std::fprintf(out, "  no reads: no hit ratio to give\n");
            continue;
        }
        // The rows: nine capacities of one policy's points, spread evenly
        // (a policy other than lru, whose points are the grid's, if asked).
        curve::Policy rows_of = policies.front();
        for (const curve::Policy policy : policies) {
            if (policy != curve::Policy::Lru) {
                rows_of = policy;
                break;
            }
        }
        std::vector<std::uint64_t> capacities;
        for (const curve::Point& point : c.points) {
            if (point.policy == rows_of) {
                capacities.push_back(point.capacity);
            }
        }
        std::vector<std::uint64_t> rows;
        constexpr std::size_t kRows = 9;
        for (std::size_t r = 0; r < std::min(kRows, capacities.size()); ++r) {
            const std::size_t at = capacities.size() <= kRows ? r : r * (capacities.size() - 1) / (kRows - 1);
            rows.push_back(capacities[at]);
        }
        std::fprintf(out, "  %12s", "capacity");
        for (const curve::Policy policy : policies) {
            std::fprintf(out, "  %7s", vf::cache::policy_text(policy));
        }
        std::fprintf(out, "\n");
        for (const std::uint64_t capacity : rows) {
            std::fprintf(out, "  %12s", curve::byte_label(capacity).c_str());
            for (const curve::Policy policy : policies) {
                // The policy's point at this capacity; lru from where it is
                // exact holds its value up to its next point.
                const curve::Point* at = nullptr;
                for (const curve::Point& point : c.points) {
                    const bool steps = policy == curve::Policy::Lru && point.capacity >= c.exact_from;
                    if (point.policy == policy &&
                        (point.capacity == capacity || (steps && point.capacity <= capacity))) {
                        at = &point;
                    }
                }
                if (at == nullptr) {
                    std::fprintf(out, "  %7s", "-");
                } else {
                    std::fprintf(out, "  %6.1f%%",
                                 100.0 * static_cast<double>(at->hits) / static_cast<double>(c.reads));
                }
            }
            std::fprintf(out, "\n");
        }
    }
}

}  // namespace velkjournal
