// SPDX-License-Identifier: MIT
// Version queries, handle creation and destruction, and entry lookup.
#include <new>

#include "client/barrier.hpp"
#include "client/constants.hpp"
#include "client/store.hpp"
#include "topology/node_table.hpp"

namespace velk {

const Entry* find_entry(const velk_client* client, const char* ns, const char* key) noexcept {
    const Namespace* space = find_namespace(*client, ns);
    return space == nullptr ? nullptr : find_in_namespace(*space, key);
}

velk_client* create_client() noexcept {
    return guarded([]() -> velk_client* {
        // nothrow: a handle that cannot be had is reported as null, and the
        // node table below is the only other allocation.
        std::unique_ptr<velk_client> client(new (std::nothrow) velk_client);
        if (!client) {
            return nullptr;
        }
        client->nodes = make_nodes();
        return client.release();
    });
}

}  // namespace velk

extern "C" {

VELK_API const char* velk_version(void) {
    return velk::kVersion;
}
VELK_API const char* velk_revision(void) {
    return velk::kRevision;
}
VELK_API const char* velk_build_time(void) {
    return velk::kBuildTime;
}

VELK_API velk_client* velk_client_create(const void* config) {
    // The configuration record is the caller's business: only its presence
    // is required.
    return config == nullptr ? nullptr : velk::create_client();
}

VELK_API void velk_client_destroy(velk_client* client) {
    if (client == nullptr) {
        return;
    }
    // Node table first, then the namespaces with their entries, then the
    // handle itself.
    std::vector<velk_node_info_t>().swap(client->nodes);
    client->namespaces.clear();
    delete client;
}

}  // extern "C"
