/* SPDX-License-Identifier: MIT */
/**
 * @file velkshared.h
 * @brief The velk_ client interface with its store kept in a server that
 * several processes and machines share.
 *
 * libvelkshared.so.0 exports the 28 velk_ functions of velkmock.h and the
 * two velkshared_ calls below. Every call behaves as libvelkmock.so.0's does
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
 *     the request (its text: velkshared_last_error()). Such a call writes no
 *     output record and does not call the callback. The create calls return
 *     NULL with errno set (EINVAL for a malformed URL or time-out, the
 *     values above otherwise).
 *  5. A value larger than the server accepts as one argument (its
 *     proto-max-bulk-len, 512 MiB by default) is refused like an item the
 *     store has no room for: status VELK_ERR_NO_MEMORY, nothing stored for
 *     it; the rest of the batch goes on.
 *
 * @par Where the store is
 * Read at each create: VELKSHARED_URL (`redis://[:PASSWORD@]HOST[:PORT][/DB]`
 * or `unix:///PATH[?db=N]`; default `redis://127.0.0.1:6379`),
 * VELKSHARED_STORE (the store's name; default `default`) and
 * VELKSHARED_TIMEOUT_MS (default 5000). The configuration record of
 * velk_client_create stays unread.
 *
 * @par Connections
 * Each handle has one connection, opened at create; calls on one handle take
 * turns on it, calls on different handles run in parallel. After a lost
 * connection the next call connects again. A child after fork() that uses a
 * handle of its parent opens a connection of its own. Sockets are
 * close-on-exec.
 *
 * @par Redis Cluster
 * VELKSHARED_URL may name any node of a cluster: a store lives in one slot,
 * and a handle follows MOVED (and keeps the node named), follows ASK for the
 * one call, and tries TRYAGAIN and CLUSTERDOWN again until the time-out
 * (then -110). When its node is lost, the next call starts again from the
 * URL's node.
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
 * Removes every namespace and entry of a store, for test set-up and
 * tear-down. One atomic step for every client of the store.
 * @param url   The server, as VELKSHARED_URL; NULL: the variable (or its default).
 * @param store The store's name; NULL: VELKSHARED_STORE (or its default).
 * @return 0; -22 (-EINVAL) for a malformed URL or time-out; -107, -110 or
 *         -71 as for the velk_ calls.
 */
VELKSHARED_API int velkshared_clear(const char* url, const char* store);

/**
 * @return The server's text for the last call of this thread that returned
 *         -71 (-EPROTO), or of a create that failed with EPROTO; "" before
 *         any. Valid until the thread's next call into the library.
 */
VELKSHARED_API const char* velkshared_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* VELKSHARED_H */
