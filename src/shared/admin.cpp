// SPDX-License-Identifier: MIT
#include "shared/admin.hpp"

#include <cerrno>
#include <string>
#include <vector>

#include "shared/endpoint.hpp"

namespace velkshared {

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

}  // namespace velkshared
