// SPDX-License-Identifier: MIT
// The 28 velk_ functions: each counts itself, waits its delay, then fails as
// planned or hands its arguments, unchanged, to the next definition; and,
// when the journal is on, writes its line (journal_calls.hpp).
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "faults/journal.hpp"
#include "faults/journal_calls.hpp"
#include "faults/registry.hpp"
#include "velkfault.h"
#include "velkmock.h"

namespace velkfault {
namespace {

// Where a call came from: the return address of the exported function, an
// address inside the caller's library (see next()).
#define VELKFAULT_CALLER __builtin_return_address(0)

// The next library's definition of the function F, with F's own type.
template <Fn F, class Signature>
Signature* next_as(const void* caller) noexcept {
    return reinterpret_cast<Signature*>(next(F, caller));
}

template <class First, class... Rest>
std::string handle_of(First first, Rest...) {
    if constexpr (std::is_convertible_v<First, const velk_client*>) {
        return journal::handle_name(first);
    } else {
        return "";
    }
}

// The journal's line of one call, when the journal is on: `rc` writes its
// answer, `out` what it wrote back. Running out of memory for it loses the
// line, never the call's answer; errno is kept.
template <Fn F, class Rc, class Out, class... Args>
void write_line(const journal::Call& call, const Decision& decision, bool taken, const std::string& handle,
                Rc&& rc, Out&& out, Args... args) {
    const int saved = errno;
    try {
        journal::Json json;
        json.text.reserve(4096);
        json.read_arrays = taken && decision.kind != Decision::FailCall;
        call.begin_line(json, decision, decision.delayed);
        json.key("handle");
        json.bytes(handle);
        json.key("args");
        json.open_object();
        journal::Describe<F>::args(json, args...);
        json.close_object();
        json.key("rc");
        rc(json, saved);
        json.key("out");
        out(json);
        json.close_object();
        journal::Call::write(json);
    } catch (const std::bad_alloc&) {
    }
    errno = saved;
}

// Whether the library took a call that answered `rc`: one refused for its
// arguments read none of its arrays.
constexpr bool taken(long long rc) {
    return rc != VELK_ERR_INVALID_ARGUMENT && rc != -EINVAL;
}

template <Fn F, class Result, class... Args>
void record(const journal::Call& call, const Decision& decision, Result result, Args... args) {
    if (!call.active()) {
        return;
    }
    if constexpr (std::is_same_v<Result, velk_client*>) {
        if (result != nullptr) {
            journal::name_handle(result);
        }
        write_line<F>(
            call, decision, true, journal::handle_name(result),
            [&](journal::Json& json, int error) {
                if (result != nullptr) {
                    json.bytes(journal::handle_name(result));
                    return;
                }
                json.null();
                json.key("errno");
                if (error == call.errno_before()) {
                    json.bytes("unchanged");
                } else {
                    json.number(error);
                }
            },
            [](journal::Json& json) { json.null(); }, args...);
    } else if constexpr (std::is_same_v<Result, const char*>) {
        write_line<F>(
            call, decision, true, "", [&](journal::Json& json, int) { json.string(result); },
            [](journal::Json& json) { json.null(); }, args...);
    } else {
        write_line<F>(
            call, decision, taken(result), handle_of(args...),
            [&](journal::Json& json, int) { json.number(result); },
            [&](journal::Json& json) { journal::Describe<F>::out(json, result, args...); }, args...);
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
            call, decision, true, handle_of(args...), [](journal::Json& json, int) { json.null(); },
            [&](journal::Json& json) { journal::Describe<F>::out(json, args...); }, args...);
    }
}

// A get's line: what its callback saw, call by call (null when it was not
// called through the journal).
template <Fn F, class... Args>
void record_get(const journal::Call& call, const Decision& decision, std::int32_t result,
                const journal::Json* callbacks, Args... args) {
    if (call.active()) {
        write_line<F>(
            call, decision, taken(result), handle_of(args...),
            [&](journal::Json& json, int) { json.number(result); },
            [&](journal::Json& json) {
                if (callbacks == nullptr) {
                    json.null();
                    return;
                }
                json.open_object();
                json.key("callbacks");
                json.embed(*callbacks);
                json.close_object();
            },
            args...);
    }
}

// A function whose failure is a status code.
template <Fn F, class Result, class... Args>
Result status_call(const void* caller, Args... args) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    const Result result = decision.kind == Decision::FailCall ? static_cast<Result>(decision.code)
                                                              : next_as<F, Result(Args...)>(caller)(args...);
    record<F>(call, decision, result, args...);
    return result;
}

