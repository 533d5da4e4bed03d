// SPDX-License-Identifier: MIT
// What the journal holds of each of the 28 functions, in one table that
// every reader of the journal's contract goes through: the journal writes
// a call's line with it, velk-journal builds the call again from the line
// with it and compares the answer it gets with the one recorded with it.
//
// Each function has two entries, written once as templates over a visitor:
//
//   args(v, arguments...)    the arguments as the caller gave them (a NULL
//                            stays null, a count stays as it was), each
//                            array as far as the library reads it;
//   out(v, rc, arguments...) what the call wrote back, or nothing.
//
// The writer visits them to write JSON; the replay's builder visits args
// to make the arguments again (arrays it allocates itself); its comparer
// visits out with the replayed call's records beside the recorded JSON;
// and a collector learns every member name from them. So the names, the
// order, what is read and how it compares live here only.
//
// The journal never reads more of a call than the library does: the arrays
// of a call refused for its arguments (or answered by a plan) are "given",
// and so is whatever the library's own test of an item reads no further
// (a put item it refuses, a filter after a pair it cannot match). Arrays
// the call writes into are "given" too: what was in them is not the call's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "faults/functions.hpp"
#include "velkmock.h"

namespace velkfault::journal {

// How far the library reads a put item: all of it when the item is valid;
// else what its test of the item read before it refused it.
struct PutReads {
    bool key_text = true;         // the key's text (its pointer is always read)
    bool part_arrays = true;      // the part and length arrays (their pointers are always read)
    std::int32_t parts_read = 0;  // how many of the parts' lengths and pointers, with part_arrays
    bool value = true;            // the value's bytes
    bool metadata = true;         // the metadata pairs

