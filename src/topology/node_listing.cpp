// SPDX-License-Identifier: MIT
// Listing the fixed node table through a selector.
#include <cstring>

#include "client/barrier.hpp"
#include "client/store.hpp"
#include "topology/node_listing.hpp"

namespace velk {

bool node_matches(const velk_node_info_t& node, const velk_node_selector_t* selector) noexcept {
    if (selector == nullptr) {
        return true;
    }
    const struct {
        const char* wanted;
        const char* actual;
    } filters[] = {
        {selector->cluster, node.cluster},
        {selector->region, node.region},
        {selector->zone, node.zone},
        {selector->rack, node.rack},
        {selector->node_class, node.node_class},
    };
    for (const auto& filter : filters) {
        // NULL and "" mean "any"; otherwise the texts must be identical.
        if (filter.wanted != nullptr && filter.wanted[0] != '\0' &&
            std::strcmp(filter.wanted, filter.actual) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace velk

extern "C" VELK_API int velk_get_nodes(velk_client* client, const velk_node_selector_t* selector,
                                       velk_node_info_t* nodes, int node_capacity) {
    using namespace velk;
    if (client == nullptr || nodes == nullptr || node_capacity <= 0) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    return guarded([&]() -> int {
        return store::with_nodes(*client, [&](const velk_node_info_t* table, std::size_t count) {
            int written = 0;
            for (std::size_t i = 0; i < count && written < node_capacity; ++i) {
                // A node that does not pass uses no slot.
                if (node_matches(table[i], selector)) {
                    nodes[written++] = table[i];
                }
            }
            return written;
        });
    });
}
