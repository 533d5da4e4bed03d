// SPDX-License-Identifier: MIT
// Namespace create, update, delete, get and list. Settings are stored and
// reported only; nothing in the library acts on them.
#include "namespaces/namespaces.hpp"

#include <cstring>

#include "client/barrier.hpp"
#include "client/constants.hpp"
#include "client/text.hpp"

namespace velk {

void fill_namespace_info(const NamespaceView& space, velk_namespace_info_t& info) noexcept {
    std::memset(&info, 0, sizeof info);
    copy_string(info.name, sizeof info.name, space.name);
    info.capacity_bytes = space.capacity_bytes;
    info.used_bytes = space.used_bytes;
    copy_string(info.eviction_policy, sizeof info.eviction_policy, space.eviction_policy);
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
    NamespaceSettings settings{0, kDefaultPolicy, 0.0};
    if (options != nullptr) {
        settings.capacity_bytes = options->capacity_bytes;
        settings.policy_param = options->policy_param;
        // Unlike update, an empty policy on create means "none given".
        if (options->eviction_policy != nullptr && options->eviction_policy[0] != '\0') {
            settings.eviction_policy = options->eviction_policy;
        }
    }
    return guarded([&]() -> int { return store::create_namespace(*client, ns, settings); });
}

VELK_API int velk_update_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options) {
    using namespace velk;
    if (client == nullptr || !valid_name(ns)) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    // The existence test comes before the options: a missing namespace is
    // reported even without options.
    NamespaceUpdate update{};
    if (options != nullptr) {
        update = NamespaceUpdate{options->capacity_bytes, options->eviction_policy, options->policy_param};
    }
    return guarded([&]() -> int {
        return store::update_namespace(*client, ns, options != nullptr ? &update : nullptr);
    });
}

VELK_API int velk_delete_namespace(velk_client* client, const char* ns) {
    using namespace velk;
    if (client == nullptr || !valid_name(ns)) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int { return store::delete_namespace(*client, ns); });
}

VELK_API int velk_get_namespace(velk_client* client, const char* ns, velk_namespace_info_t* info) {
    using namespace velk;
    if (client == nullptr || !valid_name(ns) || info == nullptr) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int {
        return store::describe_namespace(
            *client, ns, [info](const NamespaceView& space) { fill_namespace_info(space, *info); });
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
        int written = 0;
        const int status = store::list_namespaces(
            *client, static_cast<std::size_t>(info_capacity),
            [total](std::size_t count) { *total = static_cast<int>(count); },
            [infos, &written](const NamespaceView& space) { fill_namespace_info(space, infos[written++]); });
        return status < 0 ? status : written;
    });
}

}  // extern "C"