// A create call: a failure is NULL, with errno for a negative code.
template <Fn F, class Config>
velk_client* create_call(const void* caller, Config config) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    velk_client* client = nullptr;
    if (decision.kind == Decision::FailCall) {
        if (decision.code < 0) {
            errno = -decision.code;  // INT32_MIN is refused when the rule is set
        }
    } else {
        client = next_as<F, velk_client*(Config)>(caller)(config);
    }
    record<F>(call, decision, client, config);
    return client;
}

// Functions that cannot fail: counted, delayed, passed on. A destroy's
// handle and a free's results are named before they go.
template <Fn F, class Result, class... Args>
Result plain_call(const void* caller, Args... args) {
    const journal::Call call(F);
    const Decision decision = enter(F, -1);
    if constexpr (F == kMetricsCtxReset) {
        next_as<F, Result(Args...)>(caller)(args...);
        record_nothing<F>(call, decision, args...);  // what the reset left
    } else if constexpr (std::is_void_v<Result>) {
        // Written first: the names of the handle or the results hold only
        // until the call releases them.
        record_nothing<F>(call, decision, args...);
        next_as<F, Result(Args...)>(caller)(args...);
        if constexpr (F == kClientDestroy || F == kLlClientDestroy) {
            if (call.active()) {
                journal::forget_handle(args...);
            }
        }
    } else {
        const Result result = next_as<F, Result(Args...)>(caller)(args...);
        record<F>(call, decision, result, args...);
        return result;
    }
}

// A get's callback, seen by the journal on its way to the program's.
struct CallbackLog {
    velk_get_callback_t callback;
    void* user_data;
    journal::Json calls;
};

extern "C" int journal_callback(int32_t count, const void* const* values, const uint64_t* lens,
                                const int32_t* statuses, void* data) {
    auto* log = static_cast<CallbackLog*>(data);
    try {
        journal::callback_call(log->calls, count, values, lens, statuses, journal::values());
    } catch (const std::bad_alloc&) {
    }
    const journal::ProgramCode program;  // the callback's own calls are the program's
    return log->callback(count, values, lens, statuses, log->user_data);
}

// How many items a per-item rule may drop one of: the call must be one the
// next library would accept, so that what it answers for the others is
// real. -1 otherwise: the call is passed on as it is.
std::int32_t droppable(bool arguments_ok, std::int32_t count, std::int32_t capacity) noexcept {
    return arguments_ok && count > 0 && capacity >= count ? count : -1;
}

// Batch calls with item and result records (put, delete with items, the
// low-level put). Item `dropped` is not passed on; every other record goes
// to the next library in order and comes back to its own slot. The records
// handed on start as copies of the caller's, so a record the next library
// leaves alone (after its own failure) stays the caller's.
template <class Item, class Result, class Call>
std::int32_t without_item(const Item* items, std::int32_t count, Result* results, const Decision& decision,
                          Call&& call) {
    const auto n = static_cast<std::size_t>(count);
    const auto dropped = static_cast<std::size_t>(decision.item);
    std::vector<Item> kept_items;
    std::vector<Result> kept_results;
    try {
        kept_items.reserve(n - 1);
        kept_results.reserve(n - 1);
    } catch (const std::bad_alloc&) {
        return VELK_ERR_NO_MEMORY;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (i != dropped) {
            kept_items.push_back(items[i]);
            kept_results.push_back(results[i]);
        }
    }
    // With nothing left there is nothing to hand on: the call succeeded at
    // everything it was given but the failed item.
    const std::int32_t rc = n == 1 ? VELK_OK : call(kept_items.data(), count - 1, kept_results.data());
    for (std::size_t i = 0, j = 0; i < n; ++i) {
        if (i != dropped) {
            results[i] = kept_results[j++];
        }
    }
    std::memset(&results[dropped], 0, sizeof results[dropped]);
    results[dropped].status = decision.code;
    return rc;
}

