// Helpers of namespace administration, shared with the white-box tests.
#pragma once

#include <cstdint>
#include <string_view>

#include "client/store.hpp"
#include "velkmock.h"

namespace velk {

// The sum of the value lengths of all entries, computed afresh each time.
std::uint64_t namespace_space_used(const Namespace& space) noexcept;

// Clears *info, then describes the namespace (texts cut to their widths).
void fill_namespace_info(std::string_view name, const Namespace& space, velk_namespace_info_t& info) noexcept;

}  // namespace velk
