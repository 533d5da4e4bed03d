/*
 * velkmock.h - in-process stand-in for the client interface of a distributed
 * key-value cache store.
 *
 * Link a program written against the store's client SDK with libvelkmock.so.0
 * (or preload it) and every call below is answered from process memory: no
 * cluster, no network, no disk, nothing survives the process.
 *
 * Conventions that hold for every function in this header:
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

#if defined(VELKMOCK_BUILDING_LIBRARY) && defined(__GNUC__)
#define VELK_API __attribute__((visibility("default")))
#else
#define VELK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Status codes                                                             */
/* ------------------------------------------------------------------------ */

enum velk_status {
    VELK_OK = 0,
    VELK_ERR_NOT_FOUND = -1,           /* namespace or key not present       */
    VELK_ERR_NO_MEMORY = -4,           /* an allocation failed               */
    VELK_ERR_INVALID_ARGUMENT = -5,    /* an argument check failed           */
    VELK_ERR_NAMESPACE_NOT_FOUND = -6, /* the named namespace does not exist */
    VELK_ERR_NAMESPACE_EXISTS = -8     /* the namespace to create exists     */
};
/* The get family instead returns -EINVAL (-22) for a bad argument and reports
 * -ENOSPC (-28) for an item whose buffer is too small (see <errno.h>). */

/* ------------------------------------------------------------------------ */
/* Records                                                                  */
/* ------------------------------------------------------------------------ */

typedef struct velk_client velk_client;

/* A metadata pair of a put, a filter pair of a get, or a copied pair of a
 * query result. */
typedef struct velk_meta_pair_t {
    const char* key;
    const char* value;
} velk_meta_pair_t;

typedef struct velk_put_item_t {
    const char* key;                /* must not be NULL; "" is a valid key   */
    const void* const* value_parts; /* value_part_count parts, concatenated */
    const size_t* value_part_lens;  /* their lengths in bytes               */
    int32_t value_part_count;       /* 0 stores an empty value              */
    uint32_t tag;                   /* stored unchanged                     */
    int32_t replica_count;          /* <= 0 is stored as 1                  */
    uint64_t reserved;              /* never read                           */
    const velk_meta_pair_t* metadata;
    int32_t metadata_count;
} velk_put_item_t;

typedef struct velk_put_result_t {
    char location[256]; /* "mock://mock-node-0:9000/<ns>/<key>", cut at 255 */
    int32_t status;     /* VELK_OK, VELK_ERR_INVALID_ARGUMENT or _NO_MEMORY  */
} velk_put_result_t;

typedef struct velk_get_item_t {
    const char* key;                     /* NULL: nothing reported (status 0) */
    uint64_t reserved[3];                /* never read                         */
    const velk_meta_pair_t* meta_filter; /* pairs the entry must all carry     */
    int32_t meta_filter_count;           /* <= 0: no filter                    */
} velk_get_item_t;

/* Called once per accepted velk_batch_get, with the handle's lock held. The
 * arrays and the value bytes are valid only during the call. The return value
 * is ignored. */
typedef int (*velk_get_callback_t)(int32_t count, const void* const* values, const uint64_t* value_lens,
                                   const int32_t* statuses, void* user_data);

typedef struct velk_delete_item_t {
    const char* key;   /* NULL yields VELK_ERR_INVALID_ARGUMENT for the item */
    int32_t option;    /* carried, never read                                */
    uint64_t reserved; /* never read                                         */
} velk_delete_item_t;

typedef struct velk_delete_result_t {
    char location[256];
    int32_t status; /* VELK_OK, VELK_ERR_NOT_FOUND or VELK_ERR_INVALID_ARGUMENT */
} velk_delete_result_t;

typedef struct velk_query_detail_t {
    uint32_t tag;
    uint64_t value_len;
    int64_t timestamp_ms; /* always 1700000000000 */
} velk_query_detail_t;

typedef struct velk_query_result_t {
    char key[256];              /* the queried key, cut at 255 bytes        */
    char status[32];            /* "ok" or "not_found"                      */
    int32_t replica_count;      /* 0 when not found                         */
    uint64_t value_len;         /* 0 when not found                         */
    velk_meta_pair_t* metadata; /* library-allocated copies, or NULL        */
    int32_t metadata_count;
    velk_query_detail_t* details; /* library-allocated, or NULL               */
    int32_t detail_count;         /* 1 or 0                                   */
} velk_query_result_t;

typedef struct velk_query_options_t {
    int32_t reserved;        /* never read                                  */
    int32_t include_details; /* nonzero: a detail record per found key      */
} velk_query_options_t;

