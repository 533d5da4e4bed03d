// SPDX-License-Identifier: MIT
// Which store the next handle a test makes goes to. The same black-box
// sources run against libvelkmock (every handle is a store of its own, so
// this does nothing) and against libvelkshared, where a test that needs two
// handles that share nothing gives each a store of its own.
#pragma once

namespace velk_test {

// Called before making handle `index` (0, 1, ...) of a test.
void choose_store(int index);

// Whether the handles are libvelkshared's. Where an allocation fails, its
// calls may also answer -ENOTCONN or -ETIMEDOUT (a connection whose
// request went out must go), and a create allocates for its connection too.
bool shared_store();

}  // namespace velk_test
