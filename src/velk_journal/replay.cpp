// SPDX-License-Identifier: MIT
#include "velk_journal/replay.hpp"

#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <tuple>
#include <type_traits>

#include "faults/layer.hpp"
#include "journal/calls.hpp"
#include "journal/writer.hpp"
#include "velk_journal/ahead.hpp"
#include "velk_journal/builder.hpp"
#include "velk_journal/comparer.hpp"
#include "velk_journal/made.hpp"

namespace velkjournal {
namespace {

namespace vj = velkfault::journal;

// What a replayed get's callback was lent, kept to compare.
struct Seen {
    struct Call {
        std::int32_t count = 0;
        std::vector<std::int32_t> statuses;
        std::vector<std::uint64_t> lens;
        std::vector<std::string> bytes;
        std::vector<char> null;
        std::vector<const void*> values;  // set once every call is in
    };
    bool via = false;
    std::vector<Call> calls;

    [[nodiscard]] bool called() const noexcept { return via; }
    void settle() {
        for (Call& call : calls) {
            call.values.resize(static_cast<std::size_t>(call.count));
            for (std::size_t i = 0; i < call.values.size(); ++i) {
                call.values[i] = call.null[i] != 0 ? nullptr : call.bytes[i].data();
            }
        }
    }
    [[nodiscard]] std::string json() const {
        vj::Json out;
        vj::Writer writer(out, vj::Values::Full);
        out.open_array();
        for (const Call& call : calls) {
            out.open_object();
            vj::callback_call(writer, call.count, call.values.data(), call.lens.data(), call.statuses.data());
            out.close_object();
        }
        out.close_array();
        return out.text;
    }
};

extern "C" int capture(int32_t count, const void* const* values, const uint64_t* lens,
                       const int32_t* statuses, void* data) {
    try {
        Seen::Call call;
        call.count = count;
        const auto n = static_cast<std::size_t>(count > 0 ? count : 0);
        call.statuses.assign(statuses, statuses + n);
        call.lens.assign(lens, lens + n);
        call.bytes.resize(n);
        call.null.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            call.null[i] = values[i] == nullptr ? 1 : 0;
            if (values[i] != nullptr && lens[i] != 0) {
                call.bytes[i].assign(static_cast<const char*>(values[i]), lens[i]);
            }
        }
        static_cast<Seen*>(data)->calls.push_back(std::move(call));
    } catch (...) {
        static_cast<Seen*>(data)->calls.emplace_back();  // too big to keep: a call that differs
    }
    return 0;
}

constexpr int kUntouched = 0x7e1c;  // no error number of the system's

class Replay final : public Places {
public:
    Replay(Journal& journal, const Api& api, const Names& ignore, bool print)
        : journal_(journal), api_(api), ignore_(ignore), print_(print) {
        library = &api;
        inherited_handles();
    }
    ~Replay() override {
        for (velk_client* client : alive_) {
            target<vf::kClientDestroy>()(client);
        }
        for (auto& [name, results] : results_) {
            target<vf::kQueryResultFree>()(results.data(), static_cast<std::int32_t>(results.size()));
        }
        if (api_.shared_clear != nullptr) {
            for (const std::string& store : cleared_) {
                api_.shared_clear(nullptr, store.c_str());
            }
        }
    }
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    Verdict run() {
        const auto& calls = journal_.calls();
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].within == 0) {
                order.push_back(i);
            }
        }
        Ahead lines(journal_, order);
        for (const std::size_t i : order) {
            const element line = lines.next();
            vj::with_function(calls[i].fn, [&]<Fn F>() { make<F>(i, line); });
        }
        return std::move(verdict_);
    }

    velk_get_callback_t callback() override { return capture; }
    velk_query_result_t* results_for_query(std::size_t n) override {
        if (n > limits().bytes / sizeof(velk_query_result_t)) {
            return nullptr;
        }
        pending_.assign(std::max<std::size_t>(n, 1), velk_query_result_t{});
        return pending_.data();
    }
    velk_query_result_t* results_named(std::string_view name, std::size_t count) override {
        const auto it = results_.find(std::string(name));
        if (it == results_.end()) {
            return nullptr;
        }
        if (count > limits().bytes / sizeof(velk_query_result_t)) {
            return nullptr;
        }
        if (it->second.size() < count) {
            it->second.resize(count);  // records past the query's are cleared: they release nothing
        }
        freeing_ = it->first;
        return it->second.data();
    }