typedef struct velk_namespace_options_t {
    int64_t capacity_bytes;      /* recorded, never enforced                   */
    const char* eviction_policy; /* recorded, never applied; NULL: none given  */
    double policy_param;
} velk_namespace_options_t;

typedef struct velk_namespace_info_t {
    char name[128];
    int64_t capacity_bytes;
    uint64_t used_bytes; /* sum of the value lengths at the time of the call */
    char eviction_policy[32];
    double policy_param;
    int64_t created_at_ms; /* always 1700000000000 */
} velk_namespace_info_t;

typedef struct velk_node_info_t {
    char node_id[128];
    char endpoint[256];
    char region[64];
    char zone[64];
    char rack[64];
    char cluster[64];
    char node_class[32];
    char state[32];
    unsigned char reserved_a[352];
    int64_t capacity_bytes;
    uint64_t reserved_b;
    double weight;
} velk_node_info_t;

/* Each filter that is neither NULL nor "" must equal the node's field of the
 * same name exactly (byte for byte, case-sensitive). */
typedef struct velk_node_selector_t {
    const char* cluster;
    const char* region;
    const char* zone;
    const char* rack;
    const char* node_class;
} velk_node_selector_t;

typedef struct velk_ll_config_t {
    const char* name; /* must be non-NULL and non-empty; not kept */
} velk_ll_config_t;

typedef struct velk_ll_put_item_t {
    const char* key;
    const void* const* value_parts;
    const uint64_t* value_part_lens;
    int32_t value_part_count;
} velk_ll_put_item_t;

/* The unit in which metrics are passed; this library only ever zeroes it. */
typedef struct velk_sdk_metrics_ctx_t {
    uint64_t opaque[190]; /* 1520 bytes */
} velk_sdk_metrics_ctx_t;

/* ------------------------------------------------------------------------ */
/* Version and handle lifecycle (no lock)                                   */
/* ------------------------------------------------------------------------ */

/* Constant texts owned by the library: "0.0.0-mock", "mockrev" and
 * "1970-01-01T00:00:00Z". Never NULL; do not free. */
VELK_API const char* velk_version(void);
VELK_API const char* velk_revision(void);
VELK_API const char* velk_build_time(void);

/* Returns a new handle with no namespaces and the fixed two-node table, or
 * NULL if `config` is NULL or memory runs out. `config` is only tested for
 * NULL; any non-NULL pointer is accepted and nothing is read from it. */
VELK_API velk_client* velk_client_create(const void* config);

/* Releases the handle with every namespace and entry. NULL is ignored. Takes
 * no lock: no other call on the handle may be in progress or follow. */
VELK_API void velk_client_destroy(velk_client* client);

/* ------------------------------------------------------------------------ */
/* Metrics (no lock; the library records no metrics)                        */
/* ------------------------------------------------------------------------ */

/* Clears all 1520 bytes of *ctx. NULL is ignored. */
VELK_API void velk_sdk_metrics_ctx_reset(velk_sdk_metrics_ctx_t* ctx);

/* Clears *metrics and returns VELK_OK; VELK_ERR_INVALID_ARGUMENT if either
 * pointer is NULL (nothing written). */
VELK_API int32_t velk_client_get_metrics(const velk_client* client, velk_sdk_metrics_ctx_t* metrics);

/* Writes the empty text: *out_len = 0 and out[0] = '\0', nothing else.
 * VELK_ERR_INVALID_ARGUMENT if a pointer is NULL or out_size is 0. */
VELK_API int32_t velk_sdk_metrics_serialize(const velk_sdk_metrics_ctx_t* metrics, char* out,
                                            uint64_t out_size, uint64_t* out_len);

/* ------------------------------------------------------------------------ */
/* Data operations (locked)                                                 */
/* ------------------------------------------------------------------------ */

/* Stores `count` items into namespace `ns`, creating the namespace with
 * default settings if it is absent. results[i] receives VELK_OK and the
 * location text, or VELK_ERR_INVALID_ARGUMENT and an all-zero location for an
 * invalid item. Returns VELK_OK whatever the per-item statuses;
 * VELK_ERR_INVALID_ARGUMENT if client, ns, items or results is NULL, count
 * <= 0 or result_capacity < count. If memory runs out at item i, earlier
 * items stay stored, results[i] holds VELK_ERR_NO_MEMORY, later records are
 * untouched and the call returns VELK_ERR_NO_MEMORY. Values and texts are
 * copied. */
VELK_API int32_t velk_batch_put(velk_client* client, const char* ns, const velk_put_item_t* items,
                                int32_t count, velk_put_result_t* results, int32_t result_capacity,
                                const void* reserved);

