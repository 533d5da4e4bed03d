// SPDX-License-Identifier: MIT
// What the journal writes of each of the 28 functions: its arguments as the
// caller gave them (so that velk-replay can make the same call: a NULL stays
// null, a count stays as it was), and everything it wrote back, when it
// wrote anything (a failed call writes nothing, and "out" is null then).
// velk-replay writes its own answers with the same functions.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "faults/journal.hpp"
#include "velkmock.h"

namespace velkfault::journal {

// --- pieces that several calls share ---------------------------------------

inline void given(Json& json, const char* name, const void* pointer) {
    json.key(name);
    if (pointer == nullptr) {
        json.null();
    } else {
        json.bytes("given");
    }
}

inline void pairs(Json& json, const char* name, const velk_meta_pair_t* list, std::int32_t count) {
    json.key(name);
    if (list == nullptr) {
        json.null();
        return;
    }
    json.open_array();
    for (std::int32_t i = 0; i < count; ++i) {
        json.open_array();
        json.string(list[i].key);
        json.string(list[i].value);
        json.close_array();
    }
    json.close_array();
}

// An array the call was given: null, "given" (not read), or its contents.
inline bool array_given(Json& json, const char* name, const void* list) {
    json.key(name);
    if (list == nullptr) {
        json.null();
        return false;
    }
    if (!json.read_arrays) {
        json.bytes("given");
        return false;
    }
    return true;
}

// The namespace and item count every batch call begins with.
inline void batch_head(Json& json, const char* ns, std::int32_t count) {
    json.key("ns");
    json.string(ns);
    json.key("count");
    json.number(count);
}

// An array the call writes back into and how many records it holds.
inline void capacity_given(Json& json, const char* capacity_name, std::int32_t capacity,
                           const char* list_name, const void* list) {
    json.key(capacity_name);
    json.number(capacity);
    given(json, list_name, list);
}

// The keys of a flat key array, or null.
inline void keys(Json& json, const char* const* list, std::int32_t count) {
    if (!array_given(json, "keys", list)) {
        return;
    }
    json.open_array();
    for (std::int32_t i = 0; i < count; ++i) {
        json.string(list[i]);
    }
    json.close_array();
}

// A put item's value parts as given: their lengths, which part pointers are
// NULL, and the value itself when every part can be read.
template <class Length>
void parts(Json& json, const void* const* list, const Length* lens, std::int32_t count, Values mode) {
    json.key("part_count");
    json.number(count);
    json.key("parts");
    if (list == nullptr) {
        json.null();
    } else {
        json.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json.boolean(list[i] != nullptr);
        }
        json.close_array();
    }
    json.key("part_lens");
    if (lens == nullptr) {
        json.null();
    } else {
        json.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json.unsigned_number(lens[i]);
        }
        json.close_array();
    }
    bool readable = list != nullptr && lens != nullptr && count >= 0;
    for (std::int32_t i = 0; readable && i < count; ++i) {
        readable = lens[i] == 0 || list[i] != nullptr;
    }
    json.key("value");
    if (!readable) {
        json.null();
        return;
    }
    std::uint64_t wide[64];
    const std::int32_t n = count < 64 ? count : 64;
    if constexpr (std::is_same_v<Length, std::uint64_t>) {
        json.value(list, lens, count, mode);
    } else if (count <= 64) {
        for (std::int32_t i = 0; i < n; ++i) {
            wide[i] = lens[i];
        }
        json.value(list, wide, count, mode);
    } else {
        // More parts than the stack holds: their lengths one by one.
        std::vector<std::uint64_t> all(lens, lens + count);
        json.value(list, all.data(), count, mode);
    }
}

// The records a put or a delete with items wrote back.
template <class Result>
void located_results(Json& json, const Result* results, std::int32_t count) {
    json.key("results");
    json.open_array();
    for (std::int32_t i = 0; i < count; ++i) {
        json.open_object();
        json.key("status");
        json.number(results[i].status);
        json.key("location");
        json.field(results[i].location, sizeof results[i].location);
        json.close_object();
    }
    json.close_array();
}

