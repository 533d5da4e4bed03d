/* SPDX-License-Identifier: MIT */
/**
 * @file velkmock.h
 * @brief In-process stand-in for the client interface of a distributed
 * key-value cache store.
 *
 * Link a program written against the store's client SDK with libvelkmock.so.0
 * (or preload it) and every call below is answered from process memory: no
 * cluster, no network, no disk, nothing survives the process.
 *
 * @par Conventions that hold for every function in this header
 *
 *  - Handles. `velk_client` is opaque. A handle is made by velk_client_create
 *    or velk_ll_create and ends with velk_client_destroy or
 *    velk_ll_client_destroy (either destroy works for either create). Two
 *    handles share nothing.
 *
 *  - Errors. Functions returning int return 0 (or, where stated, a count) on
 *    success and a negative status code on failure. Arguments are checked
 *    first, in the documented order; a broken rule changes nothing and writes
 *    no output. The get family reports argument errors as -EINVAL (-22) and
 *    per-item outcomes as value lengths or -ENOSPC (-28); everything else uses
 *    the VELK_ codes below. Only velk_ll_create touches errno.
 *
 *  - Ownership. The caller owns every record it passes in. Records the library
 *    fills are cleared first; text fields are always NUL-terminated and
 *    zero-filled to their full width, and a text that does not fit is cut at
 *    width - 1 bytes. The library copies what it keeps and never holds a
 *    pointer into caller memory after a call returns. The only memory handed
 *    to the caller is what velk_batch_query hangs on its result records; give
 *    it back with velk_query_result_free.
 *
 *  - Locking. Each handle has one non-recursive lock. Calls marked "locked"
 *    take it after their argument checks and hold it until they return, so a
 *    batch is a single step for every other call on that handle. The callback
 *    of velk_batch_get runs under that lock and must not call into the same
 *    handle. Destroy takes no lock: no other call on the handle may be in
 *    progress or follow.
 *
 *  - Callbacks that do not return. A get callback may end its thread
 *    (pthread_exit, or cancellation while it waits in a cancellation point):
 *    the unwinding passes through the library, which releases the lock on the
 *    way, and the handle stays usable from other threads. A C++ exception
 *    thrown by a callback is the caller's own: it propagates out of the get
 *    call to its caller, again with the lock released, and is never turned
 *    into a status code. A callback must not longjmp out of the call: that
 *    skips the release and leaves the handle locked for good.
 *
 *  - Memory exhaustion inside a call returns VELK_ERR_NO_MEMORY (or a null
 *    handle from the create calls); the lock is released on every path.
 */
#ifndef VELKMOCK_H
#define VELKMOCK_H

#include <stddef.h>
#include <stdint.h>

/**
 * @name Version of this release
 * Macros only: a build can test them at compile time, and no symbol is added
 * for them. velk_version() keeps returning the SDK's fixed text.
 * @{
 */
#define VELKMOCK_VERSION_MAJOR 0 /**< Incompatible releases (and, while 0, minor ones too). */
#define VELKMOCK_VERSION_MINOR 1 /**< Releases that add to the interface. */
#define VELKMOCK_VERSION_PATCH 0 /**< Releases that only mend. */
/** The three as one number, MAJOR * 10000 + MINOR * 100 + PATCH (0.1.0 is 100). */
#define VELKMOCK_VERSION_NUMBER \
    (VELKMOCK_VERSION_MAJOR * 10000 + VELKMOCK_VERSION_MINOR * 100 + VELKMOCK_VERSION_PATCH)
/** @} */

/** @cond INTERNAL */
#if defined(VELKMOCK_BUILDING_LIBRARY) && defined(__GNUC__)
#define VELK_API __attribute__((visibility("default")))
#else
#define VELK_API
#endif
/** @endcond */

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Status codes                                                             */
/* ------------------------------------------------------------------------ */

/**
 * Status codes. The get family instead returns -EINVAL (-22) for a bad
 * argument and reports -ENOSPC (-28) for an item whose buffer is too small
 * (see <errno.h>).
 */
