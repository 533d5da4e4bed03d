// SPDX-License-Identifier: MIT
// The miss-ratio curves as a picture: an SVG document with one chart per
// namespace, one under the other. Capacity runs on a log scale (the
// capacities worth comparing span orders of magnitude, and the grid is even
// on it), labelled in B, KiB, MiB...; the hit ratio in % on the other axis;
// one line per policy, lru as the step function it is, the others through
// their grid points; the declared capacities marked; the namespace and its
// number of uses in the title.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "journal/curve.hpp"

namespace velkfault::curve {

std::string to_svg(std::span<const Curve> curves);

// "512 B", "1 KiB", "1.5 MiB": at most one decimal, none when whole.
std::string byte_label(std::uint64_t bytes);

}  // namespace velkfault::curve
