// SPDX-License-Identifier: MIT
// Helpers of namespace administration, shared with the white-box tests.
#pragma once

#include <cstdint>
#include <string_view>

#include "client/store.hpp"
#include "velkmock.h"

namespace velk {

// Clears *info, then describes the namespace (texts cut to their widths).
void fill_namespace_info(std::string_view name, const Namespace& space, velk_namespace_info_t& info) noexcept;

}  // namespace velk