enum velk_status {
    VELK_OK = 0,                       /**< Success. */
    VELK_ERR_NOT_FOUND = -1,           /**< The namespace or key is not present. */
    VELK_ERR_NO_MEMORY = -4,           /**< An allocation failed. */
    VELK_ERR_INVALID_ARGUMENT = -5,    /**< An argument check failed. */
    VELK_ERR_NAMESPACE_NOT_FOUND = -6, /**< The named namespace does not exist. */
    VELK_ERR_NAMESPACE_EXISTS = -8     /**< The namespace to create exists. */
};

/* ------------------------------------------------------------------------ */
/* Records                                                                  */
/* ------------------------------------------------------------------------ */

/** A client handle; opaque. Made by velk_client_create() or velk_ll_create(). */
typedef struct velk_client velk_client;

/** A metadata pair of a put, a filter pair of a get, or a copied pair of a
 *  query result. */
typedef struct velk_meta_pair_t {
    const char* key;   /**< NUL-terminated key text. */
    const char* value; /**< NUL-terminated value text. */
} velk_meta_pair_t;

/** One item of velk_batch_put(); read only. */
typedef struct velk_put_item_t {
    const char* key;                /**< Must not be NULL; "" is a valid key. */
    const void* const* value_parts; /**< value_part_count parts, stored concatenated. */
    const size_t* value_part_lens;  /**< Their lengths in bytes; a part of length 0 is not read. */
    int32_t value_part_count;       /**< 0 stores an empty value; negative makes the item invalid. */
    uint32_t tag;                   /**< Stored unchanged, reported by query details. */
    int32_t replica_count;          /**< Stored; 0 or less is stored as 1. */
    uint64_t reserved;              /**< Never read; set it to 0. */
    const velk_meta_pair_t*
        metadata; /**< metadata_count pairs, or NULL for none; pairs with a NULL side are dropped. */
    int32_t metadata_count; /**< Number of pairs; negative makes the item invalid. */
} velk_put_item_t;

/** The outcome of one put item. */
typedef struct velk_put_result_t {
    char
        location[256]; /**< "mock://mock-node-0:9000/<ns>/<key>", cut at 255 bytes; all zero unless stored. */
    int32_t status;    /**< VELK_OK, VELK_ERR_INVALID_ARGUMENT or VELK_ERR_NO_MEMORY. */
} velk_put_result_t;

/** One key of velk_batch_get() or velk_batch_get_into(). */
typedef struct velk_get_item_t {
    const char* key;                     /**< The key; NULL reports nothing (status 0). */
    uint64_t reserved[3];                /**< Never read. */
    const velk_meta_pair_t* meta_filter; /**< Pairs the entry must all carry, or NULL for no filter. */
    int32_t meta_filter_count;           /**< Number of filter pairs; 0 or less means no filter. */
} velk_get_item_t;

/**
 * The callback of velk_batch_get(), called once per accepted call with the
 * handle's lock held. The arrays and the value bytes are valid only during
 * the call.
 *
 * @param count      The count given to velk_batch_get(): the length of the arrays.
 * @param values     Per item, the first byte of the stored value, or NULL when nothing is reported
 *                   (and for an empty value).
 * @param value_lens Per item, the value's full length, or 0 when nothing is reported.
 * @param statuses   Per item, the length clamped to INT32_MAX, or 0 when nothing is reported.
 * @param user_data  The user_data given to velk_batch_get(), unchanged.
 * @return Ignored.
 */
typedef int (*velk_get_callback_t)(int32_t count, const void* const* values, const uint64_t* value_lens,
                                   const int32_t* statuses, void* user_data);

/** One key of velk_batch_delete_items(). */
typedef struct velk_delete_item_t {
    const char* key;   /**< The key; NULL gives VELK_ERR_INVALID_ARGUMENT for the item. */
    int32_t option;    /**< Carried, never read. */
    uint64_t reserved; /**< Never read. */
} velk_delete_item_t;

/** The outcome of one delete item. */
typedef struct velk_delete_result_t {
    char location[256]; /**< The location text when the namespace exists and the key is not NULL; else all
                           zero. */
    int32_t status;     /**< VELK_OK, VELK_ERR_NOT_FOUND or VELK_ERR_INVALID_ARGUMENT. */
} velk_delete_result_t;

/** The detail record of one found key of velk_batch_query(). */
typedef struct velk_query_detail_t {
    uint32_t tag;         /**< The tag the entry was put with. */
    uint64_t value_len;   /**< The value's length in bytes. */
    int64_t timestamp_ms; /**< Always 1700000000000. */
} velk_query_detail_t;

