/* SPDX-License-Identifier: MIT */
/* Compiled with -std=c99 -Wpedantic -Werror: the headers must stay plain C99. */
#include "velkfault.h"
#include "velkmock.h"
#include "velkshared.h"

int velkmock_header_is_c99(void);
int velkmock_header_is_c99(void) {
    velkshared_options_t options = {0};
    options.timeout_ms = VELK_OK;
    return (int)options.timeout_ms;
}
