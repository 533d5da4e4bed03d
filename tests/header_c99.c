/* SPDX-License-Identifier: MIT */
/* Compiled with -std=c99 -Wpedantic -Werror: the header must stay plain C99. */
#include "velkmock.h"

int velkmock_header_is_c99(void);
int velkmock_header_is_c99(void) {
    return VELK_OK;
}
