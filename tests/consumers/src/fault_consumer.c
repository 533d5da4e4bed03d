/* SPDX-License-Identifier: MIT */
/* A program that uses installed libvelkfault in front of installed
 * libvelkmock: the planned failure must reach it, then the next call pass. */
#include <stdio.h>

#include <velkfault.h>
#include <velkmock.h>

int main(void) {
    int config = 0;
    velk_client* client;
    velk_node_info_t nodes[2];
    int failed;
    int passed;
    if (velkfault_fail("velk_get_nodes", VELK_ERR_NO_MEMORY, 0, 1) != 0) {
        printf("velkfault_fail refused the rule\n");
        return 1;
    }
    client = velk_client_create(&config);
    failed = velk_get_nodes(client, NULL, nodes, 2);
    passed = velk_get_nodes(client, NULL, nodes, 2);
    velk_client_destroy(client);
    printf("planned failure %d, then %d nodes; %llu calls seen\n", failed, passed,
           (unsigned long long)velkfault_calls("velk_get_nodes"));
    return failed == VELK_ERR_NO_MEMORY && passed == 2 ? 0 : 1;
}
