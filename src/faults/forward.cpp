// SPDX-License-Identifier: MIT
// The 28 velk_ functions: each counts itself, waits its delay, then goes
// through the fault layer (layer.hpp), which answers it as planned or
// hands it on to the next definition; with the cache mode on, tells it what
// the call did (cache_calls.hpp), and removes a put's victims; and, when the
// journal is on, writes its line (journal/calls.hpp says what it holds).
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "faults/cache_calls.hpp"
#include "faults/cache_engine.hpp"
#include "faults/layer.hpp"
#include "faults/plan.hpp"
#include "faults/registry.hpp"
#include "journal/calls.hpp"
#include "journal/journal.hpp"
#include "journal/writer.hpp"
#include "velkfault.h"
#include "velkmock.h"

namespace velkfault {
namespace {

// Where a call came from: the return address of the exported function, an
// address inside the caller's library (see next()).
#define VELKFAULT_CALLER __builtin_return_address(0)

// Makes the call with the next library's definition of F, found when the
// call goes on (a call a rule fails never looks for it).
template <Fn F, class Signature>
auto onward(const void* caller) {
    return [caller](auto... args) {
        return reinterpret_cast<Signature*>(next(F, caller))(args...);
    };
}

template <class First, class... Rest>
std::string handle_of(First first, Rest...) {
    if constexpr (std::is_convertible_v<First, const velk_client*>) {
        return journal::handle_name(first);
    } else {
        return "";
    }
}

// Whether the library took a call that answered `rc`: one refused for its
// arguments read none of its arrays.
constexpr bool taken(long long rc) {
    return rc != VELK_ERR_INVALID_ARGUMENT && rc != -EINVAL;
}

// The journal's line of one call, when the journal is on: `rc` writes its
// answer, `out` what it wrote back. Running out of memory for it loses the
// line, never the call's answer; errno is kept.
template <Fn F, class Rc, class Out, class... Args>
void write_line(const journal::Call& call, const Decision& decision, std::span<const Drop> drops, bool read,
                const std::string& handle, Rc&& rc, Out&& out, Args... args) {
    const int saved = errno;
    try {
        journal::Json& json = journal::line_buffer();
        call.begin_line(json, handle, decision, drops);
        journal::Writer writer(json, journal::values());
        writer.set_reading(read && decision.kind != Decision::FailCall, drops);
        json.key("args");
        json.open_object();
        std::tuple<Args...> given(args...);
        std::apply([&](auto&... a) { journal::Calls<F>::args(writer, a...); }, given);
        json.close_object();
        json.key("rc");
        rc(json, saved);
        json.key("out");
        out(writer);
        json.close_object();
        journal::write_line(json);
    } catch (const std::bad_alloc&) {
    }
    errno = saved;
}

template <Fn F, class Result, class... Args>
void record(const journal::Call& call, const Decision& decision, std::span<const Drop> drops, Result result,
            Args... args) {
    if (!call.active()) {
        return;
    }
    if constexpr (std::is_same_v<Result, velk_client*>) {
        if (result != nullptr) {
            journal::name_handle(result);
        }
        write_line<F>(
            call, decision, drops, true, journal::handle_name(result),
            [&](journal::Json& json, int error) {
                if (result != nullptr) {
                    json.bytes(journal::handle_name(result));
                } else {
                    json.null();
                    json.key("errno");
                    if (error == call.errno_before()) {
                        json.bytes("unchanged");
                    } else {
                        json.number(error);
                    }
                }
                // The store a shared store's create opens, by its variable:
                // handles of one store share it, which a replay keeps.
                json.key("store");
                json.string(std::getenv("VELKSHARED_STORE"));
            },
            [&](journal::Writer& w) { journal::Calls<F>::out(w, result, args...); }, args...);
    } else if constexpr (std::is_same_v<Result, const char*>) {
        write_line<F>(
            call, decision, drops, true, "", [&](journal::Json& json, int) { json.string(result); },
            [&](journal::Writer& w) { journal::Calls<F>::out(w, result); }, args...);
    } else {
        write_line<F>(
            call, decision, drops, taken(result), handle_of(args...),
            [&](journal::Json& json, int) { json.number(result); },
            [&](journal::Writer& w) { journal::Calls<F>::out(w, result, args...); }, args...);
        if constexpr (F == kBatchQuery || F == kLlBatchQuery) {
            // Its results, by the query's seq, for the free that follows.
            constexpr std::size_t kResults = F == kBatchQuery ? 5 : 3;
            if (result > 0) {
                journal::name_results(std::get<kResults>(std::tie(args...)), call.seq());
            }
        }
    }
}

// The same for a function that returns nothing.
template <Fn F, class... Args>
void record_nothing(const journal::Call& call, const Decision& decision, Args... args) {
    if (call.active()) {
        write_line<F>(
            call, decision, {}, true, handle_of(args...), [](journal::Json& json, int) { json.null(); },
            [&](journal::Writer& w) { journal::Calls<F>::out(w, args...); }, args...);
    }
}

// The functions whose answers the cache mode learns from; every other call
// passes it by without a look.
constexpr bool cache_learns(Fn fn) {
    return fn == kCreateNamespace || fn == kUpdateNamespace || fn == kDeleteNamespace ||
           fn == kBatchGetInto || fn == kLlBatchGetInto || fn == kBatchQuery || fn == kLlBatchQuery;
}

// The namespace a batch call works on: its argument, or the low-level
// calls' own.
template <Fn F, class First, class Second, class... Rest>
const char* namespace_of(First, Second second, Rest...) {
    if constexpr (F == kLlBatchPut || F == kLlBatchGet || F == kLlBatchGetInto || F == kLlBatchDelete ||
                  F == kLlBatchQuery) {
        return cache_calls::kLowLevelNamespace;
    } else {
        return second;
    }
}

// What a call that succeeded tells the cache mode: a namespace's declared
// settings, that it is gone, what each item of a read found.
template <Fn F, class Result, class... Args>
void learn(Result rc, Args... args) {
    namespace cc = cache_calls;
    const auto a = std::tie(args...);
    if constexpr (F == kCreateNamespace || F == kUpdateNamespace) {
        const velk_namespace_options_t* options = std::get<2>(a);
        if (rc == VELK_OK && (options != nullptr || F == kCreateNamespace)) {
            const std::string warning = cache::engine().declared(
                std::get<0>(a), std::get<1>(a), options != nullptr ? options->capacity_bytes : 0,
                options != nullptr ? options->eviction_policy : nullptr, F == kCreateNamespace);
            if (!warning.empty()) {
                std::fprintf(stderr, "%s\n", warning.c_str());
            }
        }
    } else if constexpr (F == kDeleteNamespace) {
        if (rc == VELK_OK) {
            cache::engine().namespace_deleted(std::get<0>(a), std::get<1>(a));
        }
    } else if constexpr (F == kBatchGetInto) {
        if (rc == VELK_OK) {
            const velk_get_item_t* items = std::get<2>(a);
            const std::int32_t* statuses = std::get<6>(a);
            const std::uint64_t* lens = std::get<7>(a);
            cc::read(std::get<0>(a), std::get<1>(a), static_cast<std::size_t>(std::get<3>(a)),
                     [&](std::size_t i) {
                         return cache::ReadItem{
                             items[i].key, cache::seen_by_get(statuses[i], lens[i], cc::filtered(items[i]))};
                     });
        }
    } else if constexpr (F == kLlBatchGetInto) {
        if (rc == VELK_OK) {
            const char* const* keys = std::get<1>(a);
            const std::int32_t* statuses = std::get<5>(a);
            const std::uint64_t* lens = std::get<6>(a);
            cc::read(std::get<0>(a), cc::kLowLevelNamespace, static_cast<std::size_t>(std::get<2>(a)),
                     [&](std::size_t i) {
                         return cache::ReadItem{keys[i], cache::seen_by_get(statuses[i], lens[i], false)};
                     });
        }
    } else if constexpr (F == kBatchQuery || F == kLlBatchQuery) {
        // A query fills as many records as it returns, one per key in order.
        constexpr bool flat = F == kLlBatchQuery;
        const char* ns = namespace_of<F>(args...);
        const char* const* keys = std::get<(flat ? 1 : 2)>(a);
        const std::int32_t count = std::get<(flat ? 2 : 3)>(a);
        const velk_query_result_t* results = std::get<(flat ? 3 : 5)>(a);
        if (rc > 0) {
            cc::read(std::get<0>(a), ns, static_cast<std::size_t>(rc < count ? rc : count),
                     [&](std::size_t i) {
                         return cache::ReadItem{keys[i], cache::seen_by_query(results[i].status)};
                     });
        }
    }
}

// The cache mode's work on a call never fails it: without memory for it,
// the call goes on unseen.
template <class Body>
void unless_out_of_memory(Body&& body) noexcept {
    try {
        body();
    } catch (const std::bad_alloc&) {
    }
}

// A function whose failure is a status code.
template <Fn F, class Result, class... Args>
Result status_call(const void* caller, Args... args) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    const cache_calls::Observed observed;
    const Result result = layer::answer<Result>(decision, onward<F, Result(Args...)>(caller), args...);
    if constexpr (cache_learns(F)) {
        if (observed && decision.kind != Decision::FailCall) {
            unless_out_of_memory([&] { learn<F>(result, args...); });
        }
    }
    record<F>(call, decision, {}, result, args...);
    return result;
}

// A create call: a failure is NULL, with errno for a negative code.
template <Fn F, class Config>
velk_client* create_call(const void* caller, Config config) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    const cache_calls::Observed observed;
    velk_client* client = layer::create(decision, onward<F, velk_client*(Config)>(caller), config);
    if (observed && client != nullptr) {
        const int saved = errno;
        unless_out_of_memory([&] { cache::engine().created(client); });
        errno = saved;
    }
    record<F>(call, decision, {}, client, config);
    return client;
}

