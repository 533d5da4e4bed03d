// SPDX-License-Identifier: MIT
// Work on a whole store, shared by the control call and velkshared-ctl.
#pragma once

#include <string>

#include "shared/connection.hpp"

namespace velkshared {

// Removes every namespace and entry of the store whose keys begin with
// `prefix` (key_prefix()), in one atomic step; 0 or a code.
int clear_store(Connection& connection, const std::string& prefix);

}  // namespace velkshared