/** The result of one key of velk_batch_query(). */
typedef struct velk_query_result_t {
    char key[256];                /**< The queried key, cut at 255 bytes. */
    char status[32];              /**< "ok" or "not_found". */
    int32_t replica_count;        /**< The entry's replica count; 0 when not found. */
    uint64_t value_len;           /**< The value's length; 0 when not found. */
    velk_meta_pair_t* metadata;   /**< Library-allocated copies of the metadata, or NULL. */
    int32_t metadata_count;       /**< Number of pairs in metadata. */
    velk_query_detail_t* details; /**< A library-allocated detail record, or NULL. */
    int32_t detail_count;         /**< 1 with a detail record, else 0. */
} velk_query_result_t;

/** Options of velk_batch_query(). */
typedef struct velk_query_options_t {
    int32_t reserved;        /**< Never read. */
    int32_t include_details; /**< Nonzero: a detail record per found key. */
} velk_query_options_t;

/** Settings of velk_create_namespace() and velk_update_namespace(). */
typedef struct velk_namespace_options_t {
    int64_t capacity_bytes;      /**< Recorded, never enforced. */
    const char* eviction_policy; /**< Recorded, never applied; NULL: none given. */
    double policy_param;         /**< Recorded with the policy. */
} velk_namespace_options_t;

/** The description of one namespace. */
typedef struct velk_namespace_info_t {
    char name[128];           /**< The name, cut at 127 bytes. */
    int64_t capacity_bytes;   /**< As set; 0 by default. */
    uint64_t used_bytes;      /**< The sum of the value lengths at the time of the call. */
    char eviction_policy[32]; /**< As set, cut at 31 bytes; "lru" by default. */
    double policy_param;      /**< As set; 0.0 by default. */
    int64_t created_at_ms;    /**< Always 1700000000000. */
} velk_namespace_info_t;

/** One node of the fixed two-node cluster. */
typedef struct velk_node_info_t {
    char node_id[128];             /**< "mock-node-0" or "mock-node-1". */
    char endpoint[256];            /**< "mock://mock-node-0:9000" or "mock://mock-node-1:9000". */
    char region[64];               /**< The node's region. */
    char zone[64];                 /**< The node's zone. */
    char rack[64];                 /**< Empty. */
    char cluster[64];              /**< "mock-cluster". */
    char node_class[32];           /**< "standard". */
    char state[32];                /**< "ready". */
    unsigned char reserved_a[352]; /**< Zero. */
    int64_t capacity_bytes;        /**< The node's nominal capacity. */
    uint64_t reserved_b;           /**< Zero. */
    double weight;                 /**< The node's weight. */
} velk_node_info_t;

/** A node filter of velk_get_nodes(). Each filter that is neither NULL nor ""
 *  must equal the node's field of the same name exactly (byte for byte,
 *  case-sensitive). */
typedef struct velk_node_selector_t {
    const char* cluster;    /**< Filter on velk_node_info_t::cluster. */
    const char* region;     /**< Filter on velk_node_info_t::region. */
    const char* zone;       /**< Filter on velk_node_info_t::zone. */
    const char* rack;       /**< Filter on velk_node_info_t::rack. */
    const char* node_class; /**< Filter on velk_node_info_t::node_class. */
} velk_node_selector_t;

/** The configuration of velk_ll_create(). */
typedef struct velk_ll_config_t {
    const char* name; /**< Must be non-NULL and non-empty; not kept. */
} velk_ll_config_t;

/** One item of velk_ll_batch_put(); the fields mean what those of
 *  velk_put_item_t of the same names mean. */
typedef struct velk_ll_put_item_t {
    const char* key;                 /**< Must not be NULL. */
    const void* const* value_parts;  /**< value_part_count parts, stored concatenated. */
    const uint64_t* value_part_lens; /**< Their lengths in bytes. */
    int32_t value_part_count;        /**< Number of parts. */
} velk_ll_put_item_t;

/** The unit in which metrics are passed; this library only ever zeroes it. */
typedef struct velk_sdk_metrics_ctx_t {
    uint64_t opaque[190]; /**< 1520 bytes, never interpreted. */
} velk_sdk_metrics_ctx_t;

