// SPDX-License-Identifier: MIT
// The control calls of libvelkshared.
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "shared/connection.hpp"
#include "shared/endpoint.hpp"
#include "velkshared.h"

namespace velkshared {
namespace {

// Clearing a store names every key it holds, so that the script that drops
// them is valid on a cluster too: the namespaces are read first, then
// dropped by a script that refuses if the set changed in between (another
// client made or deleted one); then it tries again.
int clear_store(Connection& connection, const std::string& prefix) {
    constexpr int kTries = 100;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        Command list;
        list.add("HKEYS");
        const std::string spaces = prefix + "ns";
        list.add(spaces);
        Reply names;
        if (const int status = connection.command(list, names); status != 0) {
            return status;
        }
        if (names->type != REDIS_REPLY_ARRAY) {
            set_last_error("unexpected answer from the server: HKEYS");
            return -EPROTO;
        }
        std::vector<std::string> keys{spaces, prefix + "used"};
        Command args;
        args.add("clear");
        for (std::size_t i = 0; i < names->elements; ++i) {
            const std::string_view name(names->element[i]->str, names->element[i]->len);
            args.add(name);
            keys.push_back(prefix + "v:" + hex(name));
            keys.push_back(prefix + "a:" + hex(name));
        }
        Reply reply;
        if (const int status = connection.run(Script::Write, keys, args, reply); status != 0) {
            return status;
        }
        if (reply->type == REDIS_REPLY_INTEGER && reply->integer == 0) {
            return 0;
        }
    }
    set_last_error("the store's namespaces kept changing while it was cleared");
    return -EPROTO;
}

}  // namespace
}  // namespace velkshared

extern "C" {

VELKSHARED_API int velkshared_clear(const char* url, const char* store) {
    using namespace velkshared;
    try {
        const auto settings = settings_from_environment(url, store);
        const auto endpoint = settings ? parse_url(settings->url) : std::nullopt;
        if (!endpoint) {
            return -EINVAL;
        }
        Connection connection(*endpoint, settings->timeout);
        return clear_store(connection, key_prefix(settings->store));
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
}

VELKSHARED_API const char* velkshared_last_error(void) {
    return velkshared::last_error();
}

}  // extern "C"
