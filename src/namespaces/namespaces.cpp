// SPDX-License-Identifier: MIT
// Namespace create, update, delete, get and list. Settings are stored and
// reported only; nothing in the library acts on them.
#include "namespaces/namespaces.hpp"

#include <cstring>
#include <string>

#include "client/barrier.hpp"
#include "client/text.hpp"

namespace velk {

void fill_namespace_info(std::string_view name, const Namespace& space,
                         velk_namespace_info_t& info) noexcept {
    std::memset(&info, 0, sizeof info);
    copy_string(info.name, sizeof info.name, name);
    info.capacity_bytes = space.capacity_bytes;
    info.used_bytes = space.used_bytes;
    copy_string(info.eviction_policy, sizeof info.eviction_policy, std::string_view(space.eviction_policy));
    info.policy_param = space.policy_param;
    info.created_at_ms = space.created_at_ms;
}

namespace {

bool valid_name(const char* ns) noexcept {
    return ns != nullptr && ns[0] != '\0';
}

}  // namespace
}  // namespace velk

extern "C" {

VELK_API int velk_create_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options) {
    using namespace velk;
    if (client == nullptr || !valid_name(ns)) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int {
        const std::lock_guard guard(client->lock);
        if (find_namespace(*client, ns) != nullptr) {
            return VELK_ERR_NAMESPACE_EXISTS;
        }
        Namespace space(++client->namespaces_made);
        if (options != nullptr) {
            space.capacity_bytes = options->capacity_bytes;
            space.policy_param = options->policy_param;
            // Unlike update, an empty policy on create means "none given".
            if (options->eviction_policy != nullptr && options->eviction_policy[0] != '\0') {
                space.eviction_policy = options->eviction_policy;
            }
        }
        // Tested and inserted under one holding of the lock: of two racing
        // creates of one name, exactly one succeeds.
        client->namespaces.emplace(std::string(ns), std::move(space));
        return VELK_OK;
    });
}

VELK_API int velk_update_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options) {
    using namespace velk;
    if (client == nullptr || !valid_name(ns)) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int {
        const std::lock_guard guard(client->lock);
        Namespace* space = find_namespace(*client, ns);
        if (space == nullptr) {
            return VELK_ERR_NAMESPACE_NOT_FOUND;
        }
        if (options == nullptr) {
            return VELK_OK;
        }
        // The only allocation comes first, so a failure changes nothing.
        if (options->eviction_policy != nullptr) {
            std::string policy(options->eviction_policy);
            space->eviction_policy.swap(policy);
        }
        space->capacity_bytes = options->capacity_bytes;
        space->policy_param = options->policy_param;
        return VELK_OK;
    });
}

VELK_API int velk_delete_namespace(velk_client* client, const char* ns) {
    using namespace velk;
    if (client == nullptr || !valid_name(ns)) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int {
        const std::lock_guard guard(client->lock);
        const auto it = client->namespaces.find(std::string_view(ns));
        if (it == client->namespaces.end()) {
            return VELK_ERR_NAMESPACE_NOT_FOUND;
        }
        client->namespaces.erase(it);
        return VELK_OK;
    });
}

VELK_API int velk_get_namespace(velk_client* client, const char* ns, velk_namespace_info_t* info) {
    using namespace velk;
    if (client == nullptr || !valid_name(ns) || info == nullptr) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int {
        const std::lock_guard guard(client->lock);
        const auto it = client->namespaces.find(std::string_view(ns));
        if (it == client->namespaces.end()) {
            return VELK_ERR_NAMESPACE_NOT_FOUND;
        }
        fill_namespace_info(it->first, it->second, *info);
        return VELK_OK;
    });
}

VELK_API int velk_list_namespaces(velk_client* client, velk_namespace_info_t* infos, int info_capacity,
                                  int* total) {
    using namespace velk;
    if (client == nullptr || total == nullptr || info_capacity < 0 ||
        (info_capacity > 0 && infos == nullptr)) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int {
        const std::lock_guard guard(client->lock);
        *total = static_cast<int>(client->namespaces.size());
        int written = 0;
        for (const auto& [name, space] : client->namespaces) {
            if (written == info_capacity) {
                break;
            }
            fill_namespace_info(name, space, infos[written]);
            ++written;
        }
        return written;
    });
}

}  // extern "C"