private:
    using Key = std::pair<std::uint32_t, std::string>;  // a process and a handle's name

    // A copy of a handle that a forked child inherited, made with it and
    // given the calls made on it until the child was forked.
    struct Shadow {
        Key key;
        std::uint64_t until;
    };

    // The handles forked children use that they did not make: for each, the
    // handle of the parent it is a copy of.
    void inherited_handles() {
        for (const CallLine& call : journal_.calls()) {
            const Key key{call.process, call.handle};
            if (call.handle.find('/') == std::string::npos || inherited_.count(key) != 0) {
                continue;
            }
            Key child = key;
            // Up the chain of forks to the process that made it.
            while (child.second.find('/') != std::string::npos) {
                const auto it = journal_.processes().find(child.first);
                if (it == journal_.processes().end() || it->second.parent == 0) {
                    break;
                }
                const std::uint32_t parent = it->second.parent;
                const std::string prefix = std::to_string(parent) + "/";
                Key source{parent, child.second.rfind(prefix, 0) == 0 ? child.second.substr(prefix.size())
                                                                      : child.second};
                if (inherited_.emplace(child, source).second) {
                    shadows_[source].push_back(Shadow{child, it->second.forked_after});
                }
                child = source;
            }
        }
    }

    velk_client* handle_of(const CallLine& call) {
        if (call.handle.empty()) {
            return nullptr;
        }
        const Key key{call.process, call.handle};
        if (const auto it = handles_.find(key); it != handles_.end()) {
            return it->second;
        }
        // A store kept in a server: the child's handle is one more handle
        // on its parent's store.
        const auto source = inherited_.find(key);
        if (api_.shared_clear == nullptr || source == inherited_.end()) {
            return nullptr;
        }
        const auto store = stores_.find(source->second);
        if (store == stores_.end()) {
            return nullptr;
        }
        setenv("VELKSHARED_STORE", store->second.c_str(), 1);
        static const int config = 0;
        velk_client* client = target<vf::kClientCreate>()(&config);
        if (client != nullptr) {
            alive_.insert(client);
            handles_[key] = client;
            stores_[key] = store->second;
        }
        return client;
    }

    InnerPlan plans_within(std::size_t index) {
        const CallLine& call = journal_.calls()[index];
        InnerPlan plan;
        plan.fn = call.fn;
        plan.seq = call.seq;
        for (const std::size_t inner : call.inner) {
            plan.inner.push_back(plans_within(inner));
            const CallLine& line = journal_.calls()[inner];
            plan.inner.back().evicted = line.evicted;
            const element parsed = journal_.parse(line);
            plan.inner.back().plan = planned(LineReader(line.line), parsed, line.fn);
        }
        return plan;
    }

    // A plan that drops an item of a call that could not have had one
    // dropped is no recording of the fault layer.
    template <Fn F>
    void check_drop(const LineReader& reader, const Planned& plan, const ArgsOf<F>& args) {
        if constexpr (vf::kFunctions[F].per_item) {
            if (!plan.dropped()) {
                return;
            }
            std::int32_t count = 0;
            std::int32_t capacity = 0;
            if constexpr (F == vf::kBatchPut || F == vf::kBatchDeleteItems) {
                count = std::get<3>(args);
                capacity = std::get<5>(args);
            } else if constexpr (F == vf::kBatchDelete) {
                count = std::get<3>(args);
                capacity = std::get<6>(args);
            } else {
                count = std::get<2>(args);
                capacity = std::get<4>(args);
            }
            const std::int32_t last = plan.drops.back().item;  // they are in order
            if (vf::layer::droppable(true, count, capacity) <= last) {
                reader.refuse(Where{nullptr, "plan"},
                              cat("it drops item ", last) + cat(" of a call of ", count) + " items");
            }
        } else {
            (void)reader;
            (void)plan;
            (void)args;
        }
    }

    template <Fn F>
    void make(std::size_t index, element line) {
        const CallLine& call = journal_.calls()[index];
        InnerPlan plan = plans_within(index);
        const LineReader reader(call.line);
        const Where top;
        const Where at_args{&top, "args"};
        plan.plan = planned(reader, line, F);
        ArgsOf<F> args{};
        Arena& arena = arena_;
        arena.reset();
        arena.set_limit(limits().bytes);
        pending_.clear();
        freeing_.clear();
        Builder builder(reader, reader.member(line, "args", top), at_args, arena, *this);
        std::apply([&](auto&... a) { vj::Calls<F>::args(builder, a...); }, args);
        check_drop<F>(reader, plan.plan, args);
        if (plan.plan.decision.delay_us > limits().delay_us) {
            reader.refuse(Where{nullptr, "plan"}, cat("a delay longer than this replay waits (",
                                                      limits().delay_us, " microseconds)"));
        }
        if constexpr (kOnHandle<F>) {
            std::get<0>(args) = handle_of(call);
        }
        Seen seen;
        if constexpr (is_get(F)) {
            constexpr std::size_t kCallback = F == vf::kBatchGet ? 4 : 3;
            seen.via = std::get<kCallback>(args) != nullptr && plan.plan.decision.kind != Decision::FailCall;
            std::get<kCallback + 1>(args) = &seen;
        }
        if (plan.plan.decision.kind != Decision::Pass || plan.plan.dropped() ||
            plan.plan.decision.delay_us != 0) {
            ++verdict_.planned;
        }

        Comparer::Found found;
        Comparer at_line(reader, line, "", ignore_, found);
        const element recorded_out = reader.member(line, "out", top);
        Comparer out(reader, recorded_out, "out", ignore_, found);
        using R = ResultOf<F>;
        if constexpr (std::is_same_v<R, velk_client*>) {
            before_create(call, line);
        }
        making.push_back(&plan);
        errno = kUntouched;
        if constexpr (std::is_void_v<R>) {
            std::apply([&](auto... a) { through_layer<F>(plan.plan, a...); }, args);
            making.pop_back();
            std::apply([&](auto... a) { vj::Calls<F>::out(out, a...); }, args);
        } else {
            const R result = std::apply([&](auto... a) { return through_layer<F>(plan.plan, a...); }, args);
            const int error = errno;
            making.pop_back();
            if constexpr (std::is_same_v<R, velk_client*>) {
                if (result != nullptr) {
                    alive_.insert(result);  // destroyed at the end unless the journal destroys it
                }
            }
            if constexpr (std::is_same_v<R, velk_client*>) {
                created(call, line, reader, result, error, at_line);
                std::apply([&](auto... a) { vj::Calls<F>::out(out, result, a...); }, args);
                if (result != nullptr) {
                    copies_made<F>(Key{call.process, call.handle}, plan, args);
                }
            } else if constexpr (std::is_same_v<R, const char*>) {
                at_line.text_bytes("rc", result, result != nullptr ? std::strlen(result) : 0);
                vj::Calls<F>::out(out, result);
            } else {
                at_line.number("rc", result);
                if constexpr (is_get(F)) {
                    seen.settle();
                    out.set_replayed_text([&] { return "{\"callbacks\": " + seen.json() + "}"; });
                    vj::Calls<F>::out(out, result, seen);
                } else {
                    out.set_replayed_text([&] {
                        vj::Json text;
                        vj::Writer writer(text, vj::Values::Full);
                        std::apply([&](auto... a) { vj::Calls<F>::out(writer, result, a...); }, args);
                        return text.text;
                    });
                    std::apply([&](auto... a) { vj::Calls<F>::out(out, result, a...); }, args);
                }
                if constexpr (is_query(F)) {
                    if (result > 0 && !pending_.empty()) {
                        results_[cat("r", call.seq)] = std::move(pending_);
                    }
                }
            }
        }
        if (!freeing_.empty()) {
            // What a free of fewer records than the query filled left is the
            // replay's to give back (released records release nothing).
            const auto it = results_.find(freeing_);
            if (it != results_.end()) {
                target<vf::kQueryResultFree>()(it->second.data(),
                                               static_cast<std::int32_t>(it->second.size()));
                results_.erase(it);
            }
        }
        not_made(plan, found);
        report(call, line, found);
        ++verdict_.replayed;
        if constexpr (kOnHandle<F>) {
            if (const velk_client* client = std::get<0>(args); client != nullptr) {
                mirror<F>(call, plan, args);
            }
            if constexpr (is_destroy(F)) {
                handles_.erase(Key{call.process, call.handle});
                alive_.erase(std::get<0>(args));
            }
        }
        evictions(plan);
    }

    // The cache mode removed a put's victims within it, with calls the
    // library never made: the replay makes them, once the call they are
    // within is done, and compares their answers as any call's.
    void evictions(const InnerPlan& plan) {
        for (const InnerPlan& inner : plan.inner) {
            if (inner.evicted) {
                const auto index = static_cast<std::size_t>(journal_.find(inner.seq));
                make<vf::kBatchDeleteItems>(index, journal_.parse(journal_.calls()[index]));
            } else {
                evictions(inner);
            }
        }
    }

    // A recorded plan's effect on a call the library made within this one
    // that the library did not make again: the answers may not tell.
    static void not_made(const InnerPlan& plan, Comparer::Found& found) {
        for (const InnerPlan& inner : plan.inner) {
            const bool effect = inner.plan.decision.kind != Decision::Pass || inner.plan.dropped();
            if (!inner.made && effect && !inner.evicted) {
                found.push_back(std::string("the library did not make ") + vf::kFunctions[inner.fn].name +
                                cat(" within it (call ", inner.seq) +
                                "), so the plan's effect on it could not be applied");
            }
            not_made(inner, found);
        }
    }

    // The handle a create made, under the journal's name for it.
    void created(const CallLine& call, element line, const LineReader& reader, velk_client* client, int error,
                 Comparer& at_line) {
        const Where top;
        const element rc = reader.member(line, "rc", top);
        std::string storage;
        const bool recorded = !rc.is_null();
        if (recorded && client == nullptr && !first_create_seen_) {
            std::string why =
                api_.last_error != nullptr && api_.last_error() != nullptr && *api_.last_error() != '\0'
                    ? api_.last_error()
                    : std::string(std::strerror(error == kUntouched ? 0 : error));
            throw Trouble{api_.file + " cannot be used: the journal's first create (call " +
                          std::to_string(call.seq) + ") made a handle, here it made none: " + why};
        }
        if (recorded) {
            first_create_seen_ = true;
        }
        if (client == nullptr) {
            if (recorded) {
                at_line.text_bytes("rc", nullptr, 0);
            } else {
                element was;
                std::string shown = error == kUntouched ? "\"unchanged\"" : std::to_string(error);
                if (LineReader::find(line, "errno", was) && show_json(was) != shown) {
                    found_.push_back("errno: recorded " + show_json(was) + ", replayed " + shown);
                }
            }
            return;
        }
        const std::string name = recorded ? std::string(reader.text(rc, Where{&top, "rc"}, storage))
                                          : cat("unrecorded-", call.seq);
        if (!recorded) {
            found_.push_back("rc: recorded null, replayed a handle");
        }
        const Key key{call.process, name};
        handles_[key] = client;
        stores_[key] = store_;
    }

    // Gives a call on a handle to the copies of it that forked children
    // inherited, as long as they were not yet forked when it began.
    // The copies of a new handle that forked children will inherit, made as
    // it was made.
    template <Fn F>
    void copies_made(const Key& key, InnerPlan& plan, const ArgsOf<F>& args) {
        const auto it = shadows_.find(key);
        if (it == shadows_.end() || api_.shared_clear != nullptr) {
            return;
        }
        for (const Shadow& shadow : it->second) {
            reset(plan);
            making.push_back(&plan);
            velk_client* copy =
                std::apply([&](auto... a) { return through_layer<F>(plan.plan, a...); }, args);
            making.pop_back();
            if (copy != nullptr) {
                alive_.insert(copy);
                handles_[shadow.key] = copy;
                copies_made<F>(shadow.key, plan, args);
            }
        }
    }

    template <Fn F>
    void mirror(const CallLine& call, InnerPlan& plan, ArgsOf<F> args) {
        const auto it = shadows_.find(Key{call.process, call.handle});
        if (it == shadows_.end()) {
            return;
        }
        for (const Shadow& shadow : it->second) {
            if (shadow.until < call.seq || api_.shared_clear != nullptr) {
                continue;
            }
            const auto copy = handles_.find(shadow.key);
            if (copy == handles_.end()) {
                continue;
            }
            std::get<0>(args) = copy->second;
            std::vector<velk_query_result_t> results;
            if constexpr (is_query(F)) {
                constexpr std::size_t kResults = F == vf::kBatchQuery ? 5 : 3;
                if (std::get<kResults>(args) != nullptr) {
                    results.assign(pending_capacity<F>(args), velk_query_result_t{});
                    std::get<kResults>(args) = results.data();
                }
            }
            Seen seen;
            if constexpr (is_get(F)) {
                std::get<F == vf::kBatchGet ? 5 : 4>(args) = &seen;
            }
            reset(plan);
            making.push_back(&plan);
            std::apply([&](auto... a) { through_layer<F>(plan.plan, a...); }, args);
            making.pop_back();
            if (!results.empty()) {
                target<vf::kQueryResultFree>()(results.data(), static_cast<std::int32_t>(results.size()));
            }
            if constexpr (is_destroy(F)) {
                alive_.erase(copy->second);
                handles_.erase(copy);
            }
            CallLine as_shadow = call;
            as_shadow.process = shadow.key.first;
            as_shadow.handle = shadow.key.second;
            mirror<F>(as_shadow, plan, args);
        }
    }

    // The room a query's results take: its count or its capacity.
    template <Fn F>
    static std::size_t pending_capacity(const ArgsOf<F>& args) {
        const std::int32_t count = std::get < F == vf::kBatchQuery ? 3 : 2 > (args);
        const std::int32_t capacity = std::get < F == vf::kBatchQuery ? 6 : 4 > (args);
        return std::max<std::size_t>(vj::at_least(count, capacity), 1);
    }

    static void reset(InnerPlan& plan) {
        plan.next = 0;
        plan.made = false;
        for (InnerPlan& inner : plan.inner) {
            reset(inner);
        }
    }

    void report(const CallLine& call, element line, Comparer::Found& found) {
        found.insert(found.end(), found_.begin(), found_.end());
        found_.clear();
        if (found.empty()) {
            return;
        }
        ++verdict_.diverged;
        element member;
        bool overlapped = false;
        if (LineReader::find(line, "overlapped", member) &&
            member.get_bool().get(overlapped) != simdjson::SUCCESS) {
            overlapped = false;
        }
        const bool processes = journal_.processes().size() > 1;
        for (const std::string& difference : found) {
            if (print_) {
                std::printf(
                    "call %llu %s%s: %s%s\n", static_cast<unsigned long long>(call.seq),
                    vf::kFunctions[call.fn].name,
                    processes ? (cat(" (process ", call.process) + ")").c_str() : "", difference.c_str(),
                    overlapped ? " (this call overlapped one of another thread or process: the two may "
                                 "have run in another order)"
                               : "");
            }
        }
        verdict_.differences[call.seq] = std::move(found);
    }