// Functions that cannot fail: counted, delayed, passed on. A destroy's
// handle and a free's results are named before they go.
template <Fn F, class Result, class... Args>
Result plain_call(const void* caller, Args... args) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    const auto go_on = onward<F, Result(Args...)>(caller);
    if constexpr (F == kMetricsCtxReset) {
        go_on(args...);
        record_nothing<F>(call, decision, args...);  // what the reset left
    } else if constexpr (F == kClientDestroy || F == kLlClientDestroy) {
        // Written first: the handle's name holds only until the call
        // releases it; and what the cache mode knew of it goes with it.
        record_nothing<F>(call, decision, args...);
        const cache_calls::Observed observed;
        if (observed) {
            unless_out_of_memory([&] { cache::engine().destroyed(args...); });
        }
        go_on(args...);
        if (call.active()) {
            journal::forget_handle(args...);
        }
    } else if constexpr (std::is_void_v<Result>) {
        // Written first: the names of the results hold only until the call
        // releases them.
        record_nothing<F>(call, decision, args...);
        go_on(args...);
    } else {
        const Result result = go_on(args...);
        record<F>(call, decision, {}, result, args...);
        return result;
    }
}

// A get's callback, seen by the journal and the cache mode on its way to
// the program's: what it is lent is what each item found.
struct CallbackLog {
    velk_get_callback_t callback;
    void* user_data;
    bool logging;
    journal::Json calls;
    // The cache mode's: the get's handle, namespace and items (or keys).
    bool counting = false;
    const void* client = nullptr;
    const char* ns = nullptr;
    const velk_get_item_t* items = nullptr;
    const char* const* keys = nullptr;