    // Nothing behind the item's pointers (an item a plan dropped).
    static constexpr PutReads none() noexcept { return {false, false, 0, false, false}; }
};

// The test every library of this interface makes of a put item, in its
// order, reading only what it reads itself: -1 when the item passes, else
// how many of its parts' lengths and pointers the test read before it
// refused the item.
template <class Length>
constexpr std::int32_t put_refused_after(const char* key, const void* const* parts, const Length* lens,
                                         std::int32_t part_count, std::int32_t metadata_count) noexcept {
    if (key == nullptr || part_count < 0 || metadata_count < 0) {
        return 0;
    }
    if (part_count > 0 && (parts == nullptr || lens == nullptr)) {
        return 0;
    }
    for (std::int32_t j = 0; j < part_count; ++j) {
        if (lens[j] != 0 && parts[j] == nullptr) {
            return j + 1;
        }
    }
    return -1;
}

// What that test reads of a put item.
template <class Length>
PutReads put_reads(const char* key, const void* const* parts, const Length* lens, std::int32_t part_count,
                   std::int32_t metadata_count) {
    const std::int32_t refused = put_refused_after(key, parts, lens, part_count, metadata_count);
    if (refused < 0) {
        return PutReads{true, true, part_count, true, true};
    }
    return PutReads{false, refused > 0, refused, false, false};
}

// How the library reads a list of pairs: the metadata of a put item reads
// a pair's texts only when neither is NULL; a get's filter stops at the
// first pair with a NULL side (it can never be satisfied).
enum class PairRule { Metadata, Filter };

inline bool all_zero(const void* data, std::size_t size) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// --- records that several calls share --------------------------------------

template <class V>
void put_item(V& v, auto& item, std::int32_t i) {
    const PutReads reads = v.item_read(i) ? v.put_reads(item.key, item.value_parts, item.value_part_lens,
                                                        item.value_part_count, item.metadata_count)
                                          : PutReads::none();
    v.text("key", item.key, reads.key_text);
    v.number("part_count", item.value_part_count);
    v.parts(item.value_parts, item.value_part_lens, item.value_part_count, reads);
    v.number("tag", item.tag);
    v.number("replica_count", item.replica_count);
    v.number("metadata_count", item.metadata_count);
    v.pairs("metadata", item.metadata, item.metadata_count, PairRule::Metadata, reads.metadata);
}

template <class V>
void ll_put_item(V& v, auto& item, std::int32_t i) {
    const PutReads reads = v.item_read(i) ? v.put_reads(item.key, item.value_parts, item.value_part_lens,
                                                        item.value_part_count, 0)
                                          : PutReads::none();
    v.text("key", item.key, reads.key_text);
    v.number("part_count", item.value_part_count);
    v.parts(item.value_parts, item.value_part_lens, item.value_part_count, reads);
}

// A get item: a NULL key is not looked up, so its filter is not read.
template <class V>
void get_item(V& v, auto& item, std::int32_t) {
    v.text("key", item.key, true);
    v.number("filter_count", item.meta_filter_count);
    v.pairs("filter", item.meta_filter, item.meta_filter_count, PairRule::Filter, item.key != nullptr);
}

template <class V>
void delete_item(V& v, auto& item, std::int32_t i) {
    v.text("key", item.key, v.item_read(i));
    v.number("option", item.option);
}

template <class V>
void located_result(V& v, const auto& result, std::int32_t) {
    v.number("status", result.status);
    v.field("location", result.location);
}

template <class V>
void query_result(V& v, const velk_query_result_t& r, std::int32_t) {
    v.field("key", r.key);
    v.field("status", r.status);
    v.number("replica_count", r.replica_count);
    v.number("value_len", r.value_len);
    v.pairs_out("metadata", r.metadata, r.metadata_count);
    v.records_out("details", r.details, r.detail_count, [](V& w, const velk_query_detail_t& d, std::int32_t) {
        w.number("tag", d.tag);
        w.number("value_len", d.value_len);
        w.number("timestamp_ms", d.timestamp_ms);
    });
}

template <class V>
void namespace_info(V& v, const velk_namespace_info_t& info, std::int32_t) {
    v.field("name", info.name);
    v.number("capacity_bytes", info.capacity_bytes);
    v.number("used_bytes", info.used_bytes);
    v.field("eviction_policy", info.eviction_policy);
    v.real("policy_param", info.policy_param);
    v.number("created_at_ms", info.created_at_ms);
}

template <class V>
void node_info(V& v, const velk_node_info_t& node, std::int32_t) {
    v.field("node_id", node.node_id);
    v.field("endpoint", node.endpoint);
    v.field("region", node.region);
    v.field("zone", node.zone);
    v.field("rack", node.rack);
    v.field("cluster", node.cluster);
    v.field("node_class", node.node_class);
    v.field("state", node.state);
    v.number("capacity_bytes", node.capacity_bytes);
    v.real("weight", node.weight);
}

// What a get's callback was lent, once per call of it.
template <class V>
void callback_call(V& v, std::int32_t count, const void* const* values, const std::uint64_t* lens,
                   const std::int32_t* statuses) {
    v.number("count", count);
    v.records_out("items", values, count, [&](V& w, const void* const& value, std::int32_t i) {
        w.number("status", statuses[i]);
        w.number("length", lens[i]);
        w.boolean("null", value == nullptr);
        if (value != nullptr) {
            w.value("value", value, lens[i]);
        }
    });
}

// What get-into wrote: each item's status and length, and what it copied,
// read no further than the item's buffer reaches (a library that says it
// copied more than fits is shown what the buffer holds).
template <class V>
void copied(V& v, void* const* buffers, const std::uint64_t* sizes, const std::int32_t* statuses,
            const std::uint64_t* lens, std::int32_t count) {
    v.records_out("items", statuses, count, [&](V& w, const std::int32_t& status, std::int32_t i) {
        w.number("status", status);
        w.number("length", lens[i]);
        if (status > 0 || (status == 0 && lens[i] == 0)) {
            const std::uint64_t room = buffers[i] != nullptr && sizes != nullptr ? sizes[i] : 0;
            w.value("value", buffers[i], status > 0 ? (lens[i] < room ? lens[i] : room) : 0);
        }
    });
}

// The namespace and item count every batch call begins with.
template <class V>
void batch_head(V& v, const char*& ns, std::int32_t& count) {
    v.text("ns", ns, true);
    v.number("count", count);
}

// The count of items an array holds: none for a count that is not positive.
constexpr std::int32_t items_of(std::int32_t count) noexcept {
    return count > 0 ? count : 0;
}
constexpr std::size_t at_least(std::int32_t count, std::int32_t capacity) noexcept {
    const std::int32_t n = count > capacity ? count : capacity;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// --- the 28 functions ------------------------------------------------------

template <Fn F>
struct Calls;

template <>
struct Calls<kVersion> {
    template <class V>
    static void args(V&) {}
    template <class V>
    static void out(V& v, const char*) {
        v.nothing();
    }
};
template <>
struct Calls<kRevision> : Calls<kVersion> {};
template <>
struct Calls<kBuildTime> : Calls<kVersion> {};

template <>
struct Calls<kClientCreate> {
    template <class V>
    static void args(V& v, const void*& config) {
        v.given("config", config, 1);
    }
    template <class V>
    static void out(V& v, velk_client*, const void*) {
        v.nothing();
    }
};

template <>
struct Calls<kLlCreate> {
    template <class V>
    static void args(V& v, const velk_ll_config_t*& config) {
        v.object("config", config, [](V& w, auto& c) { w.text("name", c.name, true); });
    }
    template <class V>
    static void out(V& v, velk_client*, const velk_ll_config_t*) {
        v.nothing();
    }
};

template <>
struct Calls<kClientDestroy> {
    template <class V>
    static void args(V&, velk_client*&) {}
    template <class V>
    static void out(V& v, velk_client*) {
        v.nothing();
    }
};
template <>
struct Calls<kLlClientDestroy> : Calls<kClientDestroy> {};

template <>
struct Calls<kMetricsCtxReset> {
    template <class V>
    static void args(V& v, velk_sdk_metrics_ctx_t*& ctx) {
        v.context("ctx", ctx);
    }
    template <class V>
    static void out(V& v, velk_sdk_metrics_ctx_t* ctx) {
        if (ctx == nullptr) {
            v.nothing();
            return;
        }
        v.begin_out();
        v.boolean("ctx_all_zero", all_zero(ctx, sizeof *ctx));
        v.end_out();
    }
};

template <>
struct Calls<kClientGetMetrics> {
    template <class V>
    static void args(V& v, const velk_client*&, velk_sdk_metrics_ctx_t*& ctx) {
        v.context("ctx", ctx);
    }
    template <class V>
    static void out(V& v, std::int32_t rc, const velk_client*, velk_sdk_metrics_ctx_t* ctx) {
        Calls<kMetricsCtxReset>::out(v, rc == VELK_OK ? ctx : nullptr);
    }
};

template <>
struct Calls<kMetricsSerialize> {
    template <class V>
    static void args(V& v, const velk_sdk_metrics_ctx_t*& ctx, char*& out, std::uint64_t& size,
                     std::uint64_t*& len) {
        v.given("ctx", ctx, 1);
        v.number("out_size", size);
        v.given("out", out, size);
        v.given("out_len", len, 1);
    }
    template <class V>
    static void out(V& v, std::int32_t rc, const velk_sdk_metrics_ctx_t*, char* out, std::uint64_t size,
                    std::uint64_t* len) {
        if (rc != VELK_OK || out == nullptr || len == nullptr) {
            v.nothing();
            return;
        }
        v.begin_out();
        v.text_bytes("text", out, *len < size ? *len : size);
        v.number("out_len", *len);
        v.end_out();
    }
};

template <>
struct Calls<kBatchPut> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns, const velk_put_item_t*& items, std::int32_t& count,
                     velk_put_result_t*& results, std::int32_t& capacity, const void*&) {
        batch_head(v, ns, count);
        v.number("result_capacity", capacity);
        v.given("results", results, at_least(count, capacity));
        v.records("items", items, count, [](V& w, auto& item, std::int32_t i) { put_item(w, item, i); });
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const char*, const velk_put_item_t*,
                    std::int32_t count, velk_put_result_t* results, std::int32_t, const void*) {
        if (rc != VELK_OK || results == nullptr || count <= 0) {
            v.nothing();
            return;
        }
        v.begin_out();
        v.records_out("results", results, count, located_result<V, velk_put_result_t>);
        v.end_out();
    }
};