// The flat deletes: keys (and options) in, statuses out.
template <class Call>
std::int32_t without_key(const char* const* keys, const std::int32_t* options, std::int32_t count,
                         std::int32_t* statuses, const Decision& decision, Call&& call) {
    const auto n = static_cast<std::size_t>(count);
    const auto dropped = static_cast<std::size_t>(decision.item);
    std::vector<const char*> kept_keys;
    std::vector<std::int32_t> kept_options;
    std::vector<std::int32_t> kept_statuses;
    try {
        kept_keys.reserve(n - 1);
        kept_options.reserve(options != nullptr ? n - 1 : 0);
        kept_statuses.reserve(n - 1);
    } catch (const std::bad_alloc&) {
        return VELK_ERR_NO_MEMORY;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (i != dropped) {
            kept_keys.push_back(keys[i]);
            if (options != nullptr) {
                kept_options.push_back(options[i]);
            }
            kept_statuses.push_back(statuses[i]);
        }
    }
    const std::int32_t rc = n == 1
                                ? VELK_OK
                                : call(kept_keys.data(), options != nullptr ? kept_options.data() : nullptr,
                                       count - 1, kept_statuses.data());
    for (std::size_t i = 0, j = 0; i < n; ++i) {
        if (i != dropped) {
            statuses[i] = kept_statuses[j++];
        }
    }
    statuses[dropped] = decision.code;
    return rc;
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
    const void* caller = VELKFAULT_CALLER;
    const journal::Call call(kBatchPut);
    const Decision decision = enter(
        kBatchPut, droppable(client != nullptr && ns != nullptr && items != nullptr && results != nullptr,
                             count, result_capacity));
    int32_t rc = decision.code;
    if (decision.kind == Decision::FailItem) {
        rc = without_item(items, count, results, decision,
                          [&](const velk_put_item_t* kept, int32_t n, velk_put_result_t* kept_results) {
                              return next_as<kBatchPut, Next>(caller)(client, ns, kept, n, kept_results, n,
                                                                      reserved);
                          });
    } else if (decision.kind == Decision::Pass) {
        rc = next_as<kBatchPut, Next>(caller)(client, ns, items, count, results, result_capacity, reserved);
    }
    record<kBatchPut>(call, decision, rc, client, ns, items, count, results, result_capacity, reserved);
    return rc;
}

VELKFAULT_API int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, velk_get_callback_t callback, void* user_data,
                                     const void* reserved) {
    using Next = int32_t(velk_client*, const char*, const velk_get_item_t*, int32_t, velk_get_callback_t,
                         void*, const void*);
    const void* caller = VELKFAULT_CALLER;
    const journal::Call call(kBatchGet);
    const Decision decision = enter(kBatchGet, -1);
    if (decision.kind == Decision::FailCall) {
        record_get<kBatchGet>(call, decision, decision.code, nullptr, client, ns, items, count, callback,
                              user_data, reserved);
        return decision.code;
    }
    if (!call.active() || callback == nullptr) {
        const int32_t rc =
            next_as<kBatchGet, Next>(caller)(client, ns, items, count, callback, user_data, reserved);
        record_get<kBatchGet>(call, decision, rc, nullptr, client, ns, items, count, callback, user_data,
                              reserved);
        return rc;
    }
    // The callback goes through the journal, which sees what it is lent.
    CallbackLog log{callback, user_data, {}};
    log.calls.open_array();
    const int32_t rc =
        next_as<kBatchGet, Next>(caller)(client, ns, items, count, journal_callback, &log, reserved);
    log.calls.close_array();
    record_get<kBatchGet>(call, decision, rc, &log.calls, client, ns, items, count, callback, user_data,
                          reserved);
    return rc;
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
    const void* caller = VELKFAULT_CALLER;
    const journal::Call call(kBatchDeleteItems);
    const Decision decision = enter(kBatchDeleteItems, droppable(client != nullptr && ns != nullptr &&
                                                                     items != nullptr && results != nullptr,
                                                                 count, result_capacity));
    int32_t rc = decision.code;
    if (decision.kind == Decision::FailItem) {
        rc = without_item(items, count, results, decision,
                          [&](const velk_delete_item_t* kept, int32_t n, velk_delete_result_t* kept_results) {
                              return next_as<kBatchDeleteItems, Next>(caller)(client, ns, kept, n,
                                                                              kept_results, n, reserved);
                          });
    } else if (decision.kind == Decision::Pass) {
        rc = next_as<kBatchDeleteItems, Next>(caller)(client, ns, items, count, results, result_capacity,
                                                      reserved);
    }
    record<kBatchDeleteItems>(call, decision, rc, client, ns, items, count, results, result_capacity,
                              reserved);
    return rc;
}