    [[nodiscard]] bool called() const noexcept { return logging; }
    [[nodiscard]] std::string_view json() const noexcept { return calls.text; }
};

extern "C" int journal_callback(int32_t count, const void* const* values, const uint64_t* lens,
                                const int32_t* statuses, void* data) {
    auto* log = static_cast<CallbackLog*>(data);
    if (log->logging) {
        try {
            journal::Writer writer(log->calls, journal::values());
            log->calls.open_object();
            journal::callback_call(writer, count, values, lens, statuses);
            log->calls.close_object();
        } catch (const std::bad_alloc&) {
        }
    }
    if (log->counting && count > 0) {
        unless_out_of_memory([&] {
            cache_calls::read(log->client, log->ns, static_cast<std::size_t>(count), [&](std::size_t i) {
                const bool filtered = log->items != nullptr && cache_calls::filtered(log->items[i]);
                return cache::ReadItem{log->items != nullptr ? log->items[i].key : log->keys[i],
                                       cache::seen_by_get(statuses[i], lens[i], filtered)};
            });
        });
    }
    // The callback's own calls are the program's.
    const journal::ProgramCode program;
    const cache_calls::ProgramCode own;
    return log->callback(count, values, lens, statuses, log->user_data);
}

// A get: the callback goes through the journal and the cache mode, which
// see what it is lent.
template <Fn F, class Signature, class... Rest>
int32_t get_call(const void* caller, velk_client* client, Rest... rest) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    const cache_calls::Observed observed;
    // The callback and its data sit at the same places in both gets.
    auto arguments = std::make_tuple(client, rest...);
    constexpr std::size_t kCallback = F == kBatchGet ? 4 : 3;
    const velk_get_callback_t callback = std::get<kCallback>(arguments);
    const bool answered = callback != nullptr && decision.kind != Decision::FailCall;
    CallbackLog log{callback, std::get<kCallback + 1>(arguments), call.active() && answered, {}};
    if (observed && answered) {
        log.counting = true;
        log.client = client;
        if constexpr (F == kBatchGet) {
            log.items = std::get<2>(arguments);
        } else {
            log.keys = std::get<1>(arguments);
        }
        log.ns = std::apply([](auto... a) { return namespace_of<F>(a...); }, arguments);
    }
    auto handed = arguments;
    if (log.logging || log.counting) {
        std::get<kCallback>(handed) = journal_callback;
        std::get<kCallback + 1>(handed) = &log;
    }
    if (log.logging) {
        log.calls.open_array();
    }
    const int32_t rc = std::apply(
        [&](auto... a) { return layer::answer<int32_t>(decision, onward<F, Signature>(caller), a...); },
        handed);
    if (call.active()) {
        if (log.logging) {
            log.calls.close_array();
        }
        std::apply(
            [&](auto... a) {
                write_line<F>(
                    call, decision, {}, taken(rc), journal::handle_name(client),
                    [&](journal::Json& json, int) { json.number(rc); },
                    [&](journal::Writer& w) { journal::Calls<F>::out(w, rc, log); }, a...);
            },
            arguments);
    }
    return rc;
}