public:
    // Before each create, when the library keeps its stores in a server: the
    // store the recorded create named (VELKSHARED_STORE), one of the
    // replay's own for each name, so that handles of one store share it as
    // they did; else a store of its own, as each of the mock's handles is.
    void before_create(const CallLine& call, element line) {
        store_.clear();
        if (api_.shared_clear == nullptr) {
            return;
        }
        element named;
        std::string_view name;
        if (LineReader::find(line, "store", named) && named.get_string().get(name) == simdjson::SUCCESS) {
            store_ = cat("velk-replay:", getpid(), ":store:", name);
        } else {
            store_ = cat("velk-replay:", getpid(), ":", call.seq);
        }
        setenv("VELKSHARED_STORE", store_.c_str(), 1);
        if (cleared_.insert(store_).second) {
            api_.shared_clear(nullptr, store_.c_str());
        }
    }

private:
    Journal& journal_;
    const Api& api_;
    const Names& ignore_;
    bool print_;
    Verdict verdict_;
    std::map<Key, velk_client*> handles_;
    std::set<velk_client*> alive_;  // every handle made and not destroyed
    std::map<Key, std::string> stores_;
    std::set<std::string> cleared_;  // the replay's stores, emptied before their first use
    std::map<Key, Key> inherited_;
    std::map<Key, std::vector<Shadow>> shadows_;
    std::map<std::string, std::vector<velk_query_result_t>> results_;
    Arena arena_;
    std::vector<velk_query_result_t> pending_;
    std::string freeing_;
    std::string store_;
    Comparer::Found found_;
    bool first_create_seen_ = false;
};