inline void statuses(Json& json, const std::int32_t* list, std::int32_t count) {
    json.key("statuses");
    json.open_array();
    for (std::int32_t i = 0; i < count; ++i) {
        json.number(list[i]);
    }
    json.close_array();
}

// What a get callback saw, once per call of it.
inline void callback_call(Json& json, std::int32_t count, const void* const* values,
                          const std::uint64_t* lens, const std::int32_t* statuses, Values mode) {
    json.open_object();
    json.key("count");
    json.number(count);
    json.key("items");
    json.open_array();
    for (std::int32_t i = 0; i < count; ++i) {
        json.open_object();
        json.key("status");
        json.number(statuses[i]);
        json.key("length");
        json.unsigned_number(lens[i]);
        json.key("null");
        json.boolean(values[i] == nullptr);
        if (values[i] != nullptr) {
            json.key("value");
            json.value(values[i], lens[i], mode);
        }
        json.close_object();
    }
    json.close_array();
    json.close_object();
}

// What get-into wrote: each item's status and length, and the bytes it
// copied.
inline void copied(Json& json, void* const* buffers, const std::int32_t* status, const std::uint64_t* lens,
                   std::int32_t count, Values mode) {
    json.key("items");
    json.open_array();
    for (std::int32_t i = 0; i < count; ++i) {
        json.open_object();
        json.key("status");
        json.number(status[i]);
        json.key("length");
        json.unsigned_number(lens[i]);
        if (status[i] > 0 || (status[i] == 0 && lens[i] == 0)) {
            json.key("value");
            json.value(buffers[i], status[i] > 0 ? lens[i] : 0, mode);
        }
        json.close_object();
    }
    json.close_array();
}

inline void get_buffers(Json& json, void* const* buffers, const std::uint64_t* sizes, std::int32_t count) {
    if (array_given(json, "buffers", buffers)) {
        json.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json.boolean(buffers[i] != nullptr);
        }
        json.close_array();
    }
    if (array_given(json, "sizes", sizes)) {
        json.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json.unsigned_number(sizes[i]);
        }
        json.close_array();
    }
}

inline void query_results(Json& json, const velk_query_result_t* results, std::int32_t count) {
    json.key("results");
    json.open_array();
    for (std::int32_t i = 0; i < count; ++i) {
        const velk_query_result_t& r = results[i];
        json.open_object();
        json.key("key");
        json.field(r.key, sizeof r.key);
        json.key("status");
        json.field(r.status, sizeof r.status);
        json.key("replica_count");
        json.number(r.replica_count);
        json.key("value_len");
        json.unsigned_number(r.value_len);
        pairs(json, "metadata", r.metadata, r.metadata_count);
        json.key("details");
        if (r.details == nullptr) {
            json.null();
        } else {
            json.open_array();
            for (std::int32_t d = 0; d < r.detail_count; ++d) {
                json.open_object();
                json.key("tag");
                json.unsigned_number(r.details[d].tag);
                json.key("value_len");
                json.unsigned_number(r.details[d].value_len);
                json.key("timestamp_ms");
                json.number(r.details[d].timestamp_ms);
                json.close_object();
            }
            json.close_array();
        }
        json.close_object();
    }
    json.close_array();
}

inline void namespace_info(Json& json, const velk_namespace_info_t& info) {
    json.open_object();
    json.key("name");
    json.field(info.name, sizeof info.name);
    json.key("capacity_bytes");
    json.number(info.capacity_bytes);
    json.key("used_bytes");
    json.unsigned_number(info.used_bytes);
    json.key("eviction_policy");
    json.field(info.eviction_policy, sizeof info.eviction_policy);
    json.key("policy_param");
    json.real(info.policy_param);
    json.key("created_at_ms");
    json.number(info.created_at_ms);
    json.close_object();
}

