// SPDX-License-Identifier: MIT
// Opening a handle of the shared store: from the variables (velk_client_create)
// or from a record given in code (velkshared_client_create).
#pragma once

#include <chrono>
#include <vector>

#include "velkmock.h"

namespace velkshared {

// A handle on the store that `url` and `store` name (each NULL: its variable,
// then its default) with `timeout` and `replicas` (zero: its variable, then
// its default), holding `nodes`; NULL with errno and a text when it cannot
// be opened. Throws std::bad_alloc.
velk_client* open_client(const char* url, const char* store, std::chrono::milliseconds timeout, int replicas,
                         std::vector<velk_node_info_t>&& nodes);

}  // namespace velkshared