/* ------------------------------------------------------------------------ */
/* Version and handle lifecycle (no lock)                                   */
/* ------------------------------------------------------------------------ */

/** @return "0.0.0-mock": constant, owned by the library, never NULL. */
VELK_API const char* velk_version(void);
/** @return "mockrev": constant, owned by the library, never NULL. */
VELK_API const char* velk_revision(void);
/** @return "1970-01-01T00:00:00Z": constant, owned by the library, never NULL. */
VELK_API const char* velk_build_time(void);

/**
 * Makes a handle with no namespaces and the fixed two-node table.
 * @param config Only tested for NULL; any non-NULL pointer is accepted and nothing is read from it.
 * @return The new handle, or NULL if config is NULL or memory runs out.
 */
VELK_API velk_client* velk_client_create(const void* config);

/**
 * Releases the handle with every namespace and entry. Takes no lock: no other
 * call on the handle may be in progress or follow.
 * @param client The handle; NULL is ignored.
 */
VELK_API void velk_client_destroy(velk_client* client);

/* ------------------------------------------------------------------------ */
/* Metrics (no lock; the library records no metrics)                        */
/* ------------------------------------------------------------------------ */

/**
 * Clears all 1520 bytes of a metrics record.
 * @param ctx The record; NULL is ignored.
 */
VELK_API void velk_sdk_metrics_ctx_reset(velk_sdk_metrics_ctx_t* ctx);

/**
 * Takes a handle's metrics: always all zero.
 * @param client  The handle; must not be NULL.
 * @param metrics Receives the metrics (cleared); must not be NULL.
 * @return VELK_OK, or VELK_ERR_INVALID_ARGUMENT if a pointer is NULL (nothing written).
 */
VELK_API int32_t velk_client_get_metrics(const velk_client* client, velk_sdk_metrics_ctx_t* metrics);

/**
 * Serialises metrics: always the empty text.
 * @param metrics  The metrics; must not be NULL; not read.
 * @param out      Receives the text: out[0] = '\0', nothing else.
 * @param out_size Capacity of out in bytes; must not be 0.
 * @param out_len  Receives the text's length, 0.
 * @return VELK_OK, or VELK_ERR_INVALID_ARGUMENT if a pointer is NULL or out_size is 0.
 */
VELK_API int32_t velk_sdk_metrics_serialize(const velk_sdk_metrics_ctx_t* metrics, char* out,
                                            uint64_t out_size, uint64_t* out_len);

/* ------------------------------------------------------------------------ */
/* Data operations (locked)                                                 */
/* ------------------------------------------------------------------------ */

/**
 * Stores items into a namespace, creating the namespace with default settings
 * if it is absent, one item at a time in array order. Values and texts are
 * copied. If memory runs out at item i, earlier items stay stored, results[i]
 * holds VELK_ERR_NO_MEMORY with an all-zero location, later records are
 * untouched and the call returns VELK_ERR_NO_MEMORY (i is 0 when the
 * namespace itself could not be made).
 *
 * @param client          The handle.
 * @param ns              The namespace name; "" is accepted.
 * @param items           count items.
 * @param count           Number of items; must be greater than 0.
 * @param results         Receives per item VELK_OK and the location, or
 *                        VELK_ERR_INVALID_ARGUMENT and an all-zero location.
 * @param result_capacity Records in results; must be at least count.
 * @param reserved        Never read.
 * @return VELK_OK whatever the per-item statuses; VELK_ERR_INVALID_ARGUMENT if
 *         client, ns, items or results is NULL, count <= 0 or
 *         result_capacity < count; VELK_ERR_NO_MEMORY as above.
 */
VELK_API int32_t velk_batch_put(velk_client* client, const char* ns, const velk_put_item_t* items,
                                int32_t count, velk_put_result_t* results, int32_t result_capacity,
                                const void* reserved);

