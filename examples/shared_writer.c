/* SPDX-License-Identifier: MIT */
/* One of two programs that share a store: this one writes. Run it, then
 * shared_reader, both pointed at the same server:
 *
 *   redis-server --port 6390 --save '' --appendonly no &
 *   VELKSHARED_URL=redis://127.0.0.1:6390 ./shared_writer
 *   VELKSHARED_URL=redis://127.0.0.1:6390 ./shared_reader
 *
 * The program is an ordinary velk_ program: linked with libvelkmock it would
 * keep its values to itself; linked with libvelkshared (or with it
 * preloaded) it leaves them in the server for the reader. */
#include <stdio.h>
#include <string.h>

#include "velkshared.h"

int main(void) {
    /* A test starts from an empty store. */
    const int cleared = velkshared_clear(NULL, NULL);
    if (cleared != 0) {
        fprintf(stderr, "writer: cannot clear the store: %d %s\n", cleared, velkshared_last_error());
        return 1;
    }
    int config = 0;
    velk_client* client = velk_client_create(&config);
    if (client == NULL) {
        perror("writer: velk_client_create");
        return 1;
    }
    const char* keys[] = {"greeting", "answer"};
    const char* values[] = {"hello from the writer", "42"};
    const velk_meta_pair_t written_by[] = {{"writer", "shared_writer"}};
    velk_put_item_t items[2];
    const void* parts[2][1];
    size_t lens[2][1];
    memset(items, 0, sizeof items);
    for (int i = 0; i < 2; ++i) {
        parts[i][0] = values[i];
        lens[i][0] = strlen(values[i]);
        items[i].key = keys[i];
        items[i].value_parts = parts[i];
        items[i].value_part_lens = lens[i];
        items[i].value_part_count = 1;
        items[i].replica_count = 2;
        items[i].metadata = written_by;
        items[i].metadata_count = 1;
    }
    velk_put_result_t results[2];
    const int rc = velk_batch_put(client, "demo", items, 2, results, 2, NULL);
    if (rc != VELK_OK) {
        fprintf(stderr, "writer: put failed: %d %s\n", rc, velkshared_last_error());
        velk_client_destroy(client);
        return 1;
    }
    for (int i = 0; i < 2; ++i) {
        printf("writer: %s -> %s (status %d)\n", keys[i], results[i].location, results[i].status);
    }
    velk_client_destroy(client);
    return 0;
}
