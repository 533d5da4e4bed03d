// SPDX-License-Identifier: MIT
// Helpers of namespace administration, shared with the white-box tests.
#pragma once

#include "client/store.hpp"
#include "velkmock.h"

namespace velk {

// Clears *info, then describes the namespace (texts cut to their widths).
void fill_namespace_info(const NamespaceView& space, velk_namespace_info_t& info) noexcept;

}  // namespace velk
