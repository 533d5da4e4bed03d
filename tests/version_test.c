/* SPDX-License-Identifier: MIT */
/* The header's version macros agree with the project's version, and the
 * SDK's version text stays what the SDK reports. */
#include <stdio.h>
#include <string.h>

#include "velkmock.h"

#if VELKMOCK_VERSION_NUMBER != (VELKMOCK_EXPECTED_NUMBER)
#error "VELKMOCK_VERSION_NUMBER does not follow MAJOR * 10000 + MINOR * 100 + PATCH"
#endif

int main(void) {
    char text[32];
    snprintf(text, sizeof text, "%d.%d.%d", VELKMOCK_VERSION_MAJOR, VELKMOCK_VERSION_MINOR,
             VELKMOCK_VERSION_PATCH);
    if (strcmp(text, VELKMOCK_EXPECTED_VERSION) != 0) {
        printf("header says %s, the project %s\n", text, VELKMOCK_EXPECTED_VERSION);
        return 1;
    }
    if (strcmp(velk_version(), "0.0.0-mock") != 0) {
        printf("velk_version() changed: %s\n", velk_version());
        return 1;
    }
    printf("version %s (%d)\n", text, VELKMOCK_VERSION_NUMBER);
    return 0;
}
