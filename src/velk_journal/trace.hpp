// SPDX-License-Identifier: MIT
// A journal as a timeline, in the Trace Event format that Perfetto,
// chrome://tracing and speedscope open: one track per process and thread,
// named; each call a complete event ("X") with its namespace, item count,
// return code and a summary of its statuses; what a plan did as an
// instant event ("i") on its call, and so is each difference a replay
// found. Calls nest on their thread as they ran (a call the library made
// inside another lies inside it).
#pragma once

#include <cstdio>

#include "velk_journal/input.hpp"
#include "velk_journal/replay.hpp"

namespace velkjournal {

void write_trace(Journal& journal, const Verdict* verdict, std::FILE* out);

}  // namespace velkjournal
