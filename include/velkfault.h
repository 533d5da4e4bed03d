/* SPDX-License-Identifier: MIT */
/**
 * @file velkfault.h
 * @brief Failure injection for programs that use the velk_ client interface.
 *
 * libvelkfault.so.0 defines the 28 velk_ functions of velkmock.h. Each call
 * first consults the plan made through this header (or the VELKFAULT
 * environment variable), then either answers itself, with a planned failure,
 * or forwards to the next definition of the same name in the process's
 * lookup order: libvelkmock.so.0, or the real SDK. So it must come first:
 *
 *     cc my_tests.c -Wl,--no-as-needed -lvelkfault -lvelkmock
 *     LD_PRELOAD="libvelkfault.so.0 libvelkmock.so.0" ./my_tests
 *     LD_PRELOAD=libvelkfault.so.0 ./my_tests      (against the real SDK)
 *
 * The program names no symbol of the library after this one, so a linker
 * that defaults to --as-needed (Debian's does) drops it unless
 * -Wl,--no-as-needed comes before it (the CMake target and the pkg-config
 * file add it).
 *
 * A call that a rule fails answers at once, without looking for the next
 * library. The first call that is passed on and finds no later definition
 * (in the lookup order, or in the library the call came from: a library
 * loaded with dlopen(..., RTLD_LOCAL) calling its own exported names)
 * prints one line on stderr saying so and aborts.
 *
 * When a library loaded before this one defines the velk_ functions (it was
 * preloaded or loaded after it), the program's calls never reach it: the
 * control calls then refuse with VELKFAULT_NOT_IN_FRONT, and a VELKFAULT
 * plan stops the program at load with exit status 2. With no plan, it never
 * changes what the program does.
 *
 * @par Calls the next library makes to itself
 * Calls that the next library makes through the exported names pass through
 * here too, and are counted and planned like the program's own. The mock's
 * low-level calls go through its ordinary ones, so a failure planned for
 * velk_batch_put also fails velk_ll_batch_put (and velk_batch_delete goes
 * through velk_batch_delete_items, velk_ll_create through
 * velk_client_create, the low-level destroy through velk_client_destroy).
 *
 * @par The plan
 * Each function has at most one failure rule (a new one replaces the old)
 * and at most one delay. A rule counts the calls it sees: the first `skip`
 * pass on, then `times` of them fail (0: every one from then on), then the
 * rule is spent. A failed call does not reach the next library: it writes no
 * output, takes no lock and returns the planned code. Everything here is
 * safe from any thread while calls run.
 *
 * @par The VELKFAULT variable
 * For unmodified binaries the plan can be given at load, as rules separated
 * by ';': `FUNCTION=CODE[@SKIP][xTIMES]` (velkfault_fail),
 * `FUNCTION[ITEM]=STATUS[@SKIP][xTIMES]` (velkfault_fail_item) and
 * `FUNCTION~MICROSECONDS` (velkfault_delay), for example
 * `VELKFAULT='velk_batch_put=-4@2x1;velk_get_nodes~5000'`. A malformed rule
 * or an unknown function stops the program at load, with one line on stderr
 * naming the rule and exit status 2. The velkfault-run script sets the
 * variable and LD_PRELOAD for a command.
 *
 * @par The journal
 * With VELKFAULT_JOURNAL=FILE, read at load, every call that passes through
 * this library writes one JSON line to FILE: its arguments (as far as the
 * library reads them), its answer and everything it wrote back, with its
 * process, thread, handle, time and what a plan did to it. Every process
 * that loads this library with the variable writes to the one file: the
 * first creates it, the others (a child after fork, a program started with
 * exec) append, and none truncates it; seq numbers are unique in the file.
 * A file that is not a journal of this version is not added to.
 * VELKFAULT_JOURNAL_VALUES says how values go into it: `hash` (the default:
 * their FNV-1a hash), `full` (their bytes, in base64: what velk-journal
 * needs to make the calls again) or `none`. The README has the format.
 * Lines of threads and processes never interleave. A journal that cannot
 * be written stops with one line on stderr and changes no answer; one that
 * cannot be opened, or an unknown VELKFAULT_JOURNAL_VALUES, stops the
 * program at load with exit status 2.
 *
 * @par The cache mode
 * The store these calls belong to is a cache; the mock and the shared store
 * only record a namespace's capacity and eviction policy. With the cache mode
 * on, this library enforces them in front of the next library, exactly as
 * follows, and counts hits and misses. It is off unless VELKFAULT_CACHE (read
 * at load), `velkfault-run --cache [SPEC]` or velkfault_cache() turns it on;
 * off, it changes nothing and costs one load of a flag per call.
 *  - The spec: `on`, `off`, or rules `NS=BYTES[:POLICY]` separated by ';'
 *    (`*` for every namespace no rule names; BYTES in bytes, or with KiB,
 *    MiB, GiB or TiB). `on` uses each namespace's declared settings: what
 *    its create and its updates gave it (capacity 0 and "lru" for one a put
 *    made). A rule takes the place of the declared capacity, and of the
 *    policy when it names one, for eviction only (velk_get_namespace still
 *    reports what was declared). A malformed VELKFAULT_CACHE or
 *    VELKFAULT_SEED stops the program at load, with one line on stderr
 *    naming the rule and exit status 2.
 *  - Each handle's namespace is a cache of its own. It is bounded when its
 *    capacity is above 0 and its policy is "lru", "lfu", "fifo" or "random";
 *    otherwise it is counted and never evicted (a policy the mode does not
 *    know is reported once on stderr).
 *  - Only entries stored through this library while the mode is on are
 *    known to it: an entry's size is its value's length, and the known
 *    bytes are their sum. Entries stored before, or by another process on
 *    the shared store, are neither counted in the known bytes nor evicted:
 *    for a shared namespace the capacity bounds only what this process put.
 *  - A use: a put item that stores its entry, or a get, get-into or query
 *    item that finds a known entry (a hit). Finding a key the mode does not
 *    know is a hit too, and changes nothing; an item that finds nothing is
 *    a miss and changes nothing; an item with a NULL key is neither. A get or
 *    get-into reports an empty value as it reports nothing: such an item is a
 *    hit when the mode knows the key with an empty value and the item has no
 *    filter, else a miss. Uses within a batch happen in item order (a get's
 *    when its callback is lent the values); a call that fails as a whole,
 *    or that a plan answers, uses nothing. A call is seen once: the calls
 *    the next library makes of itself inside one (the mock's low-level
 *    calls through its ordinary ones, its flat delete through the one with
 *    items) are part of the outermost, which is the one counted (the calls
 *    a get's callback makes are the program's own, and counted). The
 *    low-level calls count on the namespace "ll", where the mock and the
 *    shared store keep their entries.
 *  - Before a put is passed on, an item whose value alone exceeds a bounded
 *    capacity is taken out: its status is VELK_ERR_NO_MEMORY, it counts as
 *    refused, and an entry it would have replaced stays (a put whose every
 *    item is taken out does not reach the library and returns 0). A put the
 *    library refuses for its arguments, or one a plan fails, stores and
 *    evicts nothing; an item a plan drops is not stored. After the put, while
 *    the known bytes exceed the capacity, the policy's victim is removed; the
 *    entries this call stored are exempt until no other entry is left, and
 *    then go in item order (a key stored twice in the call by its last item).
 *    A capacity made smaller evicts nothing until the next put call ends.
 *  - "lru": the entry whose last use is oldest. "fifo": the entry stored
 *    first (a put that replaces a value keeps the entry's place). "lfu": the
 *    fewest uses since the entry was first stored (storing counts, a
 *    replacing put is a use), ties to the least recently used. "random":
 *    among the candidates in the order they were first stored, the one at
 *    index next() mod count of a SplitMix64 generator of the handle's
 *    namespace, seeded once with VELKFAULT_SEED (default 1): the same calls
 *    give the same victims.
 *  - Victims are removed through the next library's velk_batch_delete_items,
 *    one call per put call that evicts, inside the put and before it returns:
 *    the store really loses them, and used bytes and listings show it. That
 *    call is the mode's, not the program's: no plan applies to it and
 *    velkfault_calls() does not count it; the journal records it as made
 *    within the put, marked "evicted". A victim it did not remove (a status
 *    other than 0 or VELK_ERR_NOT_FOUND) stays known, as the newest entry,
 *    and is not counted as evicted. A delete that removes a key, a namespace
 *    delete and a destroy forget what they remove. Turning the mode off
 *    forgets every entry (calls are not seen while it is off); the counts
 *    stay.
 *  - Counts per handle's namespace: hits, misses, evictions, evicted bytes,
 *    refused items, and the peak: the most known bytes after any put call's
 *    eviction. velkfault_cache_stats() gives them; with
 *    VELKFAULT_CACHE_REPORT=FILE a JSON report of every handle's namespaces
 *    is written at exit (the README has the format), and with
 *    VELKFAULT_CACHE_TABLE=1 (velkfault-run --cache sets it) a short table
 *    of the same on stderr. Each process whose mode saw a namespace writes
 *    them when it exits (a forked child's counts include its parent's
 *    before the fork; of several processes, the last to exit leaves the
 *    file). Handles are named h1, h2, ... in the order the mode first sees
 *    them, as the journal names them when both are on from the start.
 *  - Running out of memory for its own work, the mode lets the call go on
 *    unseen; it never changes the call's answer for it.
 */