// The cache mode's removal of a put's victims: one call of the next
// library's velk_batch_delete_items, made within the put and journaled as
// such. A victim it did not remove is known again.
void evict(const void* caller, velk_client* client, const char* ns,
           std::vector<cache::Victim>& victims) noexcept {
    const int saved = errno;
    bool made = false;
    try {
        journal::Call call(kBatchDeleteItems);
        call.mark_evicted();
        const auto n = static_cast<std::int32_t>(
            std::min<std::size_t>(victims.size(), static_cast<std::size_t>(INT32_MAX)));
        cache_calls::Scratch<velk_delete_item_t> items(static_cast<std::size_t>(n));
        // (Result records are a quarter of a KiB each: on the heap, not on a
        // stack that may be a small thread's.)
        std::vector<velk_delete_result_t> results(static_cast<std::size_t>(n), velk_delete_result_t{});
        for (std::size_t i = 0; i < items.size(); ++i) {
            items[i] = velk_delete_item_t{victims[i].key.c_str(), 0, 0};
        }
        using Next = int32_t(velk_client*, const char*, const velk_delete_item_t*, int32_t,
                             velk_delete_result_t*, int32_t, const void*);
        const int32_t rc =
            onward<kBatchDeleteItems, Next>(caller)(client, ns, items.data(), n, results.data(), n, nullptr);
        made = true;
        record<kBatchDeleteItems>(call, Decision{}, {}, rc, client, ns,
                                  static_cast<const velk_delete_item_t*>(items.data()), n, results.data(), n,
                                  static_cast<const void*>(nullptr));
        std::vector<cache::Victim> kept;
        for (std::size_t i = 0; i < victims.size(); ++i) {
            const std::int32_t status = i < results.size() ? results[i].status : VELK_ERR_INVALID_ARGUMENT;
            if (rc != VELK_OK || (status != VELK_OK && status != VELK_ERR_NOT_FOUND)) {
                kept.push_back(std::move(victims[i]));
            }
        }
        if (!kept.empty()) {
            cache::engine().restore(client, ns, kept);
        }
    } catch (const std::bad_alloc&) {
        if (!made) {
            unless_out_of_memory([&] { cache::engine().restore(client, ns, victims); });
        }
    }
    errno = saved;
}

