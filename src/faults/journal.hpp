// SPDX-License-Identifier: MIT
// The journal: one JSON line per call that passes through the fault library,
// when VELKFAULT_JOURNAL names a file. What each function's line holds is
// journal_calls.hpp's; velk-replay writes its own answers with the same code
// to compare them with the journal's.
//
// Format (version 1), one JSON object per line; the first line is the header
// {"journal": "velkfault", "version": 1, "values": MODE}, then one line per
// completed call:
//   seq         the call's number, in the order the calls began
//   thread      a small number per thread, in the order threads first called
//   handle      "h1", "h2"... in the order handles were made ("" for none)
//   call        the function's name
//   start_us    when it began, in microseconds since the journal opened
//   duration_us how long it took
//   overlapped  true when a call of another thread ran at the same time
//   within      the seq of the call of the same thread inside which the
//               library behind made this one through an exported name (its
//               low-level calls go through the ordinary ones), or null
//   fault       null; "failed" (a rule answered it), "item N" (a rule failed
//               item N), and "delayed" when a delay ran first
//   args        the arguments (journal_calls.hpp)
//   rc          the return code, the handle's name, or the text
//   errno       after a create that returned NULL
//   out         what the call wrote back, or null when it wrote nothing
// Texts are JSON strings: valid UTF-8 as it is, every other byte (controls,
// quotes and backslashes aside) as \u00XX, which velk-replay reads back as
// that byte. A value is {"length": N} and, by MODE, "fnv1a64" (the FNV-1a
// hash of its bytes, 16 hex digits) or "base64" (the bytes themselves).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "faults/registry.hpp"

struct velk_client;

namespace velkfault::journal {

enum class Values { None, Hash, Full };

// A JSON text being written; commas come by themselves.
class Json {
public:
    std::string text;
    // Whether the call's arrays may be read: only when the library took the
    // call (a call refused for its arguments, or answered by a plan, may
    // have been given arrays shorter than its count, which the library never
    // read either). Arrays not read are written "given".
    bool read_arrays = true;

    void open_object() { open('{'); }
    void close_object() { close('}'); }
    void open_array() { open('['); }
    void close_array() { close(']'); }
    // A member's name; its value follows.
    void key(std::string_view name);
    // A text, or null for a null pointer.
    void string(const char* text);
    void bytes(std::string_view bytes);
    void number(long long value);
    void unsigned_number(unsigned long long value);
    void real(double value);
    void boolean(bool value);
    void null();
    // A fixed-width text field of a record: up to its first NUL.
    void field(const char* chars, std::size_t width);
    // A JSON value written elsewhere, whole.
    void embed(const Json& value);
    // A value of `length` bytes given in parts, written by `mode`.
    void value(const void* const* parts, const std::uint64_t* lens, std::int32_t count, Values mode);
    void value(const void* data, std::uint64_t length, Values mode);

private:
    void open(char bracket);
    void close(char bracket);
    void before_value();
    // Per open bracket: nothing written in it yet. The journal's values
    // nest a few levels deep; deeper ones share the last level's flag.
    static constexpr int kDepth = 32;
    bool first_[kDepth] = {};
    int depth_ = 0;
    bool after_key_ = false;
};

// The journal's state; everything here is safe from any thread.
bool on() noexcept;
Values values() noexcept;
// How values are written when no journal file is open (velk-replay writes
// its answers as the journal it reads wrote them).
void set_values(Values mode) noexcept;

// Stable names for what a program holds at addresses: handles ("h1"...),
// and the result arrays of queries ("r" and the query's seq).
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

    [[nodiscard]] bool active() const noexcept { return active_; }
    [[nodiscard]] std::uint64_t seq() const noexcept { return seq_; }
    // errno when the call began: a create that leaves it alone says so.
    [[nodiscard]] int errno_before() const noexcept { return errno_before_; }
    // The line's beginning: everything before "args".
    void begin_line(Json& json, const Decision& decision, bool delayed) const;
    // Writes the finished line (whole, never interleaved with another).
    static void write(Json& json);

private:
    Fn fn_;
    bool active_ = false;
    std::uint64_t seq_ = 0;
    std::uint64_t within_ = 0;
    std::uint64_t start_us_ = 0;
    std::uint64_t epoch_ = 0;
    bool overlapped_ = false;
    int errno_before_ = 0;
};

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

// FNV-1a, 64 bits, over bytes given in parts.
class Fnv1a {
public:
    void add(const void* data, std::uint64_t length) noexcept;
    [[nodiscard]] std::string hex() const;

private:
    std::uint64_t state_ = 14695981039346656037ULL;
};

}  // namespace velkfault::journal
