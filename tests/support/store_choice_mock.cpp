// SPDX-License-Identifier: MIT
// libvelkmock: every handle is a store of its own already.
#include "store_choice.hpp"

namespace velk_test {

void choose_store(int /*index*/) {}

bool shared_store() {
    return false;
}

}  // namespace velk_test