VELKFAULT_API int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                        int32_t count, const int32_t* options, int32_t* statuses,
                                        int32_t status_capacity, const void* reserved) {
    using Next = int32_t(velk_client*, const char*, const char* const*, int32_t, const int32_t*, int32_t*,
                         int32_t, const void*);
    const void* caller = VELKFAULT_CALLER;
    const journal::Call call(kBatchDelete);
    const Decision decision = enter(
        kBatchDelete, droppable(client != nullptr && ns != nullptr && keys != nullptr && statuses != nullptr,
                                count, status_capacity));
    int32_t rc = decision.code;
    if (decision.kind == Decision::FailItem) {
        rc = without_key(keys, options, count, statuses, decision,
                         [&](const char* const* kept, const int32_t* kept_options, int32_t n, int32_t* out) {
                             return next_as<kBatchDelete, Next>(caller)(client, ns, kept, n, kept_options,
                                                                        out, n, reserved);
                         });
    } else if (decision.kind == Decision::Pass) {
        rc = next_as<kBatchDelete, Next>(caller)(client, ns, keys, count, options, statuses, status_capacity,
                                                 reserved);
    }
    record<kBatchDelete>(call, decision, rc, client, ns, keys, count, options, statuses, status_capacity,
                         reserved);
    return rc;
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
    const void* caller = VELKFAULT_CALLER;
    const journal::Call call(kLlBatchPut);
    const Decision decision =
        enter(kLlBatchPut,
              droppable(client != nullptr && items != nullptr && results != nullptr, count, result_capacity));
    int32_t rc = decision.code;
    if (decision.kind == Decision::FailItem) {
        rc = without_item(items, count, results, decision,
                          [&](const velk_ll_put_item_t* kept, int32_t n, velk_put_result_t* kept_results) {
                              return next_as<kLlBatchPut, Next>(caller)(client, kept, n, kept_results, n,
                                                                        reserved, ignored);
                          });
    } else if (decision.kind == Decision::Pass) {
        rc = next_as<kLlBatchPut, Next>(caller)(client, items, count, results, result_capacity, reserved,
                                                ignored);
    }
    record<kLlBatchPut>(call, decision, rc, client, items, count, results, result_capacity, reserved,
                        ignored);
    return rc;
}

VELKFAULT_API int32_t velk_ll_batch_get(velk_client* client, const char* const* keys, int32_t count,
                                        velk_get_callback_t callback, void* user_data, const void* reserved,
                                        const void* ignored) {
    using Next = int32_t(velk_client*, const char* const*, int32_t, velk_get_callback_t, void*, const void*,
                         const void*);
    const void* caller = VELKFAULT_CALLER;
    const journal::Call call(kLlBatchGet);
    const Decision decision = enter(kLlBatchGet, -1);
    if (decision.kind == Decision::FailCall) {
        record_get<kLlBatchGet>(call, decision, decision.code, nullptr, client, keys, count, callback,
                                user_data, reserved, ignored);
        return decision.code;
    }
    if (!call.active() || callback == nullptr) {
        const int32_t rc =
            next_as<kLlBatchGet, Next>(caller)(client, keys, count, callback, user_data, reserved, ignored);
        record_get<kLlBatchGet>(call, decision, rc, nullptr, client, keys, count, callback, user_data,
                                reserved, ignored);
        return rc;
    }
    CallbackLog log{callback, user_data, {}};
    log.calls.open_array();
    const int32_t rc =
        next_as<kLlBatchGet, Next>(caller)(client, keys, count, journal_callback, &log, reserved, ignored);
    log.calls.close_array();
    record_get<kLlBatchGet>(call, decision, rc, &log.calls, client, keys, count, callback, user_data,
                            reserved, ignored);
    return rc;
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
    const void* caller = VELKFAULT_CALLER;
    const journal::Call call(kLlBatchDelete);
    const Decision decision =
        enter(kLlBatchDelete,
              droppable(client != nullptr && keys != nullptr && statuses != nullptr, count, status_capacity));
    int32_t rc = decision.code;
    if (decision.kind == Decision::FailItem) {
        rc = without_key(keys, nullptr, count, statuses, decision,
                         [&](const char* const* kept, const int32_t*, int32_t n, int32_t* out) {
                             return next_as<kLlBatchDelete, Next>(caller)(client, kept, n, out, n, reserved,
                                                                          ignored);
                         });
    } else if (decision.kind == Decision::Pass) {
        rc = next_as<kLlBatchDelete, Next>(caller)(client, keys, count, statuses, status_capacity, reserved,
                                                   ignored);
    }
    record<kLlBatchDelete>(call, decision, rc, client, keys, count, statuses, status_capacity, reserved,
                           ignored);
    return rc;
}

VELKFAULT_API int32_t velk_ll_batch_query(velk_client* client, const char* const* keys, int32_t count,
                                          velk_query_result_t* results, int32_t result_capacity,
                                          const void* ignored) {
    return status_call<kLlBatchQuery, int32_t>(VELKFAULT_CALLER, client, keys, count, results,
                                               result_capacity, ignored);
}

}  // extern "C"
