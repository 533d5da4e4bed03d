/* SPDX-License-Identifier: MIT */
/**
 * @file velkshared.h
 * @brief The velk_ client interface with its store kept in a server that
 * several processes and machines share.
 *
 * libvelkshared.so.0 exports the 28 velk_ functions of velkmock.h and the
 * three velkshared_ calls below. Every call behaves as libvelkmock.so.0's does
 * (the same argument rules and their order, codes, records, texts, low-level
 * layer, node table and metrics) except in these points:
 *
 *  1. Handles that name the same server and store share all its namespaces
 *     and entries: in this process, in other processes, on other machines.
 *     Different stores on one server share nothing.
 *  2. Every call that touches the store is one atomic step for every client
 *     of that store (a script, a transaction or a single command on the
 *     server, which checks and reads everything before its first write).
 *  3. The callback of velk_batch_get runs with no lock held, on copies of
 *     the values: it may call into the same handle.
 *  4. A call that the server cannot complete returns a negated errno value,
 *     never one of the mock's codes: -107 (-ENOTCONN) the server could not
 *     be reached and nothing was done; -110 (-ETIMEDOUT) no answer within the
 *     time-out, or the connection broke after the request went out, so the
 *     call may or may not have taken effect; -71 (-EPROTO) the server refused
 *     the request, or answered with something that is not the store's.
 *     Such a call writes no output record and does not call the callback.
 *     The create calls return NULL with errno set (EINVAL for a URL, store,
 *     time-out or number of replicas that cannot be used, the values above
 *     otherwise); no other call changes errno.
 *     velkshared_last_error() says why, after every such code and after
 *     every failed create.
 *  5. A value, key or metadata text larger than the server accepts as one
 *     argument (its proto-max-bulk-len, 512 MiB by default) is refused like
 *     an item the store has no room for: status VELK_ERR_NO_MEMORY, nothing
 *     stored for it; the rest of the batch goes on. A get, query or delete
 *     of such a key finds nothing. A batch may hold any total size.
 *  6. velk_list_namespaces lists the namespaces sorted by name (the order
 *     of the server's collation); the mock lists them in an order of its
 *     own. Each keeps its order while no namespace is made or deleted.
 *
 * @par Where the store is
 * Read at each create: VELKSHARED_URL, VELKSHARED_STORE (the store's name;
 * default `default`; the empty name is a store too), VELKSHARED_TIMEOUT_MS
 * (default 5000) and VELKSHARED_REPLICAS (default 0; see Redis Cluster
 * below). The URL is
 * `redis://[[USER]:PASSWORD@]HOST[:PORT][,HOST[:PORT]...][/DB]` or
 * `unix://[[USER]:PASSWORD@]/PATH[?db=N][,unix://...]` (default
 * `redis://127.0.0.1:6379`): USER signs in as a user of the server's access
 * lists, a password alone as its default user; several nodes are nodes of
 * one cluster, tried in order. In USER, PASSWORD and PATH, `%HH` is the byte
 * of hex value HH (`%2C` a comma, `%40` an `@`, `%25` a `%`); a `%` without
 * two hex digits after it stands for itself. A unix:// list is split only
 * where a comma is followed by another URL (`,unix://`): any other comma is
 * part of the password or path it is in. A socket path must fit in a socket
 * address (107 bytes, once decoded). The configuration record of
 * velk_client_create stays unread; velkshared_client_create() takes the
 * same settings from a record instead.
 *
 * @par Time-out
 * VELKSHARED_TIMEOUT_MS bounds each call as a whole: connecting, signing
 * in, choosing the database, loading a script, waiting for another call on
 * the same handle, following a cluster and trying again all take what is
 * left of it. No call returns much later than the time-out (the local work
 * of a call is a few milliseconds). Resolving a host name is the system's
 * and is not bounded by it. Each connection attempt (connecting, signing
 * in, the first answer) takes at most a quarter of the time-out (at least
 * 200 ms), unless it is the last node left to try: a node that accepts
 * and then says nothing (a paused machine, a partition) leaves the rest
 * to the others. Such a node is tried after the others for a second or
 * so, and the text of a time-out names the node that did not answer.
 *
 * @par Connections
 * Each handle has one connection, opened at create; calls on one handle take
 * turns on it, calls on different handles run in parallel. After a lost
 * connection the next call connects again. A child after fork() that uses a
 * handle of its parent opens a connection of its own, also when another
 * thread of the parent was inside a call on that handle at the fork (the
 * child gets the handle free, with no connection). Every socket is
 * close-on-exec from the moment it exists, and no call raises a signal in
 * the caller's process (a closed connection is a code, never SIGPIPE),
 * whatever the process does with SIGPIPE. A password goes to the server and
 * into no text, whatever the URL's shape (of one that cannot be used,
 * everything between its scheme, or its start, and its last `@` is hidden).
 *
 * @par Redis Cluster
 * VELKSHARED_URL may name any nodes of a cluster: a store lives in one slot,
 * and every call follows MOVED (and the handle keeps the node named),
 * follows ASK for the one call (with ASKING, loading its script there when
 * needed), and tries TRYAGAIN and CLUSTERDOWN again after a short pause
 * that grows; none of them is counted, a call follows them until its
 * time-out, then answers -110 with what the cluster last said. When its
 * node is lost, the next call tries the URL's nodes in order, then the
 * other nodes the cluster listed, those that answered lately first.
 *
 * Replication in a cluster is asynchronous: with VELKSHARED_REPLICAS 0 (or
 * the record's replicas), a call that writes succeeds once its master has
 * the write, and the master's death before a replica received it loses
 * that write although the call returned VELK_OK. With N above 0, each call
 * that writes (a put, a delete of any items, a namespace made, changed or
 * deleted, velkshared_clear()) succeeds only once N replicas of its master
 * have the write (WAIT, in the same round trip, within the time-out); when
 * fewer confirm in time the call returns -110 (velkshared_last_error():
 * how many were asked and how many confirmed), and the write may or may
 * not survive, as with any time-out. With N the number of replicas each
 * master has, no single master's death loses a write that was confirmed,
 * and no handle then reads an older value; a master left with fewer
 * replicas than N (one died, or took over from its master) makes every
 * write wait for its whole time-out and return -110 until it has N again.
 */
