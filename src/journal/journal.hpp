// SPDX-License-Identifier: MIT
// The journal: one JSON line per call that passes through the fault layer,
// when VELKFAULT_JOURNAL names a file, from every process that loads the
// layer with it (a child after fork, a program started with the variable).
//
// The first process creates the file and writes its header; every later
// one appends, never truncating: each line goes out in one write() on a
// descriptor opened with O_APPEND, so lines of threads and processes never
// interleave. The header (version 2) is
//   {"journal": "velkfault", "version": 2, "values": MODE, "epoch_ns": N,
//    "pid": P, "seq": "XXXXXXXX", "processes": "XXXXXXXX", ...}
// where the counters, eight hex digits each at offsets the processes map
// and count up together, number the calls (seq, unique in the file, in the
// order the calls began) and the processes; epoch_ns is the monotonic
// clock when the file was made, which every line's start_us counts from.
// Each process writes one line of its own before its first call's:
//   {"process": N, "pid": P, "ppid": P, "program": "...", "parent": N or
//    null, "forked_after": SEQ or null}
// (parent and forked_after for a child made by fork: the process it was
// forked from and the last seq begun before), then one line per call
// (members in the README, arguments and answers as calls.hpp has them).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "faults/decision.hpp"
#include "faults/functions.hpp"
#include "journal/json.hpp"

struct velk_client;

namespace velkfault::journal {

// The journal's state; everything here is safe from any thread.
bool on() noexcept;
Values values() noexcept;

// Stable names for what a program holds at addresses: handles ("h1"... in
// the order this process made them; "P/hN" for one a forked child
// inherited from process P), and the result arrays of queries ("r" and the
// query's seq).
std::string handle_name(const velk_client* client);
void name_handle(const velk_client* client);
void forget_handle(const velk_client* client);
std::string results_name(const void* results);
void name_results(const void* results, std::uint64_t seq);

// One call from its start to its line.
class Call {
public:
    explicit Call(Fn fn);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // Whether the call's line is this process's to write: a child forked
    // while it was in progress (from a get's callback) did not begin it.
    [[nodiscard]] bool active() const noexcept;
    [[nodiscard]] std::uint64_t seq() const noexcept { return seq_; }
    // errno when the call began: a create that leaves it alone says so.
    [[nodiscard]] int errno_before() const noexcept { return errno_before_; }
    // The call is the cache mode's removal of a put's victims, made within
    // the put: its line says so ("evicted": true after "within").
    void mark_evicted() noexcept { evicted_ = true; }
    // The line's beginning, everything before "args", into `json`. `drops`
    // are the items the fault layer kept from the library, by item: the
    // plan's (decision.item, for a per-item rule) and the cache mode's
    // refusals, which the plan member lists as "refused".
    void begin_line(Json& json, std::string_view handle, const Decision& decision,
                    std::span<const Drop> drops) const;

private:
    Fn fn_;
    bool active_ = false;
    bool outermost_ = false;
    bool overlapped_ = false;
    bool evicted_ = false;
    std::uint64_t seq_ = 0;
    std::uint64_t within_ = 0;
    std::uint64_t start_ns_ = 0;
    std::uint32_t starts_ = 0;
    std::uint32_t forks_ = 0;  // the forks this process came through when the call began
    int errno_before_ = 0;
};

// Writes a finished line (whole, never interleaved with another).
void write_line(Json& json);

// The thread's buffer for lines: calls write theirs one after the other.
Json& line_buffer();

// While the program's own code runs inside a call (a get callback), its
// calls are its own, not the library's: nothing is "within" for them.
class ProgramCode {
public:
    ProgramCode() noexcept;
    ~ProgramCode();
    ProgramCode(const ProgramCode&) = delete;
    ProgramCode& operator=(const ProgramCode&) = delete;

private:
    std::uint64_t saved_;
};

// Opens the journal that VELKFAULT_JOURNAL names (with
// VELKFAULT_JOURNAL_VALUES=full|hash|none); an empty text when done or not
// asked for, else why it cannot be.
std::string open_from_environment();

}  // namespace velkfault::journal
