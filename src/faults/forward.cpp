// SPDX-License-Identifier: MIT
// The 28 velk_ functions: each counts itself, waits its delay, then goes
// through the fault layer (layer.hpp), which answers it as planned or
// hands it on to the next definition; and, when the journal is on, writes
// its line (journal/calls.hpp says what it holds).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>

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

// A function whose failure is a status code.
template <Fn F, class Result, class... Args>
Result status_call(const void* caller, Args... args) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    const Result result = layer::answer<Result>(decision, onward<F, Result(Args...)>(caller), args...);
    record<F>(call, decision, {}, result, args...);
    return result;
}

// A create call: a failure is NULL, with errno for a negative code.
template <Fn F, class Config>
velk_client* create_call(const void* caller, Config config) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    velk_client* client = layer::create(decision, onward<F, velk_client*(Config)>(caller), config);
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
    } else if constexpr (std::is_void_v<Result>) {
        // Written first: the names of the handle or the results hold only
        // until the call releases them.
        record_nothing<F>(call, decision, args...);
        go_on(args...);
        if constexpr (F == kClientDestroy || F == kLlClientDestroy) {
            if (call.active()) {
                journal::forget_handle(args...);
            }
        }
    } else {
        const Result result = go_on(args...);
        record<F>(call, decision, {}, result, args...);
        return result;
    }
}

// A get's callback, seen by the journal on its way to the program's.
struct CallbackLog {
    velk_get_callback_t callback;
    void* user_data;
    bool logging;
    journal::Json calls;

    [[nodiscard]] bool called() const noexcept { return logging; }
    [[nodiscard]] std::string_view json() const noexcept { return calls.text; }
};

extern "C" int journal_callback(int32_t count, const void* const* values, const uint64_t* lens,
                                const int32_t* statuses, void* data) {
    auto* log = static_cast<CallbackLog*>(data);
    try {
        journal::Writer writer(log->calls, journal::values());
        log->calls.open_object();
        journal::callback_call(writer, count, values, lens, statuses);
        log->calls.close_object();
    } catch (const std::bad_alloc&) {
    }
    const journal::ProgramCode program;  // the callback's own calls are the program's
    return log->callback(count, values, lens, statuses, log->user_data);
}

// A get: the callback goes through the journal, which sees what it is lent.
template <Fn F, class Signature, class... Rest>
int32_t get_call(const void* caller, velk_client* client, Rest... rest) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    // The callback and its data sit at the same places in both gets.
    auto arguments = std::make_tuple(client, rest...);
    constexpr std::size_t kCallback = F == kBatchGet ? 4 : 3;
    const velk_get_callback_t callback = std::get<kCallback>(arguments);
    CallbackLog log{callback,
                    std::get<kCallback + 1>(arguments),
                    call.active() && callback != nullptr && decision.kind != Decision::FailCall,
                    {}};
    auto handed = arguments;
    if (log.logging) {
        log.calls.open_array();
        std::get<kCallback>(handed) = journal_callback;
        std::get<kCallback + 1>(handed) = &log;
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

// A batch whose items a rule may drop: `run` is the layer's function for it.
template <Fn F, class Signature, class Run, class... Args>
int32_t item_call(const void* caller, bool arguments_ok, int32_t count, int32_t capacity, Run&& run,
                  Args... args) {
    const journal::Call call(F);
    const Decision decision = enter(F, layer::droppable(arguments_ok, count, capacity));
    Drop storage{};
    const std::span<const Drop> drops = layer::drops_of(decision, storage);
    const int32_t rc = run(decision, drops, onward<F, Signature>(caller), args...);
    record<F>(call, decision, drops, rc, args...);
    return rc;
}

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
    if (!problem.empty()) {  // GCOVR_EXCL_START
        std::fprintf(stderr, "libvelkfault: %s\n", problem.c_str());
        std::fflush(stderr);
        _exit(2);
    }  // GCOVR_EXCL_STOP
    errno = saved;
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