/* Looks each item up and calls `callback` exactly once with per-item value
 * pointers (lent from the store, valid only during the callback), lengths and
 * statuses (the length clamped to INT32_MAX; 0 when nothing is reported).
 * Returns VELK_OK after the callback; -EINVAL if client, ns, items or
 * callback is NULL or count <= 0 (the callback is not called);
 * VELK_ERR_NO_MEMORY if the temporary arrays cannot be had (not called).
 * The callback must not call into the same handle nor longjmp out; if it
 * throws or ends its thread, that goes on past this call with the lock
 * released (see the conventions above). */
VELK_API int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                int32_t count, velk_get_callback_t callback, void* user_data,
                                const void* reserved);

/* Copies each found value into buffers[i]. statuses[i] is the length (clamped
 * to INT32_MAX), 0 when nothing is reported, or -ENOSPC when buffers[i] is
 * NULL or smaller than the value (the buffer is then untouched);
 * value_lens[i] is the full length. Returns VELK_OK, or -EINVAL if a pointer
 * argument is NULL or count <= 0 (no output written). Allocates nothing. */
VELK_API int32_t velk_batch_get_into(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, void* const* buffers, const uint64_t* buffer_sizes,
                                     int32_t* statuses, uint64_t* value_lens, const void* reserved);

/* Removes each item's key from `ns`. results[i].status is VELK_OK (removed),
 * VELK_ERR_NOT_FOUND (no such namespace or key) or VELK_ERR_INVALID_ARGUMENT
 * (NULL key); the location is written when the namespace exists and the key
 * is not NULL. Returns VELK_OK, or VELK_ERR_INVALID_ARGUMENT if client, ns,
 * items or results is NULL, count <= 0 or result_capacity < count. */
VELK_API int32_t velk_batch_delete_items(velk_client* client, const char* ns, const velk_delete_item_t* items,
                                         int32_t count, velk_delete_result_t* results,
                                         int32_t result_capacity, const void* reserved);

/* Flat form of velk_batch_delete_items (takes no lock of its own): keys[i]
 * and options[i] (options may be NULL) become item i; statuses[i] receives
 * its status. Returns VELK_OK, VELK_ERR_INVALID_ARGUMENT (client, ns, keys or
 * statuses NULL, count <= 0, status_capacity < count) or VELK_ERR_NO_MEMORY;
 * on failure statuses is untouched. */
VELK_API int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                   int32_t count, const int32_t* options, int32_t* statuses,
                                   int32_t status_capacity, const void* reserved);

/* Describes each key: status "ok" or "not_found", replica count, value length,
 * library-allocated copies of the metadata and, if options->include_details
 * is nonzero, a detail record. Returns `count` on success; the caller then
 * owns the blocks and releases them with velk_query_result_free.
 * VELK_ERR_INVALID_ARGUMENT if client, ns, keys or results is NULL, count <= 0
 * or result_capacity < count. VELK_ERR_NO_MEMORY if an allocation fails:
 * everything allocated by the call has been released by then. The records are
 * cleared, not released: release records from an earlier query before
 * passing them again, or their blocks are lost. */
VELK_API int32_t velk_batch_query(velk_client* client, const char* ns, const char* const* keys, int32_t count,
                                  const velk_query_options_t* options, velk_query_result_t* results,
                                  int32_t result_capacity);

/* Frees the blocks hanging on results[0..count-1] and leaves their pointers
 * NULL and counts 0, so releasing twice is harmless. NULL or count <= 0: no
 * effect. No lock. */
VELK_API void velk_query_result_free(velk_query_result_t* results, int32_t count);

/* ------------------------------------------------------------------------ */
/* Namespace administration (locked). Settings are stored and reported only: */
/* no capacity is enforced and nothing is ever evicted.                     */
/* ------------------------------------------------------------------------ */

/* Creates namespace `ns` (non-empty) with the given settings or, for NULL
 * options, capacity 0, policy "lru", parameter 0.0. A NULL or empty policy
 * text means "lru". Returns VELK_OK, VELK_ERR_NAMESPACE_EXISTS (nothing
 * changes), VELK_ERR_INVALID_ARGUMENT or VELK_ERR_NO_MEMORY. */
VELK_API int velk_create_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options);

/* Sets capacity and parameter always and the policy when its text is not
 * NULL (an empty text is stored). NULL options change nothing. Returns
 * VELK_OK, VELK_ERR_NAMESPACE_NOT_FOUND, VELK_ERR_INVALID_ARGUMENT or
 * VELK_ERR_NO_MEMORY. */