template <>
struct Calls<kLlBatchPut> {
    template <class V>
    static void args(V& v, velk_client*&, const velk_ll_put_item_t*& items, std::int32_t& count,
                     velk_put_result_t*& results, std::int32_t& capacity, const void*&, const void*&) {
        v.number("count", count);
        v.number("result_capacity", capacity);
        v.given("results", results, at_least(count, capacity));
        v.records("items", items, count, [](V& w, auto& item, std::int32_t i) { ll_put_item(w, item, i); });
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const velk_ll_put_item_t*, std::int32_t count,
                    velk_put_result_t* results, std::int32_t, const void*, const void*) {
        Calls<kBatchPut>::out(v, rc, nullptr, nullptr, nullptr, count, results, 0, nullptr);
    }
};

// A get's callbacks are what it wrote back: the journal sees each as it
// happens, the replay keeps what its own callback was lent.
template <>
struct Calls<kBatchGet> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns, const velk_get_item_t*& items, std::int32_t& count,
                     velk_get_callback_t& callback, void*&, const void*&) {
        batch_head(v, ns, count);
        v.callback("callback", callback);
        v.records("items", items, count, [](V& w, auto& item, std::int32_t i) { get_item(w, item, i); });
    }
    template <class V, class Seen>
    static void out(V& v, std::int32_t, const Seen& seen) {
        if (!seen.called()) {
            v.nothing();
            return;
        }
        v.begin_out();
        v.callbacks("callbacks", seen);
        v.end_out();
    }
};

