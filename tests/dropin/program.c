/* SPDX-License-Identifier: MIT */
/* A program built against an SDK library (here the stand-in), never linked
 * with libvelkmock. Run as it is, it meets the stand-in's errors; run with
 * LD_PRELOAD=libvelkmock.so.0 it stores and reads values through the mock. */
#include <stdio.h>
#include <string.h>

#include "velkmock.h"

int main(void) {
    int config = 0;
    velk_client* client = velk_client_create(&config);
    const void* parts[1] = {"preloaded"};
    size_t lens[1] = {9};
    velk_put_item_t item;
    velk_put_result_t result;
    velk_get_item_t get;
    char buffer[16] = {0};
    void* buffers[1] = {buffer};
    uint64_t sizes[1] = {sizeof buffer};
    int32_t status = 0;
    uint64_t length = 0;

    printf("library version: %s\n", velk_version());
    if (client == NULL) {
        printf("no client: the SDK could not create one\n");
        return 1;
    }
    memset(&item, 0, sizeof item);
    item.key = "k";
    item.value_parts = parts;
    item.value_part_lens = lens;
    item.value_part_count = 1;
    memset(&get, 0, sizeof get);
    get.key = "k";
    if (velk_batch_put(client, "ns", &item, 1, &result, 1, NULL) != VELK_OK ||
        velk_batch_get_into(client, "ns", &get, 1, buffers, sizes, &status, &length, NULL) != VELK_OK) {
        printf("calls failed\n");
        return 1;
    }
    printf("stored at %s, read back \"%s\"\n", result.location, buffer);
    velk_client_destroy(client);
    return strcmp(buffer, "preloaded") == 0 ? 0 : 1;
}