/**
 * Looks each item up and calls the callback exactly once with per-item value
 * pointers lent from the store, lengths and statuses. The callback must not
 * call into the same handle nor longjmp out; if it throws or ends its thread,
 * that goes on past this call with the lock released (see the conventions).
 *
 * @param client    The handle.
 * @param ns        The namespace name; a missing namespace reports nothing for every item.
 * @param items     count items.
 * @param count     Number of items; must be greater than 0.
 * @param callback  Called once, under the lock.
 * @param user_data Passed to the callback unchanged.
 * @param reserved  Never read.
 * @return VELK_OK after the callback; -EINVAL if client, ns, items or callback
 *         is NULL or count <= 0; VELK_ERR_NO_MEMORY if the temporary arrays
 *         cannot be had. In both failures the callback is not called.
 */
VELK_API int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                int32_t count, velk_get_callback_t callback, void* user_data,
                                const void* reserved);

/**
 * Copies each found value into the caller's buffer for its item. Allocates
 * nothing.
 *
 * @param client       The handle.
 * @param ns           The namespace name.
 * @param items        count items.
 * @param count        Number of items; must be greater than 0.
 * @param buffers      Per item, where to copy the value.
 * @param buffer_sizes Per item, the buffer's capacity in bytes.
 * @param statuses     Receive per item the length (clamped to INT32_MAX), 0
 *                     when nothing is reported, or -ENOSPC when the buffer is
 *                     NULL or smaller than the value (it is then untouched).
 * @param value_lens   Receive per item the value's full length (0 when nothing is reported).
 * @param reserved     Never read.
 * @return VELK_OK, or -EINVAL if a pointer argument is NULL or count <= 0 (no output written).
 */
VELK_API int32_t velk_batch_get_into(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, void* const* buffers, const uint64_t* buffer_sizes,
                                     int32_t* statuses, uint64_t* value_lens, const void* reserved);

/**
 * Removes each item's key from a namespace.
 *
 * @param client          The handle.
 * @param ns              The namespace name.
 * @param items           count items.
 * @param count           Number of items; must be greater than 0.
 * @param results         Receive per item VELK_OK (removed), VELK_ERR_NOT_FOUND
 *                        (no such namespace or key) or VELK_ERR_INVALID_ARGUMENT
 *                        (NULL key), with the location when the namespace
 *                        exists and the key is not NULL.
 * @param result_capacity Records in results; must be at least count.
 * @param reserved        Never read.
 * @return VELK_OK, or VELK_ERR_INVALID_ARGUMENT if client, ns, items or results
 *         is NULL, count <= 0 or result_capacity < count.
 */
VELK_API int32_t velk_batch_delete_items(velk_client* client, const char* ns, const velk_delete_item_t* items,
                                         int32_t count, velk_delete_result_t* results,
                                         int32_t result_capacity, const void* reserved);

/**
 * Flat form of velk_batch_delete_items() (takes no lock of its own): keys[i]
 * and options[i] become item i.
 *
 * @param client          The handle.
 * @param ns              The namespace name.
 * @param keys            count keys; an entry may be NULL.
 * @param count           Number of keys; must be greater than 0.
 * @param options         count options, or NULL for all 0; carried, never read.
 * @param statuses        Receive per key its status, as in velk_batch_delete_items().
 * @param status_capacity Slots in statuses; must be at least count.
 * @param reserved        Never read.
 * @return VELK_OK; VELK_ERR_INVALID_ARGUMENT if client, ns, keys or statuses is
 *         NULL, count <= 0 or status_capacity < count; VELK_ERR_NO_MEMORY. On
 *         failure statuses is untouched.
 */
VELK_API int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                   int32_t count, const int32_t* options, int32_t* statuses,
                                   int32_t status_capacity, const void* reserved);

/**
 * Describes each key: "ok" or "not_found", replica count, value length,
 * library-allocated copies of the metadata and, if asked, a detail record.
 * The records are cleared, not released: release records from an earlier
 * query before passing them again, or their blocks are lost.
 *
 * @param client          The handle.
 * @param ns              The namespace name.
 * @param keys            count keys; an entry may be NULL (reported "not_found").
 * @param count           Number of keys; must be greater than 0.
 * @param options         NULL, or options->include_details nonzero for a detail record per found key.
 * @param results         Receive one record per key; release them with velk_query_result_free().
 * @param result_capacity Records in results; must be at least count.
 * @return count on success; VELK_ERR_INVALID_ARGUMENT if client, ns, keys or
 *         results is NULL, count <= 0 or result_capacity < count;
 *         VELK_ERR_NO_MEMORY if an allocation fails, with everything the call
 *         allocated released by then.
 */
