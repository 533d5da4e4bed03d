/* SPDX-License-Identifier: MIT */
/* A store whose deletes with items can be made to fail, standing between
 * libvelkfault and the mock (linked in that order), so that a test sees what
 * the cache mode does when its removal of a put's victims does not remove
 * them: the whole call failing, or each item's status an error. Everything
 * else, and the deletes when not told otherwise, are the mock's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>

#include "velkmock.h"

/* 0: the mock's answers; 1: the call fails (as a lost connection); 2: each
 * item's status says the server did not answer, nothing removed. */
static int refusing_mode = 0;

VELK_API void refusing_store_set(int mode) {
    refusing_mode = mode;
}

VELK_API int32_t velk_batch_delete_items(velk_client* client, const char* ns, const velk_delete_item_t* items,
                                         int32_t count, velk_delete_result_t* results,
                                         int32_t result_capacity, const void* reserved) {
    typedef int32_t (*Next)(velk_client*, const char*, const velk_delete_item_t*, int32_t,
                            velk_delete_result_t*, int32_t, const void*);
    if (refusing_mode == 1) {
        return -107; /* -ENOTCONN */
    }
    if (refusing_mode == 2) {
        for (int32_t i = 0; i < count; ++i) {
            memset(&results[i], 0, sizeof results[i]);
            results[i].status = -110; /* -ETIMEDOUT */
        }
        return VELK_OK;
    }
    Next next;
    void* found = dlsym(RTLD_NEXT, "velk_batch_delete_items");
    memcpy(&next, &found, sizeof next);
    return next(client, ns, items, count, results, result_capacity, reserved);
}
