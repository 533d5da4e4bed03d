/* SPDX-License-Identifier: MIT */
/* The mock with one answer changed, for velk-journal to find: which one
 * VELKMOCK_MUTANT says (a status, a length, a byte, the order of two items,
 * a record's field, a number past 2^53, a double's last bit, a create that
 * fails after the first or from the first, a create without its configuration
 * that sets errno or makes a handle, a flat delete that does not go
 * through the exported delete with items); with none, it answers as the
 * mock does. Everything else is the mock's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "velkmock.h"

/* The mock's own definition of a function. */
static void* mock(const char* name) {
    void* library = dlopen("libvelkmock.so.0", RTLD_LAZY | RTLD_NOLOAD);
    return library != NULL ? dlsym(library, name) : NULL;
}

static int mutant(const char* name) {
    const char* chosen = getenv("VELKMOCK_MUTANT");
    return chosen != NULL && strcmp(chosen, name) == 0;
}

VELK_API int32_t velk_batch_put(velk_client* client, const char* ns, const velk_put_item_t* items,
                                int32_t count, velk_put_result_t* results, int32_t result_capacity,
                                const void* reserved) {
    typedef int32_t (*Next)(velk_client*, const char*, const velk_put_item_t*, int32_t, velk_put_result_t*,
                            int32_t, const void*);
    Next next;
    void* found = mock("velk_batch_put");
    memcpy(&next, &found, sizeof next);
    const int32_t rc = next(client, ns, items, count, results, result_capacity, reserved);
    if (rc == VELK_OK && count >= 3 && mutant("status")) {
        results[1].status = VELK_ERR_NO_MEMORY;
    }
    return rc;
}

VELK_API int32_t velk_batch_get_into(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, void* const* buffers, const uint64_t* buffer_sizes,
                                     int32_t* statuses, uint64_t* value_lens, const void* reserved) {
    typedef int32_t (*Next)(velk_client*, const char*, const velk_get_item_t*, int32_t, void* const*,
                            const uint64_t*, int32_t*, uint64_t*, const void*);
    Next next;
    void* found = mock("velk_batch_get_into");
    memcpy(&next, &found, sizeof next);
    const int32_t rc = next(client, ns, items, count, buffers, buffer_sizes, statuses, value_lens, reserved);
    if (rc != VELK_OK || count < 3 || statuses[0] <= 0 || statuses[1] <= 0) {
        return rc;
    }
    if (mutant("length")) {
        value_lens[2] += 1;
    } else if (mutant("byte")) {
        ((unsigned char*)buffers[0])[statuses[0] - 1] ^= 1;
    } else if (mutant("order")) {
        /* The answers of items 0 and 1, swapped whole. */
        char held[64];
        const int32_t status = statuses[0];
        const uint64_t length = value_lens[0];
        memcpy(held, buffers[0], (size_t)length);
        memcpy(buffers[0], buffers[1], (size_t)value_lens[1]);
        memcpy(buffers[1], held, (size_t)length);
        statuses[0] = statuses[1];
        value_lens[0] = value_lens[1];
        statuses[1] = status;
        value_lens[1] = length;
    }
    return rc;
}

VELK_API int32_t velk_batch_query(velk_client* client, const char* ns, const char* const* keys, int32_t count,
                                  const velk_query_options_t* options, velk_query_result_t* results,
                                  int32_t result_capacity) {
    typedef int32_t (*Next)(velk_client*, const char*, const char* const*, int32_t,
                            const velk_query_options_t*, velk_query_result_t*, int32_t);
    Next next;
    void* found = mock("velk_batch_query");
    memcpy(&next, &found, sizeof next);
    const int32_t rc = next(client, ns, keys, count, options, results, result_capacity);
    if (rc >= 3 && mutant("field")) {
        results[2].replica_count += 1;
    }
    return rc;
}

VELK_API int velk_get_namespace(velk_client* client, const char* ns, velk_namespace_info_t* info) {
    typedef int (*Next)(velk_client*, const char*, velk_namespace_info_t*);
    Next next;
    void* found = mock("velk_get_namespace");
    memcpy(&next, &found, sizeof next);
    const int rc = next(client, ns, info);
    if (rc == VELK_OK && info->capacity_bytes > ((int64_t)1 << 53)) {
        if (mutant("number")) {
            info->capacity_bytes += 1;
        } else if (mutant("double")) {
            uint64_t bits;
            memcpy(&bits, &info->policy_param, sizeof bits);
            bits ^= 1;
            memcpy(&info->policy_param, &bits, sizeof bits);
        }
    }
    return rc;
}

VELK_API velk_client* velk_client_create(const void* config) {
    typedef velk_client* (*Next)(const void*);
    static int made = 0;
    Next next;
    void* found = mock("velk_client_create");
    memcpy(&next, &found, sizeof next);
    if (config == NULL && mutant("errno")) {
        errno = EINVAL;
        return NULL;
    }
    if (config == NULL && mutant("handle")) {
        static const int some = 0;
        return next(&some);
    }
    if ((mutant("create") && made > 0) || mutant("first-create")) {
        errno = ENOMEM;
        return NULL;
    }
    ++made;
    return next(config);
}

/* The flat delete done with the mock's own delete with items, not the
 * exported name: what a library that calls itself directly does. */
VELK_API int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                   int32_t count, const int32_t* options, int32_t* statuses,
                                   int32_t status_capacity, const void* reserved) {
    typedef int32_t (*Flat)(velk_client*, const char*, const char* const*, int32_t, const int32_t*, int32_t*,
                            int32_t, const void*);
    typedef int32_t (*Items)(velk_client*, const char*, const velk_delete_item_t*, int32_t,
                             velk_delete_result_t*, int32_t, const void*);
    if (!mutant("no-inner")) {
        Flat next;
        void* found = mock("velk_batch_delete");
        memcpy(&next, &found, sizeof next);
        return next(client, ns, keys, count, options, statuses, status_capacity, reserved);
    }
    if (client == NULL || ns == NULL || keys == NULL || statuses == NULL || count <= 0 ||
        status_capacity < count || count > 64) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    Items items_call;
    void* found = mock("velk_batch_delete_items");
    memcpy(&items_call, &found, sizeof items_call);
    velk_delete_item_t items[64];
    velk_delete_result_t results[64];
    memset(items, 0, sizeof items);
    memset(results, 0, sizeof results);
    for (int32_t i = 0; i < count; ++i) {
        items[i].key = keys[i];
        items[i].option = options != NULL ? options[i] : 0;
    }
    const int32_t rc = items_call(client, ns, items, count, results, count, reserved);
    if (rc < 0) {
        return rc;
    }
    for (int32_t i = 0; i < count; ++i) {
        statuses[i] = results[i].status;
    }
    return VELK_OK;
}
