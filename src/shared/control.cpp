// SPDX-License-Identifier: MIT
// The control calls of libvelkshared.
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "shared/admin.hpp"
#include "shared/connection.hpp"
#include "shared/transport.hpp"
#include "shared/endpoint.hpp"
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
        Connection connection(std::move(*seeds), settings->timeout);
        return clear_store(connection, key_prefix(settings->store));
    } catch (const std::bad_alloc&) {
        velkshared::set_last_error("out of memory");
        return -ENOMEM;
    }
}

VELKSHARED_API const char* velkshared_last_error(void) {
    return velkshared::last_error();
}

}  // extern "C"
