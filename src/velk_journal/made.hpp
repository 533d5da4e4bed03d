// SPDX-License-Identifier: MIT
// How velk-journal makes a call: through the fault layer, with the effect
// the journal recorded for it, against the library replayed against; and
// the calls the library makes of itself inside one, which reach the 28
// functions velk-journal defines (exports.cpp) and are given the effect
// the journal recorded for them.
#pragma once

#include <time.h>

#include <cerrno>
#include <cstdint>
#include <span>
#include <tuple>
#include <type_traits>
#include <vector>

#include "faults/layer.hpp"
#include "velk_journal/input.hpp"
#include "velk_journal/replay.hpp"
#include "velkmock.h"

namespace velkjournal {

using velkfault::Decision;
using velkfault::Drop;
using velkfault::Fn;
namespace vf = velkfault;

// Each function's type, from the header.
template <Fn F>
struct Signature;
#define VELKJOURNAL_SIGNATURE(fn, function) \
    template <>                             \
    struct Signature<vf::fn> {              \
        using type = decltype(::function);  \
    };
VELKJOURNAL_SIGNATURE(kVersion, velk_version)
VELKJOURNAL_SIGNATURE(kRevision, velk_revision)
VELKJOURNAL_SIGNATURE(kBuildTime, velk_build_time)
VELKJOURNAL_SIGNATURE(kClientCreate, velk_client_create)
VELKJOURNAL_SIGNATURE(kClientDestroy, velk_client_destroy)
VELKJOURNAL_SIGNATURE(kMetricsCtxReset, velk_sdk_metrics_ctx_reset)
VELKJOURNAL_SIGNATURE(kClientGetMetrics, velk_client_get_metrics)
VELKJOURNAL_SIGNATURE(kMetricsSerialize, velk_sdk_metrics_serialize)
VELKJOURNAL_SIGNATURE(kBatchPut, velk_batch_put)
VELKJOURNAL_SIGNATURE(kBatchGet, velk_batch_get)
VELKJOURNAL_SIGNATURE(kBatchGetInto, velk_batch_get_into)
VELKJOURNAL_SIGNATURE(kBatchDeleteItems, velk_batch_delete_items)
VELKJOURNAL_SIGNATURE(kBatchDelete, velk_batch_delete)
VELKJOURNAL_SIGNATURE(kBatchQuery, velk_batch_query)
VELKJOURNAL_SIGNATURE(kQueryResultFree, velk_query_result_free)
VELKJOURNAL_SIGNATURE(kCreateNamespace, velk_create_namespace)
VELKJOURNAL_SIGNATURE(kUpdateNamespace, velk_update_namespace)
VELKJOURNAL_SIGNATURE(kDeleteNamespace, velk_delete_namespace)
VELKJOURNAL_SIGNATURE(kGetNamespace, velk_get_namespace)
VELKJOURNAL_SIGNATURE(kListNamespaces, velk_list_namespaces)
VELKJOURNAL_SIGNATURE(kGetNodes, velk_get_nodes)
VELKJOURNAL_SIGNATURE(kLlCreate, velk_ll_create)
VELKJOURNAL_SIGNATURE(kLlClientDestroy, velk_ll_client_destroy)
VELKJOURNAL_SIGNATURE(kLlBatchPut, velk_ll_batch_put)
VELKJOURNAL_SIGNATURE(kLlBatchGet, velk_ll_batch_get)
VELKJOURNAL_SIGNATURE(kLlBatchGetInto, velk_ll_batch_get_into)
VELKJOURNAL_SIGNATURE(kLlBatchDelete, velk_ll_batch_delete)
VELKJOURNAL_SIGNATURE(kLlBatchQuery, velk_ll_batch_query)
#undef VELKJOURNAL_SIGNATURE

template <class T>
struct Traits;
template <class R, class... A>
struct Traits<R(A...)> {
    using Result = R;
    using Args = std::tuple<A...>;
};
template <Fn F>
using ResultOf = typename Traits<typename Signature<F>::type>::Result;
template <Fn F>
using ArgsOf = typename Traits<typename Signature<F>::type>::Args;

template <Fn F>
constexpr bool kOnHandle = [] {
    if constexpr (std::tuple_size_v<ArgsOf<F>> == 0) {
        return false;
    } else {
        using First = std::tuple_element_t<0, ArgsOf<F>>;
        return std::is_same_v<First, velk_client*> || std::is_same_v<First, const velk_client*>;
    }
}();
constexpr bool is_get(Fn fn) {
    return fn == vf::kBatchGet || fn == vf::kLlBatchGet;
}
constexpr bool is_query(Fn fn) {
    return fn == vf::kBatchQuery || fn == vf::kLlBatchQuery;
}
constexpr bool is_destroy(Fn fn) {
    return fn == vf::kClientDestroy || fn == vf::kLlClientDestroy;
}

// The library replayed against, for the calls it makes of itself too.
inline const Api* library = nullptr;

template <Fn F>
auto target() {
    return reinterpret_cast<typename Signature<F>::type*>(library->functions[F]);
}

// A call through the fault layer, with the effect the journal recorded.
template <Fn F, class... A>
ResultOf<F> through_layer(const Planned& plan, A... a) {
    if (plan.decision.delay_us != 0) {
        timespec left{static_cast<time_t>(plan.decision.delay_us / 1000000),
                      static_cast<long>(plan.decision.delay_us % 1000000) * 1000};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
    const auto next = [](auto... x) {
        return target<F>()(x...);
    };
    const std::span<const Drop> drops(plan.drops);
    using R = ResultOf<F>;
    if constexpr (F == vf::kBatchPut) {
        return vf::layer::batch_put(plan.decision, drops, next, a...);
    } else if constexpr (F == vf::kBatchDeleteItems) {
        return vf::layer::batch_delete_items(plan.decision, drops, next, a...);
    } else if constexpr (F == vf::kBatchDelete) {
        return vf::layer::batch_delete(plan.decision, drops, next, a...);
    } else if constexpr (F == vf::kLlBatchPut) {
        return vf::layer::ll_batch_put(plan.decision, drops, next, a...);
    } else if constexpr (F == vf::kLlBatchDelete) {
        return vf::layer::ll_batch_delete(plan.decision, drops, next, a...);
    } else if constexpr (std::is_same_v<R, velk_client*>) {
        return vf::layer::create(plan.decision, next, a...);
    } else if constexpr (std::is_void_v<R> || std::is_same_v<R, const char*>) {
        return next(a...);
    } else {
        return vf::layer::answer<R>(plan.decision, next, a...);
    }
}

// The calls a call made within it, as the journal recorded them, each with
// the plan's effect it had: applied again when the library makes them. The
// cache mode's evictions are not the library's: the replay makes them
// itself, after the call they are within.
struct InnerPlan {
    Fn fn = vf::kVersion;
    std::uint64_t seq = 0;
    Planned plan;
    std::vector<InnerPlan> inner;
    std::size_t next = 0;  // the first not yet made
    bool made = false;
    bool evicted = false;
};
inline std::vector<InnerPlan*> making;  // the calls in progress, innermost last

template <Fn F, class... A>
ResultOf<F> inner_call(A... a) {
    InnerPlan unrecorded;
    unrecorded.fn = F;
    InnerPlan* mine = &unrecorded;
    if (!making.empty()) {
        InnerPlan* outer = making.back();
        for (std::size_t i = outer->next; i < outer->inner.size(); ++i) {
            if (outer->inner[i].fn == F && !outer->inner[i].evicted) {
                mine = &outer->inner[i];
                outer->next = i + 1;
                break;
            }
        }
    }
    mine->made = true;
    making.push_back(mine);
    struct Pop {
        ~Pop() { making.pop_back(); }
    } pop;
    return through_layer<F>(mine->plan, a...);
}

}  // namespace velkjournal
