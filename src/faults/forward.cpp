// SPDX-License-Identifier: MIT
// The 28 velk_ functions: each counts itself, waits its delay, then fails as
// planned or hands its arguments, unchanged, to the next definition.
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

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

// A function whose failure is a status code.
template <Fn F, class Result, class... Args>
Result status_call(const void* caller, Args... args) {
    const Decision decision = enter(F, -1);
    if (decision.kind == Decision::FailCall) {
        return static_cast<Result>(decision.code);
    }
    return next_as<F, Result(Args...)>(caller)(args...);
}

// A create call: a failure is NULL, with errno for a negative code.
template <Fn F, class Config>
velk_client* create_call(const void* caller, Config config) {
    const Decision decision = enter(F, -1);
    if (decision.kind == Decision::FailCall) {
        if (decision.code < 0) {
            errno = -decision.code;  // INT32_MIN is refused when the rule is set
        }
        return nullptr;
    }
    return next_as<F, velk_client*(Config)>(caller)(config);
}

// Functions that cannot fail: counted, delayed, passed on.
template <Fn F, class Result, class... Args>
Result plain_call(const void* caller, Args... args) {
    enter(F, -1);
    return next_as<F, Result(Args...)>(caller)(args...);
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
    const Decision decision = enter(
        kBatchPut, droppable(client != nullptr && ns != nullptr && items != nullptr && results != nullptr,
                             count, result_capacity));
    if (decision.kind == Decision::FailCall) {
        return decision.code;
    }
    if (decision.kind == Decision::FailItem) {
        return without_item(items, count, results, decision,
                            [&](const velk_put_item_t* kept, int32_t n, velk_put_result_t* kept_results) {
                                return next_as<kBatchPut, Next>(caller)(client, ns, kept, n, kept_results, n,
                                                                        reserved);
                            });
    }
    return next_as<kBatchPut, Next>(caller)(client, ns, items, count, results, result_capacity, reserved);
}

VELKFAULT_API int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, velk_get_callback_t callback, void* user_data,
                                     const void* reserved) {
    return status_call<kBatchGet, int32_t>(VELKFAULT_CALLER, client, ns, items, count, callback, user_data,
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
    const void* caller = VELKFAULT_CALLER;
    const Decision decision = enter(kBatchDeleteItems, droppable(client != nullptr && ns != nullptr &&
                                                                     items != nullptr && results != nullptr,
                                                                 count, result_capacity));
    if (decision.kind == Decision::FailCall) {
        return decision.code;
    }
    if (decision.kind == Decision::FailItem) {
        return without_item(
            items, count, results, decision,
            [&](const velk_delete_item_t* kept, int32_t n, velk_delete_result_t* kept_results) {
                return next_as<kBatchDeleteItems, Next>(caller)(client, ns, kept, n, kept_results, n,
                                                                reserved);
            });
    }
    return next_as<kBatchDeleteItems, Next>(caller)(client, ns, items, count, results, result_capacity,
                                                    reserved);
}

VELKFAULT_API int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                        int32_t count, const int32_t* options, int32_t* statuses,
                                        int32_t status_capacity, const void* reserved) {
    using Next = int32_t(velk_client*, const char*, const char* const*, int32_t, const int32_t*, int32_t*,
                         int32_t, const void*);
    const void* caller = VELKFAULT_CALLER;
    const Decision decision = enter(
        kBatchDelete, droppable(client != nullptr && ns != nullptr && keys != nullptr && statuses != nullptr,
                                count, status_capacity));
    if (decision.kind == Decision::FailCall) {
        return decision.code;
    }
    if (decision.kind == Decision::FailItem) {
        return without_key(
            keys, options, count, statuses, decision,
            [&](const char* const* kept, const int32_t* kept_options, int32_t n, int32_t* out) {
                return next_as<kBatchDelete, Next>(caller)(client, ns, kept, n, kept_options, out, n,
                                                           reserved);
            });
    }
    return next_as<kBatchDelete, Next>(caller)(client, ns, keys, count, options, statuses, status_capacity,
                                               reserved);
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
    const Decision decision =
        enter(kLlBatchPut,
              droppable(client != nullptr && items != nullptr && results != nullptr, count, result_capacity));
    if (decision.kind == Decision::FailCall) {
        return decision.code;
    }
    if (decision.kind == Decision::FailItem) {
        return without_item(items, count, results, decision,
                            [&](const velk_ll_put_item_t* kept, int32_t n, velk_put_result_t* kept_results) {
                                return next_as<kLlBatchPut, Next>(caller)(client, kept, n, kept_results, n,
                                                                          reserved, ignored);
                            });
    }
    return next_as<kLlBatchPut, Next>(caller)(client, items, count, results, result_capacity, reserved,
                                              ignored);
}

VELKFAULT_API int32_t velk_ll_batch_get(velk_client* client, const char* const* keys, int32_t count,
                                        velk_get_callback_t callback, void* user_data, const void* reserved,
                                        const void* ignored) {
    return status_call<kLlBatchGet, int32_t>(VELKFAULT_CALLER, client, keys, count, callback, user_data,
                                             reserved, ignored);
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
    const Decision decision =
        enter(kLlBatchDelete,
              droppable(client != nullptr && keys != nullptr && statuses != nullptr, count, status_capacity));
    if (decision.kind == Decision::FailCall) {
        return decision.code;
    }
    if (decision.kind == Decision::FailItem) {
        return without_key(keys, nullptr, count, statuses, decision,
                           [&](const char* const* kept, const int32_t*, int32_t n, int32_t* out) {
                               return next_as<kLlBatchDelete, Next>(caller)(client, kept, n, out, n, reserved,
                                                                            ignored);
                           });
    }
    return next_as<kLlBatchDelete, Next>(caller)(client, keys, count, statuses, status_capacity, reserved,
                                                 ignored);
}

VELKFAULT_API int32_t velk_ll_batch_query(velk_client* client, const char* const* keys, int32_t count,
                                          velk_query_result_t* results, int32_t result_capacity,
                                          const void* ignored) {
    return status_call<kLlBatchQuery, int32_t>(VELKFAULT_CALLER, client, keys, count, results,
                                               result_capacity, ignored);
}

}  // extern "C"
