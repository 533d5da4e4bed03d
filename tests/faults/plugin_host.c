/* SPDX-License-Identifier: MIT */
/* Loads the mock the way a plugin host does (dlopen with RTLD_LOCAL) and
 * uses the calls that the mock makes through its own exported names: the
 * low-level create, put, delete and destroy. Run with libvelkfault
 * preloaded, they pass through it and must still reach the mock. */
#include <dlfcn.h>
#include <stdio.h>

#include "velkmock.h"

typedef velk_client* (*create_fn)(const velk_ll_config_t*);
typedef void (*destroy_fn)(velk_client*);
typedef int32_t (*put_fn)(velk_client*, const velk_ll_put_item_t*, int32_t, velk_put_result_t*, int32_t,
                          const void*, const void*);
typedef int32_t (*delete_fn)(velk_client*, const char* const*, int32_t, int32_t*, int32_t, const void*,
                             const void*);

/* dlsym's object pointer as a function pointer, without a cast ISO C warns of. */
static void* symbol(void* library, const char* name, void* out) {
    void* found = dlsym(library, name);
    if (found != NULL) {
        *(void**)out = found;
    }
    return found;
}

int main(int argc, char** argv) {
    create_fn create = NULL;
    destroy_fn destroy = NULL;
    put_fn put = NULL;
    delete_fn erase = NULL;
    void* mock = argc > 1 ? dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) : NULL;
    if (mock == NULL || !symbol(mock, "velk_ll_create", &create) ||
        !symbol(mock, "velk_ll_client_destroy", &destroy) || !symbol(mock, "velk_ll_batch_put", &put) ||
        !symbol(mock, "velk_ll_batch_delete", &erase)) {
        fprintf(stderr, "plugin: cannot load %s\n", argc > 1 ? argv[1] : "(no path)");
        return 3;
    }
    const velk_ll_config_t config = {"plugin"};
    velk_client* client = create(&config);
    if (client == NULL) {
        fprintf(stderr, "plugin: no handle\n");
        return 4;
    }
    const void* parts[] = {"v"};
    const uint64_t lens[] = {1};
    const velk_ll_put_item_t item = {"k", parts, lens, 1};
    velk_put_result_t result;
    const int32_t put_rc = put(client, &item, 1, &result, 1, NULL, NULL);
    const char* keys[] = {"k"};
    int32_t status = 99;
    const int32_t delete_rc = erase(client, keys, 1, &status, 1, NULL, NULL);
    destroy(client);
    printf("plugin: put %d, delete %d with status %d\n", put_rc, delete_rc, status);
    return 0;
}