template <>
struct Calls<kLlBatchGet> {
    template <class V>
    static void args(V& v, velk_client*&, const char* const*& keys, std::int32_t& count,
                     velk_get_callback_t& callback, void*&, const void*&, const void*&) {
        v.number("count", count);
        v.callback("callback", callback);
        v.texts("keys", keys, count);
    }
    template <class V, class Seen>
    static void out(V& v, std::int32_t rc, const Seen& seen) {
        Calls<kBatchGet>::out(v, rc, seen);
    }
};

template <>
struct Calls<kBatchGetInto> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns, const velk_get_item_t*& items, std::int32_t& count,
                     void* const*& buffers, const std::uint64_t*& sizes, std::int32_t*& statuses,
                     std::uint64_t*& lens, const void*&) {
        batch_head(v, ns, count);
        v.given("statuses", statuses, static_cast<std::size_t>(items_of(count)));
        v.given("value_lens", lens, static_cast<std::size_t>(items_of(count)));
        v.buffers(buffers, sizes, count);
        v.records("items", items, count, [](V& w, auto& item, std::int32_t i) { get_item(w, item, i); });
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const char*, const velk_get_item_t*,
                    std::int32_t count, void* const* buffers, const std::uint64_t* sizes,
                    std::int32_t* statuses, std::uint64_t* lens, const void*) {
        if (rc != VELK_OK || count <= 0 || buffers == nullptr || statuses == nullptr || lens == nullptr) {
            v.nothing();
            return;
        }
        v.begin_out();
        copied(v, buffers, sizes, statuses, lens, count);
        v.end_out();
    }
};

template <>
struct Calls<kLlBatchGetInto> {
    template <class V>
    static void args(V& v, velk_client*&, const char* const*& keys, std::int32_t& count,
                     void* const*& buffers, const std::uint64_t*& sizes, std::int32_t*& statuses,
                     std::uint64_t*& lens, const void*&) {
        v.number("count", count);
        v.given("statuses", statuses, static_cast<std::size_t>(items_of(count)));
        v.given("value_lens", lens, static_cast<std::size_t>(items_of(count)));
        v.buffers(buffers, sizes, count);
        v.texts("keys", keys, count);
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const char* const*, std::int32_t count,
                    void* const* buffers, const std::uint64_t* sizes, std::int32_t* statuses,
                    std::uint64_t* lens, const void*) {
        Calls<kBatchGetInto>::out(v, rc, nullptr, nullptr, nullptr, count, buffers, sizes, statuses, lens,
                                  nullptr);
    }
};