#ifndef VELKSHARED_H
#define VELKSHARED_H

#include "velkmock.h"

/** @cond INTERNAL */
#if defined(VELKSHARED_BUILDING_LIBRARY) && defined(__GNUC__)
#define VELKSHARED_API __attribute__((visibility("default")))
#else
#define VELKSHARED_API
#endif
/** @endcond */

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Where a handle's store is, given in code: one process may hold handles on
 * several stores and servers without touching the environment. A field
 * left at zero (or NULL) falls back to its variable, then to its default.
 * Initialise it whole (`velkshared_options_t options = {0};`), then set
 * what you need.
 */
typedef struct velkshared_options_t {
    const char* url;      /**< As VELKSHARED_URL; NULL: the variable, then redis://127.0.0.1:6379. */
    const char* store;    /**< The store's name; NULL: VELKSHARED_STORE, then "default". */
    int64_t timeout_ms;   /**< The time-out of each call; 0: VELKSHARED_TIMEOUT_MS, then 5000. */
    int64_t replicas;     /**< Replicas that must have each write (see Redis Cluster); 0: VELKSHARED_REPLICAS,
                             then 0. */
    uint64_t reserved[3]; /**< Zero: room for the fields of later versions. */
} velkshared_options_t;

/**
 * Makes a handle on the store that `options` names, as velk_client_create()
 * does from the variables. The record is copied: nothing of it is kept.
 * Safe to call from any thread, with other creates running.
 * @param options The store, server and time-out; NULL: as all left unset.
 * @return A handle (released with velk_client_destroy()), or NULL with
 *         errno set as for velk_client_create() (EINVAL also for a negative
 *         time-out or one over a day, for replicas below 0 or over 1000,
 *         and for a reserved field that is not zero), and velkshared_last_error() saying why.
 */
VELKSHARED_API velk_client* velkshared_client_create(const velkshared_options_t* options);

/**
 * Removes every namespace and entry of a store, for test set-up and
 * tear-down. One atomic step for every client of the store.
 * @param url   The server, as VELKSHARED_URL; NULL: the variable (or its default).
 * @param store The store's name; NULL: VELKSHARED_STORE (or its default).
 * @return 0; -22 (-EINVAL) for a URL or time-out that cannot be used; -107,
 *         -110 or -71 as for the velk_ calls; -12 (-ENOMEM) out of memory.
 *         velkshared_last_error() says why after any of them.
 */
VELKSHARED_API int velkshared_clear(const char* url, const char* store);

/**
 * @return Why the last call of this thread that failed for the server's
 *         sake failed: after -107, -110, -71, a failed create (a URL it
 *         could not use included: which part is wrong) or a failed
 *         velkshared_clear(); the server's own text for a refusal. ""
 *         before any. Never a password. Valid until the thread's next call
 *         into the library.
 */
VELKSHARED_API const char* velkshared_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* VELKSHARED_H */