inline void node_info(Json& json, const velk_node_info_t& node) {
    json.open_object();
    json.key("node_id");
    json.field(node.node_id, sizeof node.node_id);
    json.key("endpoint");
    json.field(node.endpoint, sizeof node.endpoint);
    json.key("region");
    json.field(node.region, sizeof node.region);
    json.key("zone");
    json.field(node.zone, sizeof node.zone);
    json.key("rack");
    json.field(node.rack, sizeof node.rack);
    json.key("cluster");
    json.field(node.cluster, sizeof node.cluster);
    json.key("node_class");
    json.field(node.node_class, sizeof node.node_class);
    json.key("state");
    json.field(node.state, sizeof node.state);
    json.key("capacity_bytes");
    json.number(node.capacity_bytes);
    json.key("weight");
    json.real(node.weight);
    json.close_object();
}

inline void namespace_options(Json& json, const velk_namespace_options_t* options) {
    json.key("options");
    if (options == nullptr) {
        json.null();
        return;
    }
    json.open_object();
    json.key("capacity_bytes");
    json.number(options->capacity_bytes);
    json.key("eviction_policy");
    json.string(options->eviction_policy);
    json.key("policy_param");
    json.real(options->policy_param);
    json.close_object();
}

inline bool all_zero(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// --- the 28 functions ------------------------------------------------------
// args() writes the members of "args"; out() writes "out" whole (null when
// the call wrote nothing).

template <Fn F>
struct Describe;

template <>
struct Describe<kVersion> {
    static void args(Json&) {}
    static void out(Json& json, const char*) { json.null(); }
};
template <>
struct Describe<kRevision> : Describe<kVersion> {};
template <>
struct Describe<kBuildTime> : Describe<kVersion> {};

template <>
struct Describe<kClientCreate> {
    static void args(Json& json, const void* config) { given(json, "config", config); }
    static void out(Json& json, velk_client*, const void*) { json.null(); }
};

template <>
struct Describe<kClientDestroy> {
    static void args(Json&, velk_client*) {}
    static void out(Json& json, velk_client*) { json.null(); }
};
template <>
struct Describe<kLlClientDestroy> : Describe<kClientDestroy> {};

template <>
struct Describe<kMetricsCtxReset> {
    static void args(Json& json, velk_sdk_metrics_ctx_t* ctx) { given(json, "ctx", ctx); }
    static void out(Json& json, velk_sdk_metrics_ctx_t* ctx) {
        if (ctx == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        json.key("ctx_all_zero");
        json.boolean(all_zero(ctx, sizeof *ctx));
        json.close_object();
    }
};

template <>
struct Describe<kClientGetMetrics> {
    static void args(Json& json, const velk_client*, velk_sdk_metrics_ctx_t* ctx) { given(json, "ctx", ctx); }
    static void out(Json& json, std::int32_t rc, const velk_client*, velk_sdk_metrics_ctx_t* ctx) {
        Describe<kMetricsCtxReset>::out(json, rc == VELK_OK ? ctx : nullptr);
    }
};

template <>
struct Describe<kMetricsSerialize> {
    static void args(Json& json, const velk_sdk_metrics_ctx_t* ctx, char* out, std::uint64_t size,
                     std::uint64_t* len) {
        given(json, "ctx", ctx);
        given(json, "out", out);
        json.key("out_size");
        json.unsigned_number(size);
        given(json, "out_len", len);
    }
    static void out(Json& json, std::int32_t rc, const velk_sdk_metrics_ctx_t*, char* out, std::uint64_t size,
                    std::uint64_t* len) {
        if (rc != VELK_OK || out == nullptr || len == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        json.key("text");
        json.bytes(std::string_view(out, *len < size ? *len : size));
        json.key("out_len");
        json.unsigned_number(*len);
        json.close_object();
    }
};

template <>
struct Describe<kBatchPut> {
    static void args(Json& json, velk_client*, const char* ns, const velk_put_item_t* items,
                     std::int32_t count, velk_put_result_t* results, std::int32_t capacity, const void*) {
        batch_head(json, ns, count);
        capacity_given(json, "result_capacity", capacity, "results", results);
        if (!array_given(json, "items", items)) {
            return;
        }
        json.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            const velk_put_item_t& item = items[i];
            json.open_object();
            json.key("key");
            json.string(item.key);
            parts(json, item.value_parts, item.value_part_lens, item.value_part_count, values());
            json.key("tag");
            json.unsigned_number(item.tag);
            json.key("replica_count");
            json.number(item.replica_count);
            json.key("metadata_count");
            json.number(item.metadata_count);
            pairs(json, "metadata", item.metadata, item.metadata_count);
            json.close_object();
        }
        json.close_array();
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const char*, const velk_put_item_t*,
                    std::int32_t count, velk_put_result_t* results, std::int32_t, const void*) {
        if (rc != VELK_OK || results == nullptr || count <= 0) {
            json.null();
            return;
        }
        json.open_object();
        located_results(json, results, count);
        json.close_object();
    }
};

// Get items: their keys and filters.
inline void get_items(Json& json, const velk_get_item_t* items, std::int32_t count) {
    if (!array_given(json, "items", items)) {
        return;
    }
    json.open_array();
    for (std::int32_t i = 0; i < count; ++i) {
        json.open_object();
        json.key("key");
        json.string(items[i].key);
        json.key("filter_count");
        json.number(items[i].meta_filter_count);
        pairs(json, "filter", items[i].meta_filter, items[i].meta_filter_count);
        json.close_object();
    }
    json.close_array();
}

// A get's callbacks are journaled as they happen, by the forwarder; these
// write the arguments.
template <>
struct Describe<kBatchGet> {
    static void args(Json& json, velk_client*, const char* ns, const velk_get_item_t* items,
                     std::int32_t count, velk_get_callback_t callback, void*, const void*) {
        batch_head(json, ns, count);
        given(json, "callback", reinterpret_cast<const void*>(callback));
        get_items(json, items, count > 0 ? count : 0);
    }
};

template <>
struct Describe<kLlBatchGet> {
    static void args(Json& json, velk_client*, const char* const* list, std::int32_t count,
                     velk_get_callback_t callback, void*, const void*, const void*) {
        json.key("count");
        json.number(count);
        given(json, "callback", reinterpret_cast<const void*>(callback));
        keys(json, list, count > 0 ? count : 0);
    }
};

template <>
struct Describe<kBatchGetInto> {
    static void args(Json& json, velk_client*, const char* ns, const velk_get_item_t* items,
                     std::int32_t count, void* const* buffers, const std::uint64_t* sizes,
                     std::int32_t* status, std::uint64_t* lens, const void*) {
        const std::int32_t n = count > 0 ? count : 0;
        batch_head(json, ns, count);
        given(json, "statuses", status);
        given(json, "value_lens", lens);
        get_buffers(json, buffers, sizes, n);
        get_items(json, items, n);
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const char*, const velk_get_item_t*,
                    std::int32_t count, void* const* buffers, const std::uint64_t*, std::int32_t* status,
                    std::uint64_t* lens, const void*) {
        if (rc != VELK_OK || count <= 0 || buffers == nullptr || status == nullptr || lens == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        copied(json, buffers, status, lens, count, values());
        json.close_object();
    }
};

template <>
struct Describe<kLlBatchGetInto> {
    static void args(Json& json, velk_client*, const char* const* list, std::int32_t count,
                     void* const* buffers, const std::uint64_t* sizes, std::int32_t* status,
                     std::uint64_t* lens, const void*) {
        const std::int32_t n = count > 0 ? count : 0;
        json.key("count");
        json.number(count);
        given(json, "statuses", status);
        given(json, "value_lens", lens);
        get_buffers(json, buffers, sizes, n);
        keys(json, list, n);
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const char* const*, std::int32_t count,
                    void* const* buffers, const std::uint64_t*, std::int32_t* status, std::uint64_t* lens,
                    const void*) {
        if (rc != VELK_OK || count <= 0 || buffers == nullptr || status == nullptr || lens == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        copied(json, buffers, status, lens, count, values());
        json.close_object();
    }
};

template <>
struct Describe<kBatchDeleteItems> {
    static void args(Json& json, velk_client*, const char* ns, const velk_delete_item_t* items,
                     std::int32_t count, velk_delete_result_t* results, std::int32_t capacity, const void*) {
        batch_head(json, ns, count);
        capacity_given(json, "result_capacity", capacity, "results", results);
        if (!array_given(json, "items", items)) {
            return;
        }
        json.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json.open_object();
            json.key("key");
            json.string(items[i].key);
            json.key("option");
            json.number(items[i].option);
            json.close_object();
        }
        json.close_array();
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const char*, const velk_delete_item_t*,
                    std::int32_t count, velk_delete_result_t* results, std::int32_t, const void*) {
        if (rc != VELK_OK || results == nullptr || count <= 0) {
            json.null();
            return;
        }
        json.open_object();
        located_results(json, results, count);
        json.close_object();
    }
};

template <>
struct Describe<kBatchDelete> {
    static void args(Json& json, velk_client*, const char* ns, const char* const* list, std::int32_t count,
                     const std::int32_t* options, std::int32_t* status, std::int32_t capacity, const void*) {
        const std::int32_t n = count > 0 ? count : 0;
        batch_head(json, ns, count);
        capacity_given(json, "status_capacity", capacity, "statuses", status);
        keys(json, list, n);
        given(json, "options", options);  // carried, never read
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const char*, const char* const*,
                    std::int32_t count, const std::int32_t*, std::int32_t* status, std::int32_t,
                    const void*) {
        if (rc != VELK_OK || status == nullptr || count <= 0) {
            json.null();
            return;
        }
        json.open_object();
        statuses(json, status, count);
        json.close_object();
    }
};

template <>
struct Describe<kLlBatchDelete> {
    static void args(Json& json, velk_client*, const char* const* list, std::int32_t count,
                     std::int32_t* status, std::int32_t capacity, const void*, const void*) {
        json.key("count");
        json.number(count);
        capacity_given(json, "status_capacity", capacity, "statuses", status);
        keys(json, list, count > 0 ? count : 0);
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const char* const*, std::int32_t count,
                    std::int32_t* status, std::int32_t, const void*, const void*) {
        if (rc != VELK_OK || status == nullptr || count <= 0) {
            json.null();
            return;
        }
        json.open_object();
        statuses(json, status, count);
        json.close_object();
    }
};

template <>
struct Describe<kBatchQuery> {
    static void args(Json& json, velk_client*, const char* ns, const char* const* list, std::int32_t count,
                     const velk_query_options_t* options, velk_query_result_t* results,
                     std::int32_t capacity) {
        batch_head(json, ns, count);
        capacity_given(json, "result_capacity", capacity, "results", results);
        json.key("include_details");
        if (options == nullptr) {
            json.null();
        } else {
            json.number(options->include_details);
        }
        keys(json, list, count > 0 ? count : 0);
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const char*, const char* const*, std::int32_t,
                    const velk_query_options_t*, velk_query_result_t* results, std::int32_t) {
        if (rc <= 0 || results == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        query_results(json, results, rc);
        json.close_object();
    }
};

template <>
struct Describe<kLlBatchQuery> {
    static void args(Json& json, velk_client*, const char* const* list, std::int32_t count,
                     velk_query_result_t* results, std::int32_t capacity, const void*) {
        json.key("count");
        json.number(count);
        capacity_given(json, "result_capacity", capacity, "results", results);
        keys(json, list, count > 0 ? count : 0);
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const char* const*, std::int32_t,
                    velk_query_result_t* results, std::int32_t, const void*) {
        Describe<kBatchQuery>::out(json, rc, nullptr, nullptr, nullptr, 0, nullptr, results, 0);
    }
};

// The results array a free names: the query that filled it ("r" and its
// seq), or just whether it is given. Named before the call frees it.
template <>
struct Describe<kQueryResultFree> {
    static void args(Json& json, velk_query_result_t* results, std::int32_t count) {
        json.key("results");
        if (results == nullptr) {
            json.null();
        } else {
            const std::string name = results_name(results);
            json.bytes(name.empty() ? "given" : name);
        }
        json.key("count");
        json.number(count);
    }
    static void out(Json& json, velk_query_result_t*, std::int32_t) { json.null(); }
};

template <>
struct Describe<kCreateNamespace> {
    static void args(Json& json, velk_client*, const char* ns, const velk_namespace_options_t* options) {
        json.key("ns");
        json.string(ns);
        namespace_options(json, options);
    }
    static void out(Json& json, int, velk_client*, const char*, const velk_namespace_options_t*) {
        json.null();
    }
};
template <>
struct Describe<kUpdateNamespace> : Describe<kCreateNamespace> {};

template <>
struct Describe<kDeleteNamespace> {
    static void args(Json& json, velk_client*, const char* ns) {
        json.key("ns");
        json.string(ns);
    }
    static void out(Json& json, int, velk_client*, const char*) { json.null(); }
};

template <>
struct Describe<kGetNamespace> {
    static void args(Json& json, velk_client*, const char* ns, velk_namespace_info_t* info) {
        json.key("ns");
        json.string(ns);
        given(json, "info", info);
    }
    static void out(Json& json, int rc, velk_client*, const char*, velk_namespace_info_t* info) {
        if (rc != VELK_OK || info == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        json.key("info");
        namespace_info(json, *info);
        json.close_object();
    }
};

template <>
struct Describe<kListNamespaces> {
    static void args(Json& json, velk_client*, velk_namespace_info_t* infos, int capacity, int* total) {
        json.key("capacity");
        json.number(capacity);
        given(json, "infos", infos);
        given(json, "total", total);
    }
    static void out(Json& json, int rc, velk_client*, velk_namespace_info_t* infos, int, int* total) {
        if (rc < 0) {
            json.null();
            return;
        }
        json.open_object();
        json.key("infos");
        json.open_array();
        for (int i = 0; infos != nullptr && i < rc; ++i) {
            namespace_info(json, infos[i]);
        }
        json.close_array();
        json.key("total");
        if (total == nullptr) {
            json.null();
        } else {
            json.number(*total);
        }
        json.close_object();
    }
};

template <>
struct Describe<kGetNodes> {
    static void args(Json& json, velk_client*, const velk_node_selector_t* selector, velk_node_info_t* nodes,
                     int capacity) {
        json.key("capacity");
        json.number(capacity);
        given(json, "nodes", nodes);
        json.key("selector");
        if (selector == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        json.key("cluster");
        json.string(selector->cluster);
        json.key("region");
        json.string(selector->region);
        json.key("zone");
        json.string(selector->zone);
        json.key("rack");
        json.string(selector->rack);
        json.key("node_class");
        json.string(selector->node_class);
        json.close_object();
    }
    static void out(Json& json, int rc, velk_client*, const velk_node_selector_t*, velk_node_info_t* nodes,
                    int) {
        if (rc < 0 || nodes == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        json.key("nodes");
        json.open_array();
        for (int i = 0; i < rc; ++i) {
            node_info(json, nodes[i]);
        }
        json.close_array();
        json.close_object();
    }
};

template <>
struct Describe<kLlCreate> {
    static void args(Json& json, const velk_ll_config_t* config) {
        json.key("config");
        if (config == nullptr) {
            json.null();
            return;
        }
        json.open_object();
        json.key("name");
        json.string(config->name);
        json.close_object();
    }
    static void out(Json& json, velk_client*, const velk_ll_config_t*) { json.null(); }
};

template <>
struct Describe<kLlBatchPut> {
    static void args(Json& json, velk_client*, const velk_ll_put_item_t* items, std::int32_t count,
                     velk_put_result_t* results, std::int32_t capacity, const void*, const void*) {
        json.key("count");
        json.number(count);
        capacity_given(json, "result_capacity", capacity, "results", results);
        if (!array_given(json, "items", items)) {
            return;
        }
        json.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json.open_object();
            json.key("key");
            json.string(items[i].key);
            parts(json, items[i].value_parts, items[i].value_part_lens, items[i].value_part_count, values());
            json.close_object();
        }
        json.close_array();
    }
    static void out(Json& json, std::int32_t rc, velk_client*, const velk_ll_put_item_t*, std::int32_t count,
                    velk_put_result_t* results, std::int32_t, const void*, const void*) {
        if (rc != VELK_OK || results == nullptr || count <= 0) {
            json.null();
            return;
        }
        json.open_object();
        located_results(json, results, count);
        json.close_object();
    }
};

}  // namespace velkfault::journal