template <>
struct Calls<kBatchDeleteItems> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns, const velk_delete_item_t*& items,
                     std::int32_t& count, velk_delete_result_t*& results, std::int32_t& capacity,
                     const void*&) {
        batch_head(v, ns, count);
        v.number("result_capacity", capacity);
        v.given("results", results, at_least(count, capacity));
        v.records("items", items, count, [](V& w, auto& item, std::int32_t i) { delete_item(w, item, i); });
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const char*, const velk_delete_item_t*,
                    std::int32_t count, velk_delete_result_t* results, std::int32_t, const void*) {
        if (rc != VELK_OK || results == nullptr || count <= 0) {
            v.nothing();
            return;
        }
        v.begin_out();
        v.records_out("results", results, count, located_result<V, velk_delete_result_t>);
        v.end_out();
    }
};

// The flat deletes: keys in, statuses out.
template <class V>
void statuses_out(V& v, std::int32_t rc, const std::int32_t* statuses, std::int32_t count) {
    if (rc != VELK_OK || statuses == nullptr || count <= 0) {
        v.nothing();
        return;
    }
    v.begin_out();
    v.numbers_out("statuses", statuses, count);
    v.end_out();
}

template <>
struct Calls<kBatchDelete> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns, const char* const*& keys, std::int32_t& count,
                     const std::int32_t*& options, std::int32_t*& statuses, std::int32_t& capacity,
                     const void*&) {
        batch_head(v, ns, count);
        v.number("status_capacity", capacity);
        v.given("statuses", statuses, at_least(count, capacity));
        v.texts("keys", keys, count);
        v.given("options", options, static_cast<std::size_t>(items_of(count)));  // carried, never read
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const char*, const char* const*, std::int32_t count,
                    const std::int32_t*, std::int32_t* statuses, std::int32_t, const void*) {
        statuses_out(v, rc, statuses, count);
    }
};

template <>
struct Calls<kLlBatchDelete> {
    template <class V>
    static void args(V& v, velk_client*&, const char* const*& keys, std::int32_t& count,
                     std::int32_t*& statuses, std::int32_t& capacity, const void*&, const void*&) {
        v.number("count", count);
        v.number("status_capacity", capacity);
        v.given("statuses", statuses, at_least(count, capacity));
        v.texts("keys", keys, count);
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const char* const*, std::int32_t count,
                    std::int32_t* statuses, std::int32_t, const void*, const void*) {
        statuses_out(v, rc, statuses, count);
    }
};

// The records a query filled: as many as it returned.
template <class V>
void query_out(V& v, std::int32_t rc, const velk_query_result_t* results) {
    if (rc <= 0 || results == nullptr) {
        v.nothing();
        return;
    }
    v.begin_out();
    v.records_out("results", results, rc, query_result<V>);
    v.end_out();
}

template <>
struct Calls<kBatchQuery> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns, const char* const*& keys, std::int32_t& count,
                     const velk_query_options_t*& options, velk_query_result_t*& results,
                     std::int32_t& capacity) {
        batch_head(v, ns, count);
        v.number("result_capacity", capacity);
        v.query_results("results", results, at_least(count, capacity));
        v.object("options", options, [](V& w, auto& o) { w.number("include_details", o.include_details); });
        v.texts("keys", keys, count);
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const char*, const char* const*, std::int32_t,
                    const velk_query_options_t*, velk_query_result_t* results, std::int32_t) {
        query_out(v, rc, results);
    }
};

template <>
struct Calls<kLlBatchQuery> {
    template <class V>
    static void args(V& v, velk_client*&, const char* const*& keys, std::int32_t& count,
                     velk_query_result_t*& results, std::int32_t& capacity, const void*&) {
        v.number("count", count);
        v.number("result_capacity", capacity);
        v.query_results("results", results, at_least(count, capacity));
        v.texts("keys", keys, count);
    }
    template <class V>
    static void out(V& v, std::int32_t rc, velk_client*, const char* const*, std::int32_t,
                    velk_query_result_t* results, std::int32_t, const void*) {
        query_out(v, rc, results);
    }
};

// The results a free releases: those of the query that filled them ("r"
// and the query's seq), else just whether any are given.
template <>
struct Calls<kQueryResultFree> {
    template <class V>
    static void args(V& v, velk_query_result_t*& results, std::int32_t& count) {
        v.number("count", count);
        v.freed("results", results, count);
    }
    template <class V>
    static void out(V& v, velk_query_result_t*, std::int32_t) {
        v.nothing();
    }
};