VELK_API int velk_update_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options);

/* Removes the namespace with all its entries. Returns VELK_OK,
 * VELK_ERR_NAMESPACE_NOT_FOUND or VELK_ERR_INVALID_ARGUMENT. */
VELK_API int velk_delete_namespace(velk_client* client, const char* ns);

/* Fills *info (name cut at 127 bytes, policy at 31). Returns VELK_OK,
 * VELK_ERR_NAMESPACE_NOT_FOUND (info untouched) or VELK_ERR_INVALID_ARGUMENT
 * (client, ns or info NULL, ns empty). */
VELK_API int velk_get_namespace(velk_client* client, const char* ns, velk_namespace_info_t* info);

/* Sets *total to the number of namespaces and fills up to info_capacity
 * records (infos may be NULL when info_capacity is 0). Returns the number of
 * records written, or VELK_ERR_INVALID_ARGUMENT (client or total NULL,
 * info_capacity negative, or positive with infos NULL). Records beyond the
 * returned count are untouched. The order is unspecified but stable while no
 * namespace is created or deleted. */
VELK_API int velk_list_namespaces(velk_client* client, velk_namespace_info_t* infos, int info_capacity,
                                  int* total);

/* ------------------------------------------------------------------------ */
/* Topology (locked)                                                        */
/* ------------------------------------------------------------------------ */

/* Copies the nodes of the fixed two-node table that pass `selector` (NULL
 * passes all) into nodes[0..], in table order, up to node_capacity. Returns
 * the number written, or VELK_ERR_INVALID_ARGUMENT (client or nodes NULL,
 * node_capacity <= 0). */
VELK_API int velk_get_nodes(velk_client* client, const velk_node_selector_t* selector,
                            velk_node_info_t* nodes, int node_capacity);

/* ------------------------------------------------------------------------ */
/* Low-level interface: flat arrays on the fixed namespace "ll". No lock of */
/* its own; each call forwards to the ordinary operation, which locks.      */
/* The trailing `ignored` parameter is never read.                          */
/* ------------------------------------------------------------------------ */

/* Returns a new handle, exactly like velk_client_create. NULL config: NULL,
 * errno untouched. NULL or empty name: NULL with errno = EINVAL. */
VELK_API velk_client* velk_ll_create(const velk_ll_config_t* config);

/* Same as velk_client_destroy. */
VELK_API void velk_ll_client_destroy(velk_client* client);

/* velk_batch_put into "ll" with tag 0, replica count 1, no metadata.
 * VELK_ERR_INVALID_ARGUMENT if items is NULL or count <= 0; otherwise what
 * velk_batch_put returns (VELK_ERR_NO_MEMORY if the temporaries fail). */
VELK_API int32_t velk_ll_batch_put(velk_client* client, const velk_ll_put_item_t* items, int32_t count,
                                   velk_put_result_t* results, int32_t result_capacity, const void* reserved,
                                   const void* ignored);

/* velk_batch_get on "ll" without filters. -EINVAL if keys is NULL or
 * count <= 0; otherwise what velk_batch_get returns. */
VELK_API int32_t velk_ll_batch_get(velk_client* client, const char* const* keys, int32_t count,
                                   velk_get_callback_t callback, void* user_data, const void* reserved,
                                   const void* ignored);

/* velk_batch_get_into on "ll" without filters. -EINVAL if keys is NULL or
 * count <= 0; otherwise what velk_batch_get_into returns. */
VELK_API int32_t velk_ll_batch_get_into(velk_client* client, const char* const* keys, int32_t count,
                                        void* const* buffers, const uint64_t* buffer_sizes, int32_t* statuses,
                                        uint64_t* value_lens, const void* reserved);

/* velk_batch_delete_items on "ll"; statuses[i] receives item i's status.
 * VELK_ERR_INVALID_ARGUMENT if keys or statuses is NULL, count <= 0 or
 * status_capacity < count; on any failure statuses is untouched. */
VELK_API int32_t velk_ll_batch_delete(velk_client* client, const char* const* keys, int32_t count,
                                      int32_t* statuses, int32_t status_capacity, const void* reserved,
                                      const void* ignored);

/* velk_batch_query on "ll" without options; returns what it returns. Release
 * the results with velk_query_result_free. */
VELK_API int32_t velk_ll_batch_query(velk_client* client, const char* const* keys, int32_t count,
                                     velk_query_result_t* results, int32_t result_capacity,
                                     const void* ignored);

#ifdef __cplusplus
}
#endif

#endif /* VELKMOCK_H */
