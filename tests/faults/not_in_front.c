/* SPDX-License-Identifier: MIT */
/* Linked against the mock, then loads libvelkfault after it with dlopen:
 * the program's calls reach the mock first, so a plan could never take
 * effect, and the control calls must say so instead of accepting it. */
#include <dlfcn.h>
#include <stdio.h>

#include "velkfault.h"
#include "velkmock.h"

typedef int (*fail_fn)(const char*, int32_t, uint32_t, uint32_t);
typedef int (*fail_item_fn)(const char*, int32_t, int32_t, uint32_t, uint32_t);
typedef int (*delay_fn)(const char*, uint32_t);

int main(int argc, char** argv) {
    /* Names a symbol of the mock, so that it is loaded first. */
    printf("mock %s\n", velk_version());
    void* fault = argc > 1 ? dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL) : NULL;
    void* found[3] = {NULL, NULL, NULL};
    if (fault != NULL) {
        found[0] = dlsym(fault, "velkfault_fail");
        found[1] = dlsym(fault, "velkfault_fail_item");
        found[2] = dlsym(fault, "velkfault_delay");
    }
    if (found[0] == NULL || found[1] == NULL || found[2] == NULL) {
        fprintf(stderr, "cannot load %s\n", argc > 1 ? argv[1] : "(no path)");
        return 3;
    }
    fail_fn fail;
    fail_item_fn fail_item;
    delay_fn delay;
    *(void**)&fail = found[0];
    *(void**)&fail_item = found[1];
    *(void**)&delay = found[2];
    const int rcs[3] = {fail("velk_batch_put", -4, 0, 0), fail_item("velk_batch_put", 0, -4, 0, 0),
                        delay("velk_batch_put", 10)};
    printf("velkfault_fail: %d, velkfault_fail_item: %d, velkfault_delay: %d\n", rcs[0], rcs[1], rcs[2]);
    return rcs[0] == VELKFAULT_NOT_IN_FRONT && rcs[1] == VELKFAULT_NOT_IN_FRONT &&
                   rcs[2] == VELKFAULT_NOT_IN_FRONT
               ? 0
               : 1;
}
