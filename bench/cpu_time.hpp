// SPDX-License-Identifier: MIT
// Processor time, for benchmarks on a machine shared with other work (wall
// time measures the others too): the whole process's, so that work a
// benchmark hands to a thread of its own counts.
#pragma once

#include <time.h>

#include <algorithm>
#include <vector>

namespace bench {

inline double cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The median of five runs of `body`, in milliseconds.
template <class Body>
double median_ms(Body&& body) {
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) {
        const double start = cpu_ms();
        body();
        runs.push_back(cpu_ms() - start);
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

}  // namespace bench