#ifndef VELKFAULT_H
#define VELKFAULT_H

#include <stdint.h>

/** @cond INTERNAL */
#if defined(VELKFAULT_BUILDING_LIBRARY) && defined(__GNUC__)
#define VELKFAULT_API __attribute__((visibility("default")))
#else
#define VELKFAULT_API
#endif
/** @endcond */

#ifdef __cplusplus
extern "C" {
#endif

/** What the control calls return for a bad argument; the value of VELK_ERR_INVALID_ARGUMENT. */
#define VELKFAULT_INVALID_ARGUMENT (-5)

/** What the control calls return when the program's calls do not reach this
 *  library, because one loaded before it defines the velk_ functions. */
#define VELKFAULT_NOT_IN_FRONT (-2)

/** What velkfault_cache_stats() returns for a namespace the cache mode has
 *  not seen; the value of VELK_ERR_NOT_FOUND. */
#define VELKFAULT_NOT_FOUND (-1)

/** What the control calls return when memory runs out; the value of VELK_ERR_NO_MEMORY. */
#define VELKFAULT_NO_MEMORY (-4)

/** The counts of the cache mode for a namespace (see "The cache mode"). */
typedef struct velkfault_cache_stats_t {
    uint64_t hits;          /**< Read items that found their key. */
    uint64_t misses;        /**< Read items that found nothing. */
    uint64_t evictions;     /**< Entries removed to bring the known bytes down to the capacity. */
    uint64_t evicted_bytes; /**< Their sizes, summed. */
    uint64_t refused;       /**< Put items not passed on: their value alone exceeded the capacity. */
    uint64_t peak_bytes;    /**< The most known bytes after any put call's eviction. */
} velkfault_cache_stats_t;

/**
 * Makes later calls of a function fail with a code.
 * @param function The function's name, e.g. "velk_batch_put".
 * @param code     What a failed call returns. The two create calls return
 *                 NULL instead, and set errno to -code when code is negative
 *                 (for them INT32_MIN, which has no such errno, is refused).
 * @param skip     How many of the matching calls pass on before the first failure.
 * @param times    How many calls fail after those; 0: every one from then on.
 * @return 0, VELKFAULT_NOT_IN_FRONT, or VELKFAULT_INVALID_ARGUMENT for a NULL
 *         or unknown name, a function that returns nothing or a text (the
 *         destroy calls, velk_query_result_free, velk_sdk_metrics_ctx_reset,
 *         the three version queries), or INT32_MIN for a create call.
 */
VELKFAULT_API int velkfault_fail(const char* function, int32_t code, uint32_t skip, uint32_t times);

/**
 * Makes one item of later batch calls fail. In a matching call with more than
 * `item` items, that item is not passed on (the others are, in their order),
 * its result record is cleared and given `status` (the flat forms: its status
 * slot), and the call returns what the next library returned. Calls with
 * fewer items pass unchanged and do not use up the rule. A call of one item
 * whose item fails does not reach the next library at all and returns 0:
 * whatever the call would have done besides storing or removing the item
 * does not happen (a put does not create its namespace).
 * @param function velk_batch_put, velk_batch_delete_items, velk_batch_delete,
 *                 velk_ll_batch_put or velk_ll_batch_delete.
 * @param item     The index of the item to fail; not negative.
 * @param status   The status its record receives.
 * @param skip     How many of the matching calls pass on before the first failure.
 * @param times    How many calls fail an item after those; 0: every one from then on.
 * @return 0, VELKFAULT_NOT_IN_FRONT, or VELKFAULT_INVALID_ARGUMENT for another
 *         function or a negative item.
 */
VELKFAULT_API int velkfault_fail_item(const char* function, int32_t item, int32_t status, uint32_t skip,
                                      uint32_t times);

/**
 * Makes every later call of a function wait first.
 * @param function     Any of the 28 functions.
 * @param microseconds How long each call waits before anything else; 0 removes the delay.
 * @return 0, VELKFAULT_NOT_IN_FRONT, or VELKFAULT_INVALID_ARGUMENT for a NULL
 *         or unknown name.
 */
VELKFAULT_API int velkfault_delay(const char* function, uint32_t microseconds);

/**
 * @param function Any of the 28 functions.
 * @return How many calls of the function reached this library since the last
 *         reset (or the start), failed or passed on; 0 for an unknown name.
 */
VELKFAULT_API uint64_t velkfault_calls(const char* function);

/** Removes every rule and delay and sets every count to zero. The cache
 *  mode, its entries and its counts are not affected. */
VELKFAULT_API void velkfault_reset(void);

/**
 * Turns the cache mode on with a spec, replaces its rules, or turns it off.
 * Rules take effect at once for the capacities and policies, and evict at
 * the end of the next put call; counts and known entries are kept (but by
 * `off`, which forgets the entries).
 * @param spec `on`, rules `NS=BYTES[:POLICY]` separated by ';', or `off`;
 *             NULL means `off`.
 * @return 0, VELKFAULT_NOT_IN_FRONT, VELKFAULT_INVALID_ARGUMENT for a
 *         malformed spec (nothing changes) or VELKFAULT_NO_MEMORY.
 */
VELKFAULT_API int velkfault_cache(const char* spec);

/**
 * Gives the cache mode's counts for a namespace.
 * @param handle_or_null A handle's name as the report has it ("h1"), or NULL
 *                       for every handle's namespace of that name (handles
 *                       destroyed since included): the counts summed, and
 *                       the largest of their peaks (each is a cache of its
 *                       own, with its own capacity).
 * @param ns             The namespace's name.
 * @param out            Receives the counts (cleared first; all zero unless 0 is returned).
 * @return 0; VELKFAULT_NOT_FOUND when the mode has seen no such handle's
 *         namespace; VELKFAULT_INVALID_ARGUMENT if ns or out is NULL (nothing
 *         written); VELKFAULT_NO_MEMORY.
 */
VELKFAULT_API int velkfault_cache_stats(const char* handle_or_null, const char* ns,
                                        velkfault_cache_stats_t* out);

#ifdef __cplusplus
}
#endif

#endif /* VELKFAULT_H */