// A put the cache mode sees: the items it refuses are kept from the library
// beside the one a plan drops; when it returns, what it stored is known and
// its victims go, before it returns itself.
template <Fn F, class Signature, class Run, class... Args>
int32_t cached_put(const void* caller, const journal::Call& call, const Decision& decision,
                   std::span<const Drop> plan, std::int32_t droppable, Run&& run, Args... args) {
    constexpr bool flat = F == kLlBatchPut;
    const auto a = std::tie(args...);
    velk_client* client = std::get<0>(a);
    const char* ns = namespace_of<F>(args...);
    const auto* items = std::get<(flat ? 1 : 2)>(a);
    velk_put_result_t* results = std::get<(flat ? 3 : 4)>(a);
    const auto n = static_cast<std::size_t>(droppable);
    std::vector<Drop> drops;
    std::optional<cache_calls::Scratch<cache::Fate>> fates;
    std::optional<cache_calls::Scratch<std::uint64_t>> sizes;
    try {
        fates.emplace(n);
        sizes.emplace(n);
        cache_calls::refusals(client, ns, items, plan, fates->span(), sizes->span(), drops);
    } catch (const std::bad_alloc&) {
        fates.reset();
    }
    if (!fates) {
        const int32_t rc = run(decision, plan, onward<F, Signature>(caller), args...);
        record<F>(call, decision, plan, rc, args...);
        return rc;
    }
    const std::span<const Drop> handed = drops.empty() ? plan : std::span<const Drop>(drops);
    const int32_t rc = run(decision, handed, onward<F, Signature>(caller), args...);
    if (taken(rc)) {
        std::vector<cache::Victim> victims;
        const int saved = errno;
        unless_out_of_memory([&] {
            victims = cache_calls::stored(client, ns, items, results, rc, fates->span(), sizes->span());
        });
        errno = saved;
        if (!victims.empty()) {
            evict(caller, client, ns, victims);
        }
    }
    record<F>(call, decision, handed, rc, args...);
    return rc;
}

// What a delete that succeeded removed: the cache mode forgets it.
template <Fn F, class... Args>
void forget_deleted(std::span<const Drop> drops, Args... args) {
    const auto a = std::tie(args...);
    const void* client = std::get<0>(a);
    if constexpr (F == kBatchDeleteItems) {
        const velk_delete_item_t* items = std::get<2>(a);
        const velk_delete_result_t* results = std::get<4>(a);
        cache_calls::deleted(
            client, std::get<1>(a), static_cast<std::size_t>(std::get<3>(a)), drops,
            [&](std::size_t i) { return results[i].status == VELK_OK ? items[i].key : nullptr; });
    } else {
        constexpr bool flat = F == kLlBatchDelete;
        const char* ns = namespace_of<F>(args...);
        const char* const* keys = std::get<(flat ? 1 : 2)>(a);
        const std::int32_t* statuses = std::get<(flat ? 3 : 5)>(a);
        cache_calls::deleted(client, ns, static_cast<std::size_t>(std::get<(flat ? 2 : 3)>(a)), drops,
                             [&](std::size_t i) { return statuses[i] == VELK_OK ? keys[i] : nullptr; });
    }
}