// The collector of names: visits every answer of the table with records
// of each kind, so that every member name is seen.
struct NameCollector {
    Names& out;
    void nothing() {}
    void begin_out() {}
    void end_out() {}
    template <class T>
    void number(const char* name, T) {
        out.insert(name);
    }
    void real(const char* name, double) { out.insert(name); }
    void boolean(const char* name, bool) { out.insert(name); }
    template <std::size_t N>
    void field(const char* name, const char (&)[N]) {
        out.insert(name);
    }
    void text_bytes(const char* name, const char*, std::size_t) { out.insert(name); }
    void null_member(const char* name) { out.insert(name); }
    void value(const char* name, const void*, std::uint64_t) { out.insert(name); }
    void pairs_out(const char* name, const velk_meta_pair_t*, std::int32_t) { out.insert(name); }
    void numbers_out(const char* name, const std::int32_t*, std::int32_t) { out.insert(name); }
    template <class T, class Each>
    void records_out(const char* name, const T*, std::int32_t, Each&& each) {
        out.insert(name);
        const T blank{};
        each(*this, blank, 0);
    }
    template <class T, class Each>
    void listing(const char* name, const T* list, std::int32_t count, const char*, bool, Each&& each) {
        records_out(name, list, count, each);
    }
    template <class T, class Each>
    void record_out(const char* name, const T& record, Each&& each) {
        records_out(name, &record, 1, each);
    }
    template <class Seen>
    void callbacks(const char* name, const Seen&) {
        out.insert(name);
        const void* value = "";
        const std::uint64_t length = 0;
        const std::int32_t status = 1;
        vj::callback_call(*this, 1, &value, &length, &status);
    }
};

