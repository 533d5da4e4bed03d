// SPDX-License-Identifier: MIT
// The cache mode's control calls, and what the library reads at load and
// writes at exit.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "faults/cache_engine.hpp"
#include "faults/registry.hpp"
#include "velkfault.h"

namespace velkfault::cache {
namespace {

// The control calls' barrier: running out of memory is the one failure of
// their own, and never crosses into a C caller.
template <class Body>
int answered(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return VELKFAULT_NO_MEMORY;
    }
}

// A child made by fork() must not inherit the engine's lock held by a
// thread it does not have: taken around every fork once the mode was asked
// for.
void watch_forks() {
    static std::once_flag once;
    std::call_once(once, [] {
        pthread_atfork([] { engine().lock_for_fork(); }, [] { engine().unlock_after_fork(); },
                       [] { engine().unlock_after_fork(); });
    });
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

std::string from_environment() {
    if (const char* seed = std::getenv("VELKFAULT_SEED"); seed != nullptr) {
        std::uint64_t value = 0;
        if (std::string problem = parse_seed(seed, value); !problem.empty()) {
            return problem;
        }
        engine().seed(value);
    }
    const char* spec = std::getenv("VELKFAULT_CACHE");
    if (spec == nullptr || *spec == '\0') {
        return {};
    }
    Spec parsed;
    if (std::string problem = parse_spec(spec, parsed); !problem.empty()) {
        return "VELKFAULT_CACHE " + problem;
    }
    if (!in_front()) {
        return "VELKFAULT_CACHE cannot take effect: a library loaded before libvelkfault.so.0 defines the "
               "velk_ "
               "functions, so calls never reach it; load it first: LD_PRELOAD=\"libvelkfault.so.0 "
               "libvelkmock.so.0\"";
    }
    watch_forks();
    return engine().configure(spec);  // read above: it cannot fail now
}

std::string report_at_exit(bool table) {
    const std::vector<Record> records = engine().records();
    if (records.empty()) {
        return {};  // a process that never saw a namespace (a shell on the way) leaves the report alone
    }
    std::string problem;
    if (const char* path = std::getenv("VELKFAULT_CACHE_REPORT"); path != nullptr && *path != '\0') {
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool written = fd >= 0 && write_all(fd, report_json(records));
        const int error = errno;
        if ((fd >= 0 && ::close(fd) != 0) || !written) {
            problem = std::string("libvelkfault: VELKFAULT_CACHE_REPORT '") + path +
                      "': " + std::strerror(written ? errno : error);
        }
    }
    if (table) {
        std::fputs(report_table(records).c_str(), stderr);
    }
    return problem;
}

}  // namespace velkfault::cache

extern "C" {

VELKFAULT_API int velkfault_cache(const char* spec) {
    if (!velkfault::in_front()) {
        return VELKFAULT_NOT_IN_FRONT;
    }
    return velkfault::cache::answered([&] {
        velkfault::cache::watch_forks();
        return velkfault::cache::engine().configure(spec != nullptr ? spec : "off").empty()
                   ? 0
                   : VELKFAULT_INVALID_ARGUMENT;
    });
}

VELKFAULT_API int velkfault_cache_stats(const char* handle_or_null, const char* ns,
                                        velkfault_cache_stats_t* out) {
    if (ns == nullptr || out == nullptr) {
        return VELKFAULT_INVALID_ARGUMENT;
    }
    std::memset(out, 0, sizeof *out);
    return velkfault::cache::answered([&] {
        velkfault::cache::Stats stats;
        if (!velkfault::cache::engine().stats(handle_or_null, ns, stats)) {
            return VELKFAULT_NOT_FOUND;
        }
        out->hits = stats.hits;
        out->misses = stats.misses;
        out->evictions = stats.evictions;
        out->evicted_bytes = stats.evicted_bytes;
        out->refused = stats.refused;
        out->peak_bytes = stats.peak_bytes;
        return 0;
    });
}

}  // extern "C"