// A batch whose items a rule may drop: `run` is the layer's function for it.
template <Fn F, class Signature, class Run, class... Args>
int32_t item_call(const void* caller, bool arguments_ok, int32_t count, int32_t capacity, Run&& run,
                  Args... args) {
    const journal::Call call(F);
    const std::int32_t droppable = layer::droppable(arguments_ok, count, capacity);
    const Decision decision = enter(F, droppable);
    Drop storage{};
    const std::span<const Drop> drops = layer::drops_of(decision, storage);
    const cache_calls::Observed observed;
    const bool seen = observed && decision.kind != Decision::FailCall;
    if constexpr (F == kBatchPut || F == kLlBatchPut) {
        // A put the library refuses for its arguments (the only kind no
        // item can be dropped from) does nothing the cache mode would see.
        if (seen && droppable > 0) {
            return cached_put<F, Signature>(caller, call, decision, drops, droppable, run, args...);
        }
    }
    const int32_t rc = run(decision, drops, onward<F, Signature>(caller), args...);
    if constexpr (F == kBatchDeleteItems || F == kBatchDelete || F == kLlBatchDelete) {
        if (seen && rc == VELK_OK) {
            const int saved = errno;
            unless_out_of_memory([&] { forget_deleted<F>(drops, args...); });
            errno = saved;
        }
    }
    record<F>(call, decision, drops, rc, args...);
    return rc;
}

// velkfault-run --cache's table at exit (VELKFAULT_CACHE_TABLE).
bool cache_table = false;

// Read once, when the library is loaded: a journal asked for and not to be
// had, or a plan that cannot be followed, stops the program before it
// runs, never silently. The refusals end the process with _exit, which
// gcov cannot record: run and checked by faults.preloaded_plans and
// journal.record_and_replay.
__attribute__((constructor)) void read_environment_at_load() {
    const int saved = errno;  // a journal not there yet leaves ENOENT behind
    std::string problem = journal::open_from_environment();
    if (problem.empty()) {
        problem = plan_from_environment();
        if (!problem.empty()) {
            problem = "VELKFAULT " + problem;  // GCOVR_EXCL_LINE
        }
    }
    if (problem.empty()) {
        problem = cache::from_environment();
    }
    const char* table = std::getenv("VELKFAULT_CACHE_TABLE");
    cache_table = table != nullptr && *table != '\0' && std::strcmp(table, "0") != 0;
    if (!problem.empty()) {  // GCOVR_EXCL_START
        std::fprintf(stderr, "libvelkfault: %s\n", problem.c_str());
        std::fflush(stderr);
        _exit(2);
    }  // GCOVR_EXCL_STOP
    errno = saved;
}

// At exit (and when the library is unloaded): the cache mode's report and
// table, when asked for.
__attribute__((destructor)) void report_cache_at_exit() {
    if (!cache::engine_in_use()) {
        return;  // the mode was never asked for
    }
    const std::string problem = [] {
        try {
            return cache::report_at_exit(cache_table);
        } catch (const std::bad_alloc&) {
            return std::string("libvelkfault: VELKFAULT_CACHE_REPORT: out of memory");
        }
    }();
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    }
}

}  // namespace
}  // namespace velkfault

using namespace velkfault;