struct SeenAny {
    [[nodiscard]] bool called() const noexcept { return true; }
};

}  // namespace

namespace {
Limits the_limits;
}  // namespace

void set_limits(const Limits& limits) noexcept {
    the_limits = limits;
}

const Limits& limits() noexcept {
    return the_limits;
}

Api load_library(const std::string& which) {
    Api api;
    api.file = which == "mock" ? "libvelkmock.so.0" : which == "shared" ? "libvelkshared.so.0" : which;
    void* handle = dlopen(api.file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        throw Trouble{"cannot load " + api.file + ": " + (why != nullptr ? why : "unknown error")};
    }
    std::string missing;
    for (int fn = 0; fn < vf::kFunctionCount; ++fn) {
        api.functions[fn] = dlsym(handle, vf::kFunctions[fn].name);
        if (api.functions[fn] == nullptr) {
            missing +=
                missing.empty() ? vf::kFunctions[fn].name : std::string(", ") + vf::kFunctions[fn].name;
        }
    }
    if (!missing.empty()) {
        throw Trouble{api.file + " lacks " + missing};
    }
    api.shared_clear = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(handle, "velkshared_clear"));
    api.last_error = reinterpret_cast<const char* (*)()>(dlsym(handle, "velkshared_last_error"));
    return api;
}

