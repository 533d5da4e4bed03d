/* SPDX-License-Identifier: MIT */
/* A program that uses an installed libvelkmock: it stores a value and reads
 * it back, and exits 0 only if that worked. */
#include <stdio.h>
#include <string.h>

#include <velkmock.h>

int main(void) {
    int config = 0;
    velk_client* client = velk_client_create(&config);
    const void* parts[1] = {"installed"};
    size_t lens[1] = {9};
    velk_put_item_t item;
    velk_put_result_t result;
    velk_get_item_t get;
    char buffer[16] = {0};
    void* buffers[1] = {buffer};
    uint64_t sizes[1] = {sizeof buffer};
    int32_t status = 0;
    uint64_t length = 0;

    memset(&item, 0, sizeof item);
    item.key = "k";
    item.value_parts = parts;
    item.value_part_lens = lens;
    item.value_part_count = 1;
    memset(&get, 0, sizeof get);
    get.key = "k";
    if (client == NULL || velk_batch_put(client, "ns", &item, 1, &result, 1, NULL) != VELK_OK ||
        velk_batch_get_into(client, "ns", &get, 1, buffers, sizes, &status, &length, NULL) != VELK_OK ||
        status != 9 || strcmp(buffer, "installed") != 0) {
        fprintf(stderr, "consumer: round trip failed\n");
        return 1;
    }
    velk_client_destroy(client);
    printf("consumer: %s %s round trip ok\n", velk_version(), buffer);
    return 0;
}