extern "C" {

VELKFAULT_API const char* velk_version(void) {
    return plain_call<kVersion, const char*>(VELKFAULT_CALLER);
}
VELKFAULT_API const char* velk_revision(void) {
    return plain_call<kRevision, const char*>(VELKFAULT_CALLER);
}
VELKFAULT_API const char* velk_build_time(void) {
    return plain_call<kBuildTime, const char*>(VELKFAULT_CALLER);
}

VELKFAULT_API velk_client* velk_client_create(const void* config) {
    return create_call<kClientCreate>(VELKFAULT_CALLER, config);
}
VELKFAULT_API void velk_client_destroy(velk_client* client) {
    plain_call<kClientDestroy, void>(VELKFAULT_CALLER, client);
}

VELKFAULT_API void velk_sdk_metrics_ctx_reset(velk_sdk_metrics_ctx_t* ctx) {
    plain_call<kMetricsCtxReset, void>(VELKFAULT_CALLER, ctx);
}
VELKFAULT_API int32_t velk_client_get_metrics(const velk_client* client, velk_sdk_metrics_ctx_t* metrics) {
    return status_call<kClientGetMetrics, int32_t>(VELKFAULT_CALLER, client, metrics);
}
VELKFAULT_API int32_t velk_sdk_metrics_serialize(const velk_sdk_metrics_ctx_t* metrics, char* out,
                                                 uint64_t out_size, uint64_t* out_len) {
    return status_call<kMetricsSerialize, int32_t>(VELKFAULT_CALLER, metrics, out, out_size, out_len);
}

VELKFAULT_API int32_t velk_batch_put(velk_client* client, const char* ns, const velk_put_item_t* items,
                                     int32_t count, velk_put_result_t* results, int32_t result_capacity,
                                     const void* reserved) {
    using Next = int32_t(velk_client*, const char*, const velk_put_item_t*, int32_t, velk_put_result_t*,
                         int32_t, const void*);
    return item_call<kBatchPut, Next>(
        VELKFAULT_CALLER, client != nullptr && ns != nullptr && items != nullptr && results != nullptr, count,
        result_capacity, [](auto&&... a) { return layer::batch_put(a...); }, client, ns, items, count,
        results, result_capacity, reserved);
}

VELKFAULT_API int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, velk_get_callback_t callback, void* user_data,
                                     const void* reserved) {
    using Next = int32_t(velk_client*, const char*, const velk_get_item_t*, int32_t, velk_get_callback_t,
                         void*, const void*);
    return get_call<kBatchGet, Next>(VELKFAULT_CALLER, client, ns, items, count, callback, user_data,
                                     reserved);
}

VELKFAULT_API int32_t velk_batch_get_into(velk_client* client, const char* ns, const velk_get_item_t* items,
                                          int32_t count, void* const* buffers, const uint64_t* buffer_sizes,
                                          int32_t* statuses, uint64_t* value_lens, const void* reserved) {
    return status_call<kBatchGetInto, int32_t>(VELKFAULT_CALLER, client, ns, items, count, buffers,
                                               buffer_sizes, statuses, value_lens, reserved);
}

VELKFAULT_API int32_t velk_batch_delete_items(velk_client* client, const char* ns,
                                              const velk_delete_item_t* items, int32_t count,
                                              velk_delete_result_t* results, int32_t result_capacity,
                                              const void* reserved) {
    using Next = int32_t(velk_client*, const char*, const velk_delete_item_t*, int32_t, velk_delete_result_t*,
                         int32_t, const void*);
    return item_call<kBatchDeleteItems, Next>(
        VELKFAULT_CALLER, client != nullptr && ns != nullptr && items != nullptr && results != nullptr, count,
        result_capacity, [](auto&&... a) { return layer::batch_delete_items(a...); }, client, ns, items,
        count, results, result_capacity, reserved);
}

VELKFAULT_API int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                        int32_t count, const int32_t* options, int32_t* statuses,
                                        int32_t status_capacity, const void* reserved) {
    using Next = int32_t(velk_client*, const char*, const char* const*, int32_t, const int32_t*, int32_t*,
                         int32_t, const void*);
    return item_call<kBatchDelete, Next>(
        VELKFAULT_CALLER, client != nullptr && ns != nullptr && keys != nullptr && statuses != nullptr, count,
        status_capacity, [](auto&&... a) { return layer::batch_delete(a...); }, client, ns, keys, count,
        options, statuses, status_capacity, reserved);
}

VELKFAULT_API int32_t velk_batch_query(velk_client* client, const char* ns, const char* const* keys,
                                       int32_t count, const velk_query_options_t* options,
                                       velk_query_result_t* results, int32_t result_capacity) {
    return status_call<kBatchQuery, int32_t>(VELKFAULT_CALLER, client, ns, keys, count, options, results,
                                             result_capacity);
}

VELKFAULT_API void velk_query_result_free(velk_query_result_t* results, int32_t count) {
    plain_call<kQueryResultFree, void>(VELKFAULT_CALLER, results, count);
}

