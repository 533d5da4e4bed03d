// SPDX-License-Identifier: MIT
// The control calls of libvelkshared.
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "client/barrier.hpp"
#include "shared/admin.hpp"
#include "shared/connection.hpp"
#include "shared/endpoint.hpp"
#include "shared/shared_store.hpp"
#include "shared/transport.hpp"
#include "topology/node_table.hpp"
#include "velkshared.h"

extern "C" {

VELKSHARED_API int velkshared_clear(const char* url, const char* store) {
    using namespace velkshared;
    try {
        std::string why;
        const auto settings = settings_from_environment(url, store, {}, &why);
        auto seeds = settings ? parse_url(settings->url, &why) : std::nullopt;
        if (!seeds) {
            set_last_error(settings ? "the URL " + redacted(settings->url) + ": " + why : why);
            return -EINVAL;
        }
        Connection connection(std::move(*seeds), settings->timeout, settings->replicas);
        return clear_store(connection, key_prefix(settings->store));
    } catch (const std::bad_alloc&) {
        velkshared::set_last_error("out of memory");
        return -ENOMEM;
    }
}

VELKSHARED_API velk_client* velkshared_client_create(const velkshared_options_t* options) {
    static constexpr velkshared_options_t kUnset{};
    const velkshared_options_t& given = options != nullptr ? *options : kUnset;
    if (given.timeout_ms < 0 || given.timeout_ms > 86400000) {
        velkshared::set_last_error("the time-out is not a number of milliseconds from 0 to 86400000");
        errno = EINVAL;
        return nullptr;
    }
    if (given.replicas < 0 || given.replicas > velkshared::kMostReplicas) {
        velkshared::set_last_error("the replicas are not a number from 0 to 1000");
        errno = EINVAL;
        return nullptr;
    }
    for (const uint64_t field : given.reserved) {
        if (field != 0) {
            // Fields of a later version this library does not know.
            velkshared::set_last_error("a reserved field of the options is not zero");
            errno = EINVAL;
            return nullptr;
        }
    }
    return velk::guarded([&]() -> velk_client* {
        return velkshared::open_client(given.url, given.store, std::chrono::milliseconds(given.timeout_ms),
                                       static_cast<int>(given.replicas), velk::make_nodes());
    });
}

VELKSHARED_API const char* velkshared_last_error(void) {
    return velkshared::last_error();
}

}  // extern "C"