VELK_API int32_t velk_batch_query(velk_client* client, const char* ns, const char* const* keys, int32_t count,
                                  const velk_query_options_t* options, velk_query_result_t* results,
                                  int32_t result_capacity);

/**
 * Frees the blocks hanging on query results and leaves their pointers NULL
 * and counts 0, so releasing twice is harmless. No lock.
 * @param results The records; NULL: no effect.
 * @param count   Number of records; 0 or less: no effect.
 */
VELK_API void velk_query_result_free(velk_query_result_t* results, int32_t count);

/* ------------------------------------------------------------------------ */
/* Namespace administration (locked). Settings are stored and reported only: */
/* no capacity is enforced and nothing is ever evicted.                     */
/* ------------------------------------------------------------------------ */

/**
 * Creates a namespace.
 * @param client  The handle.
 * @param ns      The name; must be non-empty.
 * @param options The settings, or NULL for capacity 0, policy "lru",
 *                parameter 0.0; a NULL or empty policy text means "lru".
 * @return VELK_OK, VELK_ERR_NAMESPACE_EXISTS (nothing changes),
 *         VELK_ERR_INVALID_ARGUMENT or VELK_ERR_NO_MEMORY.
 */
VELK_API int velk_create_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options);

/**
 * Changes a namespace's settings: capacity and parameter always, the policy
 * when its text is not NULL (an empty text is stored).
 * @param client  The handle.
 * @param ns      The name; must be non-empty.
 * @param options The settings; NULL changes nothing.
 * @return VELK_OK, VELK_ERR_NAMESPACE_NOT_FOUND, VELK_ERR_INVALID_ARGUMENT or VELK_ERR_NO_MEMORY.
 */
VELK_API int velk_update_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options);

/**
 * Removes a namespace with all its entries.
 * @param client The handle.
 * @param ns     The name; must be non-empty.
 * @return VELK_OK, VELK_ERR_NAMESPACE_NOT_FOUND or VELK_ERR_INVALID_ARGUMENT.
 */
VELK_API int velk_delete_namespace(velk_client* client, const char* ns);

/**
 * Describes a namespace.
 * @param client The handle.
 * @param ns     The name; must be non-empty.
 * @param info   Receives the description (name cut at 127 bytes, policy at 31).
 * @return VELK_OK, VELK_ERR_NAMESPACE_NOT_FOUND (info untouched) or
 *         VELK_ERR_INVALID_ARGUMENT (client, ns or info NULL, ns empty).
 */
VELK_API int velk_get_namespace(velk_client* client, const char* ns, velk_namespace_info_t* info);

/**
 * Lists the namespaces. The order is unspecified but stable while no
 * namespace is created or deleted; records beyond the returned count are
 * untouched.
 * @param client        The handle.
 * @param infos         Receive up to info_capacity descriptions; may be NULL when info_capacity is 0.
 * @param info_capacity Records in infos; must not be negative.
 * @param total         Receives the number of namespaces.
 * @return The number of records written, or VELK_ERR_INVALID_ARGUMENT (client
 *         or total NULL, info_capacity negative, or positive with infos NULL).
 */
VELK_API int velk_list_namespaces(velk_client* client, velk_namespace_info_t* infos, int info_capacity,
                                  int* total);

/* ------------------------------------------------------------------------ */
/* Topology (locked)                                                        */
/* ------------------------------------------------------------------------ */

/**
 * Copies the nodes of the fixed two-node table that pass a selector, in table
 * order.
 * @param client        The handle.
 * @param selector      The filters, or NULL to pass every node.
 * @param nodes         Receive the nodes.
 * @param node_capacity Records in nodes; must be greater than 0.
 * @return The number written, or VELK_ERR_INVALID_ARGUMENT (client or nodes
 *         NULL, node_capacity <= 0).
 */
VELK_API int velk_get_nodes(velk_client* client, const velk_node_selector_t* selector,
                            velk_node_info_t* nodes, int node_capacity);

/* ------------------------------------------------------------------------ */
/* Low-level interface: flat arrays on the fixed namespace "ll". No lock of */
/* its own; each call forwards to the ordinary operation, which locks.      */
/* ------------------------------------------------------------------------ */