VELKFAULT_API int velk_create_namespace(velk_client* client, const char* ns,
                                        const velk_namespace_options_t* options) {
    return status_call<kCreateNamespace, int>(VELKFAULT_CALLER, client, ns, options);
}
VELKFAULT_API int velk_update_namespace(velk_client* client, const char* ns,
                                        const velk_namespace_options_t* options) {
    return status_call<kUpdateNamespace, int>(VELKFAULT_CALLER, client, ns, options);
}
VELKFAULT_API int velk_delete_namespace(velk_client* client, const char* ns) {
    return status_call<kDeleteNamespace, int>(VELKFAULT_CALLER, client, ns);
}
VELKFAULT_API int velk_get_namespace(velk_client* client, const char* ns, velk_namespace_info_t* info) {
    return status_call<kGetNamespace, int>(VELKFAULT_CALLER, client, ns, info);
}
VELKFAULT_API int velk_list_namespaces(velk_client* client, velk_namespace_info_t* infos, int info_capacity,
                                       int* total) {
    return status_call<kListNamespaces, int>(VELKFAULT_CALLER, client, infos, info_capacity, total);
}

VELKFAULT_API int velk_get_nodes(velk_client* client, const velk_node_selector_t* selector,
                                 velk_node_info_t* nodes, int node_capacity) {
    return status_call<kGetNodes, int>(VELKFAULT_CALLER, client, selector, nodes, node_capacity);
}

VELKFAULT_API velk_client* velk_ll_create(const velk_ll_config_t* config) {
    return create_call<kLlCreate>(VELKFAULT_CALLER, config);
}
VELKFAULT_API void velk_ll_client_destroy(velk_client* client) {
    plain_call<kLlClientDestroy, void>(VELKFAULT_CALLER, client);
}

VELKFAULT_API int32_t velk_ll_batch_put(velk_client* client, const velk_ll_put_item_t* items, int32_t count,
                                        velk_put_result_t* results, int32_t result_capacity,
                                        const void* reserved, const void* ignored) {
    using Next = int32_t(velk_client*, const velk_ll_put_item_t*, int32_t, velk_put_result_t*, int32_t,
                         const void*, const void*);
    return item_call<kLlBatchPut, Next>(
        VELKFAULT_CALLER, client != nullptr && items != nullptr && results != nullptr, count, result_capacity,
        [](auto&&... a) { return layer::ll_batch_put(a...); }, client, items, count, results, result_capacity,
        reserved, ignored);
}

VELKFAULT_API int32_t velk_ll_batch_get(velk_client* client, const char* const* keys, int32_t count,
                                        velk_get_callback_t callback, void* user_data, const void* reserved,
                                        const void* ignored) {
    using Next = int32_t(velk_client*, const char* const*, int32_t, velk_get_callback_t, void*, const void*,
                         const void*);
    return get_call<kLlBatchGet, Next>(VELKFAULT_CALLER, client, keys, count, callback, user_data, reserved,
                                       ignored);
}

VELKFAULT_API int32_t velk_ll_batch_get_into(velk_client* client, const char* const* keys, int32_t count,
                                             void* const* buffers, const uint64_t* buffer_sizes,
                                             int32_t* statuses, uint64_t* value_lens, const void* reserved) {
    return status_call<kLlBatchGetInto, int32_t>(VELKFAULT_CALLER, client, keys, count, buffers, buffer_sizes,
                                                 statuses, value_lens, reserved);
}

VELKFAULT_API int32_t velk_ll_batch_delete(velk_client* client, const char* const* keys, int32_t count,
                                           int32_t* statuses, int32_t status_capacity, const void* reserved,
                                           const void* ignored) {
    using Next =
        int32_t(velk_client*, const char* const*, int32_t, int32_t*, int32_t, const void*, const void*);
    return item_call<kLlBatchDelete, Next>(
        VELKFAULT_CALLER, client != nullptr && keys != nullptr && statuses != nullptr, count, status_capacity,
        [](auto&&... a) { return layer::ll_batch_delete(a...); }, client, keys, count, statuses,
        status_capacity, reserved, ignored);
}

VELKFAULT_API int32_t velk_ll_batch_query(velk_client* client, const char* const* keys, int32_t count,
                                          velk_query_result_t* results, int32_t result_capacity,
                                          const void* ignored) {
    return status_call<kLlBatchQuery, int32_t>(VELKFAULT_CALLER, client, keys, count, results,
                                               result_capacity, ignored);
}

}  // extern "C"
