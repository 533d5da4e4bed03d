// SPDX-License-Identifier: MIT
// Version queries, and handle creation and destruction.
#include "client/client.hpp"

#include "client/barrier.hpp"
#include "client/constants.hpp"
#include "client/store.hpp"
#include "topology/node_table.hpp"

namespace velk {

velk_client* create_client() noexcept {
    return guarded([]() -> velk_client* { return store::open(make_nodes()); });
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
    if (client != nullptr) {
        velk::store::close(client);
    }
}

}  // extern "C"
