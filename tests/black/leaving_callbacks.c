/* SPDX-License-Identifier: MIT */
/* Get callbacks written in C that leave without returning: one ends its
 * thread, one waits in a cancellation point until its thread is cancelled.
 * Both unwind through the library with glibc's forced unwinding. */
#include <pthread.h>
#include <stdatomic.h>
#include <unistd.h>

#include "velkmock.h"

int velk_test_exit_in_callback(int32_t count, const void* const* values, const uint64_t* value_lens,
                               const int32_t* statuses, void* user_data) {
    (void)count;
    (void)values;
    (void)value_lens;
    (void)statuses;
    pthread_exit(user_data);
}

int velk_test_sleep_in_callback(int32_t count, const void* const* values, const uint64_t* value_lens,
                                const int32_t* statuses, void* user_data) {
    (void)count;
    (void)values;
    (void)value_lens;
    (void)statuses;
    atomic_store((atomic_int*)user_data, 1);
    for (;;) {
        sleep(1000);
    }
}