Names known_names() {
    Names names{"order"};
    NameCollector collector{names};
    // Records of every kind, zeroed, behind every pointer an answer reads.
    alignas(std::max_align_t) static unsigned char blank[1 << 12] = {};
    for (int fn = 0; fn < vf::kFunctionCount; ++fn) {
        vj::with_function(static_cast<Fn>(fn), [&]<Fn F>() {
            ArgsOf<F> args{};
            std::apply(
                [&](auto&... a) {
                    ((a =
                          [&] {
                              using A = std::remove_reference_t<decltype(a)>;
                              if constexpr (std::is_pointer_v<A> &&
                                            !std::is_function_v<std::remove_pointer_t<A>>) {
                                  return reinterpret_cast<A>(blank);
                              } else if constexpr (std::is_integral_v<A>) {
                                  return A{1};
                              } else {
                                  return A{};
                              }
                          }()),
                     ...);
                },
                args);
            using R = ResultOf<F>;
            if constexpr (std::is_void_v<R>) {
                std::apply([&](auto... a) { vj::Calls<F>::out(collector, a...); }, args);
            } else if constexpr (std::is_same_v<R, const char*>) {
                vj::Calls<F>::out(collector, "");
            } else if constexpr (std::is_same_v<R, velk_client*>) {
                std::apply([&](auto... a) { vj::Calls<F>::out(collector, nullptr, a...); }, args);
            } else if constexpr (is_get(F)) {
                vj::Calls<F>::out(collector, 0, SeenAny{});
            } else {
                const R rc = is_query(F) || F == vf::kListNamespaces || F == vf::kGetNodes ? 1 : 0;
                std::apply([&](auto... a) { vj::Calls<F>::out(collector, rc, a...); }, args);
            }
        });
    }
    return names;
}

Verdict replay(Journal& journal, const Api& api, const Names& ignore, bool print) {
    Replay replay(journal, api, ignore, print);
    return replay.run();
}

}  // namespace velkjournal
