// SPDX-License-Identifier: MIT
// The fault layer's work on one call once its decision is made: answer it
// with the planned code, hand it to the next definition whole, or hand it
// on without the items it drops. libvelkfault runs every call through
// here; velk-journal runs each call of a journal through here again with
// the decision the journal recorded, so that a call a plan changed is
// changed the same way when it is made again.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "faults/decision.hpp"
#include "velkmock.h"

namespace velkfault::layer {

// The items a decision drops (at most the one of a per-item rule).
inline std::span<const Drop> drops_of(const Decision& decision, Drop& storage) noexcept {
    if (decision.kind != Decision::FailItem) {
        return {};
    }
    storage = Drop{decision.item, decision.code};
    return {&storage, 1};
}

// Walks the dropped items (sorted by item) beside the call's items.
class Dropped {
public:
    explicit Dropped(std::span<const Drop> drops) : drops_(drops) {}
    // The drop of item i, if it is dropped; items are asked in order.
    const Drop* at(std::size_t i) noexcept {
        while (next_ < drops_.size() && static_cast<std::size_t>(drops_[next_].item) < i) {
            ++next_;
        }
        return next_ < drops_.size() && static_cast<std::size_t>(drops_[next_].item) == i ? &drops_[next_]
                                                                                          : nullptr;
    }

private:
    std::span<const Drop> drops_;
    std::size_t next_ = 0;
};

// Batches with item and result records (put, delete with items, the
// low-level put). The dropped items are not passed on; every other record
// goes to the next library in order and comes back to its own slot. The
// records handed on start as copies of the caller's, so that a record the
// next library leaves alone (after its own failure) stays the caller's.
// With nothing left there is nothing to hand on: the call succeeded at
// everything it was given but the dropped items.
template <class Item, class Result, class Call>
std::int32_t without_items(const Item* items, std::int32_t count, Result* results,
                           std::span<const Drop> drops, Call&& call) {
    const auto n = static_cast<std::size_t>(count);
    std::vector<Item> kept_items;
    std::vector<Result> kept_results;
    try {
        kept_items.reserve(n);
        kept_results.reserve(n);
    } catch (const std::bad_alloc&) {
        return VELK_ERR_NO_MEMORY;
    }
    Dropped dropped(drops);
    for (std::size_t i = 0; i < n; ++i) {
        if (dropped.at(i) == nullptr) {
            kept_items.push_back(items[i]);
            kept_results.push_back(results[i]);
        }
    }
    const auto kept = static_cast<std::int32_t>(kept_items.size());
    const std::int32_t rc = kept == 0 ? VELK_OK : call(kept_items.data(), kept, kept_results.data());
    Dropped again(drops);
    for (std::size_t i = 0, j = 0; i < n; ++i) {
        if (const Drop* drop = again.at(i); drop != nullptr) {
            std::memset(&results[i], 0, sizeof results[i]);
            results[i].status = drop->status;
        } else {
            results[i] = kept_results[j++];
        }
    }
    return rc;
}

// The flat deletes: keys (and options) in, statuses out.
template <class Call>
std::int32_t without_keys(const char* const* keys, const std::int32_t* options, std::int32_t count,
                          std::int32_t* statuses, std::span<const Drop> drops, Call&& call) {
    const auto n = static_cast<std::size_t>(count);
    std::vector<const char*> kept_keys;
    std::vector<std::int32_t> kept_options;
    std::vector<std::int32_t> kept_statuses;
    try {
        kept_keys.reserve(n);
        kept_options.reserve(options != nullptr ? n : 0);
        kept_statuses.reserve(n);
    } catch (const std::bad_alloc&) {
        return VELK_ERR_NO_MEMORY;
    }
    Dropped dropped(drops);
    for (std::size_t i = 0; i < n; ++i) {
        if (dropped.at(i) == nullptr) {
            kept_keys.push_back(keys[i]);
            if (options != nullptr) {
                kept_options.push_back(options[i]);
            }
            kept_statuses.push_back(statuses[i]);
        }
    }
    const auto kept = static_cast<std::int32_t>(kept_keys.size());
    const std::int32_t rc = kept == 0
                                ? VELK_OK
                                : call(kept_keys.data(), options != nullptr ? kept_options.data() : nullptr,
                                       kept, kept_statuses.data());
    Dropped again(drops);
    for (std::size_t i = 0, j = 0; i < n; ++i) {
        if (const Drop* drop = again.at(i); drop != nullptr) {
            statuses[i] = drop->status;
        } else {
            statuses[i] = kept_statuses[j++];
        }
    }
    return rc;
}

// A function whose failure is its result. `next` makes the call with the
// next definition: it is looked for only when the call goes on.
template <class Result, class Next, class... Args>
Result answer(const Decision& decision, Next&& next, Args... args) {
    if (decision.kind == Decision::FailCall) {
        return static_cast<Result>(decision.code);
    }
    return next(args...);
}

// A create call: a failure is NULL, with errno for a negative code.
template <class Next, class Config>
velk_client* create(const Decision& decision, Next&& next, Config config) {
    if (decision.kind == Decision::FailCall) {
        if (decision.code < 0) {
            errno = -decision.code;  // INT32_MIN is refused when the rule is set
        }
        return nullptr;
    }
    return next(config);
}

template <class Next>
std::int32_t batch_put(const Decision& decision, std::span<const Drop> drops, Next&& next,
                       velk_client* client, const char* ns, const velk_put_item_t* items, std::int32_t count,
                       velk_put_result_t* results, std::int32_t capacity, const void* reserved) {
    if (!drops.empty()) {
        return without_items(
            items, count, results, drops,
            [&](const velk_put_item_t* kept, std::int32_t n, velk_put_result_t* kept_results) {
                return next(client, ns, kept, n, kept_results, n, reserved);
            });
    }
    return answer<std::int32_t>(decision, next, client, ns, items, count, results, capacity, reserved);
}

template <class Next>
std::int32_t batch_delete_items(const Decision& decision, std::span<const Drop> drops, Next&& next,
                                velk_client* client, const char* ns, const velk_delete_item_t* items,
                                std::int32_t count, velk_delete_result_t* results, std::int32_t capacity,
                                const void* reserved) {
    if (!drops.empty()) {
        return without_items(
            items, count, results, drops,
            [&](const velk_delete_item_t* kept, std::int32_t n, velk_delete_result_t* kept_results) {
                return next(client, ns, kept, n, kept_results, n, reserved);
            });
    }
    return answer<std::int32_t>(decision, next, client, ns, items, count, results, capacity, reserved);
}

template <class Next>
std::int32_t batch_delete(const Decision& decision, std::span<const Drop> drops, Next&& next,
                          velk_client* client, const char* ns, const char* const* keys, std::int32_t count,
                          const std::int32_t* options, std::int32_t* statuses, std::int32_t capacity,
                          const void* reserved) {
    if (!drops.empty()) {
        return without_keys(
            keys, options, count, statuses, drops,
            [&](const char* const* kept, const std::int32_t* kept_options, std::int32_t n,
                std::int32_t* out) { return next(client, ns, kept, n, kept_options, out, n, reserved); });
    }
    return answer<std::int32_t>(decision, next, client, ns, keys, count, options, statuses, capacity,
                                reserved);
}

template <class Next>
std::int32_t ll_batch_put(const Decision& decision, std::span<const Drop> drops, Next&& next,
                          velk_client* client, const velk_ll_put_item_t* items, std::int32_t count,
                          velk_put_result_t* results, std::int32_t capacity, const void* reserved,
                          const void* ignored) {
    if (!drops.empty()) {
        return without_items(
            items, count, results, drops,
            [&](const velk_ll_put_item_t* kept, std::int32_t n, velk_put_result_t* kept_results) {
                return next(client, kept, n, kept_results, n, reserved, ignored);
            });
    }
    return answer<std::int32_t>(decision, next, client, items, count, results, capacity, reserved, ignored);
}

template <class Next>
std::int32_t ll_batch_delete(const Decision& decision, std::span<const Drop> drops, Next&& next,
                             velk_client* client, const char* const* keys, std::int32_t count,
                             std::int32_t* statuses, std::int32_t capacity, const void* reserved,
                             const void* ignored) {
    if (!drops.empty()) {
        return without_keys(
            keys, nullptr, count, statuses, drops,
            [&](const char* const* kept, const std::int32_t*, std::int32_t n, std::int32_t* out) {
                return next(client, kept, n, out, n, reserved, ignored);
            });
    }
    return answer<std::int32_t>(decision, next, client, keys, count, statuses, capacity, reserved, ignored);
}

// How many items a per-item rule may drop one of: the call must be one the
// next library would accept, so that what it answers for the others is
// real. -1 otherwise: the call is passed on as it is.
constexpr std::int32_t droppable(bool arguments_ok, std::int32_t count, std::int32_t capacity) noexcept {
    return arguments_ok && count > 0 && capacity >= count ? count : -1;
}

}  // namespace velkfault::layer
