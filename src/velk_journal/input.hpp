// SPDX-License-Identifier: MIT
// A journal as velk-journal reads it: the file's lines parsed by simdjson,
// the header checked, each call line's place (seq, process, nesting)
// indexed, and typed access to members that says, for any line a person or
// a program may have broken, which line and which member is wrong and why.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <simdjson.h>

#include "faults/decision.hpp"
#include "faults/functions.hpp"

namespace velkjournal {

using simdjson::dom::element;

// Texts and numbers, one after another. (Appended rather than added up:
// GCC 12 warns, wrongly, of an overlap in "text" + std::to_string(n) at
// -O3.)
inline void append(std::string& out, std::string_view text) {
    out += text;
}
template <class Number, class = std::enable_if_t<std::is_arithmetic_v<Number>>>
void append(std::string& out, Number n) {
    out += std::to_string(n);
}
template <class... Parts>
std::string cat(const Parts&... parts) {
    std::string out;
    (append(out, parts), ...);
    return out;
}

// The journal or the library cannot be used: velk-journal says why and
// exits with 2.
struct Trouble {
    std::string why;
};

// Where a member is, for messages: "args.items[2].key".
struct Where {
    const Where* parent = nullptr;
    const char* name = nullptr;  // a member, or
    std::int64_t index = -1;     // an item of an array
    [[nodiscard]] std::string path() const;
};

// A Trouble naming the line and the member.
[[noreturn]] void refuse(std::size_t line, const Where& where, const std::string& why);

// One line being read: its number in the file, for the messages.
class LineReader {
public:
    explicit LineReader(std::size_t line) : line_(line) {}
    [[nodiscard]] std::size_t line() const noexcept { return line_; }

    [[noreturn]] void refuse(const Where& where, const std::string& why) const {
        velkjournal::refuse(line_, where, why);
    }
    // The member of an object; refused when missing, or when `object` is
    // no object.
    element member(element object, const char* name, const Where& where) const;
    // The same, or nullptr-like (false) when it is missing.
    static bool find(element object, const char* name, element& out) noexcept;
    template <class T>
    T integer(element value, const Where& where) const;
    double real(element value, const Where& where) const;
    bool boolean(element value, const Where& where) const;
    // A text: a JSON string, or {"base64": ...} for bytes that are not
    // UTF-8; `storage` holds decoded bytes.
    std::string_view text(element value, const Where& where, std::string& storage) const;
    static bool is_null(element value) noexcept { return value.is_null(); }
    // The marker of what the library did not read.
    static bool is_given(element value) noexcept;

private:
    std::size_t line_;
};

// The members of an object in the order a reader takes them, which is the
// order the journal wrote them: each is found where the last one ended,
// and only a member out of that order is looked for.
class Members {
public:
    explicit Members(element object) noexcept;
    // The member `name`: false when there is none (or no object).
    bool take(std::string_view name, element& out);
    // Each member that was not taken: fn(key, value).
    template <class Fn>
    void untaken(Fn&& fn) const {
        if (!valid_) {
            return;
        }
        std::size_t position = 0;
        for (const auto field : object_) {
            const bool taken = position++ < in_order_ ||
                               std::find(searched_.begin(), searched_.end(), field.key) != searched_.end();
            if (!taken) {
                fn(field.key, field.value);
            }
        }
    }

private:
    simdjson::dom::object object_;
    bool valid_;
    simdjson::dom::object::iterator next_;
    simdjson::dom::object::iterator end_;
    std::size_t in_order_ = 0;                // members taken in their order, from the first
    std::vector<std::string_view> searched_;  // members taken out of it
};

// Base64 (with or without padding) to bytes; false for anything else.
bool base64_decode(std::string_view text, std::string& out);

// A double from its journal form: a number, or "inf", "-inf", "nan",
// "nan:" and 16 hex digits of bits; false for anything else.
bool real_of(element value, double& out) noexcept;

// A process of the journal, from its own line.
struct Process {
    std::uint32_t number = 0;
    std::int64_t pid = 0;
    std::string program;
    std::uint32_t parent = 0;        // 0: not made by fork (or its maker made no call)
    std::uint64_t forked_after = 0;  // the last seq begun before the fork
};

// One call's line, as the index holds it.
struct CallLine {
    std::uint64_t seq = 0;
    std::size_t line = 0;   // its number in the file
    std::string_view text;  // in the file's buffer (padded for the parser)
    velkfault::Fn fn = velkfault::kVersion;
    std::uint32_t process = 0;
    std::uint32_t thread = 0;
    std::uint64_t within = 0;  // 0: the program's own call
    bool evicted = false;      // the cache mode's removal of the victims of the put it is within
    std::uint64_t start_us = 0;
    std::uint64_t duration_us = 0;
    std::string handle;
    std::vector<std::size_t> inner;  // the calls made within it (indexes), in order
};

class Journal {
public:
    // Reads and indexes a whole journal; a Trouble for a file that cannot
    // be read, or is not a journal, or holds a line that is not one.
    explicit Journal(const std::string& path);
    // The same of a journal's text; `name` stands for its file in messages.
    Journal(std::string_view text, const std::string& name);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    [[nodiscard]] const std::string& values() const noexcept { return values_; }
    // Every call line, in the order the calls began.
    [[nodiscard]] const std::vector<CallLine>& calls() const noexcept { return calls_; }
    [[nodiscard]] const std::map<std::uint32_t, Process>& processes() const noexcept { return processes_; }
    // The index of a call by its seq, or -1.
    [[nodiscard]] std::ptrdiff_t find(std::uint64_t seq) const;

    // Parses a call's line again (the index keeps no parsed lines: they
    // take several times their size).
    element parse(const CallLine& call);

private:
    void keep(std::string_view content);
    void index(const std::string& path);

    std::unique_ptr<char[]> buffer_;  // the journal's text, when it is not mapped
    const char* text_ = nullptr;
    std::size_t mapped_ = 0;  // the length mapped, when it is
    std::size_t size_ = 0;
    std::string values_;
    std::vector<CallLine> calls_;
    std::map<std::uint32_t, Process> processes_;
    simdjson::dom::parser parser_;
};

// The decision a line's "plan" records, and the items the fault layer kept
// from the library: the plan's dropped one and the cache mode's refusals
// ("refused", status VELK_ERR_NO_MEMORY), by item. Refused when the line's
// plan is not one the call can have been given.
struct Planned {
    velkfault::Decision decision;
    std::vector<velkfault::Drop> drops;
    [[nodiscard]] bool dropped() const noexcept { return !drops.empty(); }
};
Planned planned(const LineReader& reader, element line, velkfault::Fn fn);

}  // namespace velkjournal
