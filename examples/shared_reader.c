/* SPDX-License-Identifier: MIT */
/* The other of two programs that share a store: it reads what
 * shared_writer left in the server (see shared_writer.c). */
#include <stdio.h>

#include "velkshared.h"

int main(void) {
    int config = 0;
    velk_client* client = velk_client_create(&config);
    if (client == NULL) {
        perror("reader: velk_client_create");
        return 1;
    }
    const char* keys[] = {"greeting", "answer", "never-written"};
    velk_query_result_t results[3];
    const int found = velk_batch_query(client, "demo", keys, 3, NULL, results, 3);
    if (found != 3) {
        fprintf(stderr, "reader: query failed: %d %s\n", found, velkshared_last_error());
        velk_client_destroy(client);
        return 1;
    }
    int missing = 0;
    for (int i = 0; i < 3; ++i) {
        printf("reader: %s: %s, %llu bytes, %d replicas", results[i].key, results[i].status,
               (unsigned long long)results[i].value_len, results[i].replica_count);
        if (results[i].metadata_count > 0) {
            printf(", written by %s", results[i].metadata[0].value);
        }
        printf("\n");
        missing += results[i].value_len == 0;
    }
    velk_query_result_free(results, 3);

    velk_get_item_t item = {0};
    item.key = "greeting";
    char buffer[64];
    void* buffers[] = {buffer};
    const uint64_t sizes[] = {sizeof buffer};
    int32_t status = 0;
    uint64_t length = 0;
    velk_batch_get_into(client, "demo", &item, 1, buffers, sizes, &status, &length, NULL);
    printf("reader: greeting = \"%.*s\"\n", (int)length, buffer);
    velk_client_destroy(client);
    /* Exactly the one key the writer never wrote is missing. */
    return missing == 1 && status > 0 ? 0 : 1;
}
