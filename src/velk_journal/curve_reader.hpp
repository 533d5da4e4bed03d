// SPDX-License-Identifier: MIT
// velk-journal curve: a journal's calls as the cache mode would have seen
// them, one trace per process, handle and namespace (journal/curve.hpp),
// and what the command prints of the curves.
//
// The calls read are the ones the cache mode sees: each thread's outermost
// call (what the library makes of itself within one, such as the mock's
// low-level calls through its ordinary ones, is part of it), and never the
// cache mode's own evictions ("evicted"), which are not the program's. What
// each call did comes from its answer as recorded: a put item stored when
// the put returned 0 and the item's status is 0, a read item found what its
// status or record says (cache::seen_by_get, seen_by_query), a delete
// removed a key whose status is 0. A call a plan answered did nothing.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "journal/curve.hpp"
#include "velk_journal/input.hpp"

namespace velkjournal {

// The namespaces of a journal by name (only `only`, when given), each with
// the traces of the handles that used it.
std::vector<velkfault::curve::Namespace> read_traces(Journal& journal,
                                                     const std::optional<std::string>& only);

// The short table the command prints without --json or --svg: per
// namespace, the hit ratio of each policy at up to nine capacities.
void write_table(const std::vector<velkfault::curve::Curve>& curves,
                 const std::vector<velkfault::curve::Policy>& policies, std::FILE* out);

}  // namespace velkjournal