template <class V>
void namespace_options(V& v, const velk_namespace_options_t*& options) {
    v.object("options", options, [](V& w, auto& o) {
        w.number("capacity_bytes", o.capacity_bytes);
        w.text("eviction_policy", o.eviction_policy, true);
        w.real("policy_param", o.policy_param);
    });
}

template <>
struct Calls<kCreateNamespace> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns, const velk_namespace_options_t*& options) {
        v.text("ns", ns, true);
        namespace_options(v, options);
    }
    template <class V>
    static void out(V& v, int, velk_client*, const char*, const velk_namespace_options_t*) {
        v.nothing();
    }
};
template <>
struct Calls<kUpdateNamespace> : Calls<kCreateNamespace> {};

template <>
struct Calls<kDeleteNamespace> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns) {
        v.text("ns", ns, true);
    }
    template <class V>
    static void out(V& v, int, velk_client*, const char*) {
        v.nothing();
    }
};

template <>
struct Calls<kGetNamespace> {
    template <class V>
    static void args(V& v, velk_client*&, const char*& ns, velk_namespace_info_t*& info) {
        v.text("ns", ns, true);
        v.given("info", info, 1);
    }
    template <class V>
    static void out(V& v, int rc, velk_client*, const char*, velk_namespace_info_t* info) {
        if (rc != VELK_OK || info == nullptr) {
            v.nothing();
            return;
        }
        v.begin_out();
        v.record_out("info", *info, namespace_info<V>);
        v.end_out();
    }
};

// The two listings are the lists whose order may differ by design between
// libraries: "order" lets them compare by their records' names.
template <>
struct Calls<kListNamespaces> {
    template <class V>
    static void args(V& v, velk_client*&, velk_namespace_info_t*& infos, int& capacity, int*& total) {
        v.number("capacity", capacity);
        v.given("infos", infos, static_cast<std::size_t>(items_of(capacity)));
        v.given("total", total, 1);
    }
    template <class V>
    static void out(V& v, int rc, velk_client*, velk_namespace_info_t* infos, int, int* total) {
        if (rc < 0) {
            v.nothing();
            return;
        }
        v.begin_out();
        // A listing its capacity cut holds whichever namespaces come first.
        const bool cut = total != nullptr && rc < *total;
        v.listing("infos", infos, infos != nullptr ? rc : 0, "name", cut, namespace_info<V>);
        if (total == nullptr) {
            v.null_member("total");
        } else {
            v.number("total", *total);
        }
        v.end_out();
    }
};

template <>
struct Calls<kGetNodes> {
    template <class V>
    static void args(V& v, velk_client*&, const velk_node_selector_t*& selector, velk_node_info_t*& nodes,
                     int& capacity) {
        v.number("capacity", capacity);
        v.given("nodes", nodes, static_cast<std::size_t>(items_of(capacity)));
        v.object("selector", selector, [](V& w, auto& s) {
            w.text("cluster", s.cluster, true);
            w.text("region", s.region, true);
            w.text("zone", s.zone, true);
            w.text("rack", s.rack, true);
            w.text("node_class", s.node_class, true);
        });
    }
    template <class V>
    static void out(V& v, int rc, velk_client*, const velk_node_selector_t*, velk_node_info_t* nodes, int) {
        if (rc < 0 || nodes == nullptr) {
            v.nothing();
            return;
        }
        v.begin_out();
        v.listing("nodes", nodes, rc, "node_id", false, node_info<V>);
        v.end_out();
    }
};

// Every function of the table, by number, for code that holds only the
// number (the collector of names, the replay's dispatch).
template <class Visit>
void with_function(Fn fn, Visit&& visit) {
    switch (fn) {
#define VELKFAULT_VISIT(f, name, returns, per_item) \
    case f:                                         \
        visit.template operator()<f>();             \
        break;
        VELKFAULT_FUNCTIONS(VELKFAULT_VISIT)
#undef VELKFAULT_VISIT
        case kFunctionCount:
            break;
    }
}

}  // namespace velkfault::journal
