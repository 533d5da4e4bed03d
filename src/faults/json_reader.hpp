// SPDX-License-Identifier: MIT
// A small JSON reader for the journal's lines. Texts are bytes: \u00XX
// escapes below 0x100 read as that one byte (how the journal writes bytes
// that are no UTF-8), other escapes as their UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkfault::json {

struct Member;

struct Value {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    std::string text;  // a number's digits, or a string's bytes
    std::vector<Value> items;
    // (Members are a struct declared here and defined below: a pair of a
    // type still being defined trips some compilers' library checks.)
    std::vector<Member> members;

    // The member `name`, or null when there is none.
    [[nodiscard]] const Value* find(std::string_view name) const;
    [[nodiscard]] bool is_null() const { return kind == Null; }
    [[nodiscard]] long long integer() const;
    [[nodiscard]] unsigned long long unsigned_integer() const;
    [[nodiscard]] double real() const;
    // The value written back as JSON (for messages).
    [[nodiscard]] std::string dump() const;
};

struct Member {
    std::string name;
    Value value;
    bool operator==(const Member& other) const;
};

// Parses one JSON text; nothing, with `why`, for one that is not JSON.
std::optional<Value> parse(std::string_view text, std::string* why = nullptr);

bool operator==(const Value& a, const Value& b);

}  // namespace velkfault::json