/**
 * Makes a handle, exactly like velk_client_create(). The only function that
 * touches errno.
 * @param config The configuration; NULL gives NULL with errno untouched; a
 *               NULL or empty name gives NULL with errno = EINVAL.
 * @return The new handle, or NULL.
 */
VELK_API velk_client* velk_ll_create(const velk_ll_config_t* config);

/**
 * Same as velk_client_destroy().
 * @param client The handle; NULL is ignored.
 */
VELK_API void velk_ll_client_destroy(velk_client* client);

/**
 * velk_batch_put() into "ll" with tag 0, replica count 1 and no metadata.
 * @param client          Handed on.
 * @param items           count items; must not be NULL.
 * @param count           Number of items; must be greater than 0.
 * @param results         Handed on.
 * @param result_capacity Handed on.
 * @param reserved        Handed on.
 * @param ignored         Never read.
 * @return VELK_ERR_INVALID_ARGUMENT if items is NULL or count <= 0; otherwise
 *         what velk_batch_put() returns (VELK_ERR_NO_MEMORY if the temporaries fail).
 */
VELK_API int32_t velk_ll_batch_put(velk_client* client, const velk_ll_put_item_t* items, int32_t count,
                                   velk_put_result_t* results, int32_t result_capacity, const void* reserved,
                                   const void* ignored);

/**
 * velk_batch_get() on "ll" without filters.
 * @param client    Handed on.
 * @param keys      count keys; must not be NULL; an entry may be NULL.
 * @param count     Number of keys; must be greater than 0.
 * @param callback  Handed on.
 * @param user_data Handed on.
 * @param reserved  Handed on.
 * @param ignored   Never read.
 * @return -EINVAL if keys is NULL or count <= 0; otherwise what velk_batch_get() returns.
 */
VELK_API int32_t velk_ll_batch_get(velk_client* client, const char* const* keys, int32_t count,
                                   velk_get_callback_t callback, void* user_data, const void* reserved,
                                   const void* ignored);

/**
 * velk_batch_get_into() on "ll" without filters.
 * @param client       Handed on.
 * @param keys         count keys; must not be NULL; an entry may be NULL.
 * @param count        Number of keys; must be greater than 0.
 * @param buffers      Handed on.
 * @param buffer_sizes Handed on.
 * @param statuses     Handed on.
 * @param value_lens   Handed on.
 * @param reserved     Handed on.
 * @return -EINVAL if keys is NULL or count <= 0; otherwise what velk_batch_get_into() returns.
 */
VELK_API int32_t velk_ll_batch_get_into(velk_client* client, const char* const* keys, int32_t count,
                                        void* const* buffers, const uint64_t* buffer_sizes, int32_t* statuses,
                                        uint64_t* value_lens, const void* reserved);

/**
 * velk_batch_delete_items() on "ll"; statuses[i] receives item i's status.
 * @param client          Handed on.
 * @param keys            count keys; must not be NULL; an entry may be NULL.
 * @param count           Number of keys; must be greater than 0.
 * @param statuses        Receive the statuses; must not be NULL.
 * @param status_capacity Slots in statuses; must be at least count.
 * @param reserved        Handed on.
 * @param ignored         Never read.
 * @return VELK_OK, VELK_ERR_INVALID_ARGUMENT if a rule above is broken, or the
 *         ordinary call's failure; on any failure statuses is untouched.
 */
VELK_API int32_t velk_ll_batch_delete(velk_client* client, const char* const* keys, int32_t count,
                                      int32_t* statuses, int32_t status_capacity, const void* reserved,
                                      const void* ignored);

/**
 * velk_batch_query() on "ll" without options. Release the results with
 * velk_query_result_free().
 * @param client          Handed on.
 * @param keys            Handed on.
 * @param count           Handed on.
 * @param results         Handed on.
 * @param result_capacity Handed on.
 * @param ignored         Never read.
 * @return What velk_batch_query() returns.
 */
VELK_API int32_t velk_ll_batch_query(velk_client* client, const char* const* keys, int32_t count,
                                     velk_query_result_t* results, int32_t result_capacity,
                                     const void* ignored);

#ifdef __cplusplus
}
#endif

#endif /* VELKMOCK_H */
