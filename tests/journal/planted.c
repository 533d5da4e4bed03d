/* SPDX-License-Identifier: MIT */
/* The mock with one planted difference, for velk-replay to find: get-into
 * hands back every value with its first byte changed. Everything else is
 * the mock's (this library depends on it). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>

#include "velkmock.h"

VELK_API int32_t velk_batch_get_into(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, void* const* buffers, const uint64_t* buffer_sizes,
                                     int32_t* statuses, uint64_t* value_lens, const void* reserved) {
    typedef int32_t (*Next)(velk_client*, const char*, const velk_get_item_t*, int32_t, void* const*,
                            const uint64_t*, int32_t*, uint64_t*, const void*);
    /* A function's address through an object pointer, as POSIX has dlsym(). */
    Next next;
    void* found = dlsym(RTLD_NEXT, "velk_batch_get_into");
    memcpy(&next, &found, sizeof next);
    const int32_t rc = next(client, ns, items, count, buffers, buffer_sizes, statuses, value_lens, reserved);
    for (int32_t i = 0; rc == VELK_OK && i < count; ++i) {
        if (statuses[i] > 0) {
            ((unsigned char*)buffers[i])[0] ^= 1;
        }
    }
    return rc;
}
