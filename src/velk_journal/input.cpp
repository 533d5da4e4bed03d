// SPDX-License-Identifier: MIT
#include "velk_journal/input.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace velkjournal {
namespace {

// What simdjson says of a line that is no JSON.
std::string no_json(simdjson::error_code error) {
    return std::string("not JSON: ") + simdjson::error_message(error);
}

int base64_digit(unsigned char c) noexcept {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::string Where::path() const {
    std::vector<const Where*> chain;
    for (const Where* w = this; w != nullptr; w = w->parent) {
        chain.push_back(w);
    }
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if ((*it)->name != nullptr) {
            if (!out.empty()) {
                out += '.';
            }
            out += (*it)->name;
        } else if ((*it)->index >= 0) {
            out += '[' + std::to_string((*it)->index) + ']';
        }
    }
    return out;
}

void refuse(std::size_t line, const Where& where, const std::string& why) {
    const std::string path = where.path();
    throw Trouble{"line " + std::to_string(line) + ": " + (path.empty() ? "" : path + ": ") + why};
}

bool LineReader::find(element object, const char* name, element& out) noexcept {
    simdjson::dom::object members;
    if (object.get_object().get(members) != simdjson::SUCCESS) {
        return false;
    }
    return members.at_key(name).get(out) == simdjson::SUCCESS;
}

element LineReader::member(element object, const char* name, const Where& where) const {
    if (!object.is_object()) {
        refuse(where, "expected an object");
    }
    element out;
    if (!find(object, name, out)) {
        refuse(Where{&where, name}, "missing");
    }
    return out;
}

template <class T>
T LineReader::integer(element value, const Where& where) const {
    std::int64_t signed_value = 0;
    std::uint64_t unsigned_value = 0;
    if (value.get_int64().get(signed_value) == simdjson::SUCCESS) {
        if (std::in_range<T>(signed_value)) {
            return static_cast<T>(signed_value);
        }
        refuse(where, std::to_string(signed_value) + " is out of range here");
    }
    if (value.get_uint64().get(unsigned_value) == simdjson::SUCCESS) {
        if (std::in_range<T>(unsigned_value)) {
            return static_cast<T>(unsigned_value);
        }
        refuse(where, std::to_string(unsigned_value) + " is out of range here");
    }
    refuse(where, "expected a whole number");
}

template std::int32_t LineReader::integer<std::int32_t>(element, const Where&) const;
template std::uint32_t LineReader::integer<std::uint32_t>(element, const Where&) const;
template std::int64_t LineReader::integer<std::int64_t>(element, const Where&) const;
template std::uint64_t LineReader::integer<std::uint64_t>(element, const Where&) const;

bool real_of(element value, double& out) noexcept {
    std::int64_t whole = 0;
    std::uint64_t big = 0;
    std::string_view word;
    if (value.get_double().get(out) == simdjson::SUCCESS) {
        return true;
    }
    if (value.get_int64().get(whole) == simdjson::SUCCESS) {
        out = static_cast<double>(whole);
        return true;
    }
    if (value.get_uint64().get(big) == simdjson::SUCCESS) {
        out = static_cast<double>(big);
        return true;
    }
    if (value.get_string().get(word) != simdjson::SUCCESS) {
        return false;
    }
    if (word == "inf" || word == "-inf") {
        out = word == "inf" ? std::numeric_limits<double>::infinity()
                            : -std::numeric_limits<double>::infinity();
        return true;
    }
    if (word == "nan") {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (word.size() != 20 || word.substr(0, 4) != "nan:") {
        return false;
    }
    std::uint64_t bits = 0;
    for (const char c : word.substr(4)) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) {
            return false;
        }
        bits = bits << 4 | static_cast<std::uint64_t>(digit);
    }
    out = std::bit_cast<double>(bits);
    return out != out;  // the bits of a NaN, and of nothing else
}

double LineReader::real(element value, const Where& where) const {
    double out = 0;
    if (!real_of(value, out)) {
        refuse(where, "expected a number, \"inf\", \"-inf\", \"nan\" or \"nan:\" and 16 hex digits");
    }
    return out;
}

bool LineReader::boolean(element value, const Where& where) const {
    bool out = false;
    if (value.get_bool().get(out) != simdjson::SUCCESS) {
        refuse(where, "expected true or false");
    }
    return out;
}

bool LineReader::is_given(element value) noexcept {
    std::string_view text;
    return value.get_string().get(text) == simdjson::SUCCESS && text == "given";
}

std::string_view LineReader::text(element value, const Where& where, std::string& storage) const {
    std::string_view out;
    if (value.get_string().get(out) == simdjson::SUCCESS) {
        return out;
    }
    simdjson::dom::object object;
    element encoded;
    std::string_view digits;
    if (value.get_object().get(object) == simdjson::SUCCESS && object.size() == 1 &&
        object.at_key("base64").get(encoded) == simdjson::SUCCESS &&
        encoded.get_string().get(digits) == simdjson::SUCCESS) {
        if (!base64_decode(digits, storage)) {
            refuse(Where{&where, "base64"}, "not base64");
        }
        return storage;
    }
    refuse(where, "expected a text (a string, or {\"base64\": ...})");
}

bool base64_decode(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t chunk = 0;
    int bits = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != '='; ++i) {
        const int digit = base64_digit(static_cast<unsigned char>(text[i]));
        if (digit < 0) {
            return false;
        }
        chunk = (chunk << 6) | static_cast<std::uint32_t>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((chunk >> bits) & 0xff);
        }
    }
    // Padding only at the end, and only as much as the last group lacks.
    const std::size_t padding = text.size() - i;
    if (padding > 2 || text.find_first_not_of('=', i) != std::string_view::npos ||
        (padding != 0 && text.size() % 4 != 0) || bits >= 6 || (chunk & ((1U << bits) - 1)) != 0) {
        return false;
    }
    return true;
}

Journal::Journal(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw Trouble{"cannot read " + path + ": " + std::strerror(errno)};
    }
    // Read whole, with the padding the parser may read past each line.
    std::string content;
    char chunk[1 << 16];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) != 0;) {
        content.append(chunk, n);
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        throw Trouble{"cannot read " + path + ": " + std::strerror(error)};
    }
    index(content, path);
}

Journal::Journal(std::string_view text, const std::string& name) {
    index(text, name);
}

void Journal::index(std::string_view content, const std::string& path) {
    size_ = content.size();
    buffer_ = std::make_unique<char[]>(size_ + simdjson::SIMDJSON_PADDING);
    std::memcpy(buffer_.get(), content.data(), size_);
    std::memset(buffer_.get() + size_, ' ', simdjson::SIMDJSON_PADDING);

    const Where top;
    std::size_t number = 0;
    bool header = false;
    for (std::size_t at = 0; at < size_;) {
        const char* begin = buffer_.get() + at;
        const void* newline = std::memchr(begin, '\n', size_ - at);
        const std::size_t length =
            newline != nullptr ? static_cast<const char*>(newline) - begin : size_ - at;
        at += length + 1;
        ++number;
        const LineReader reader(number);
        element line;
        if (const auto error = parser_.parse(begin, length, false).get(line); error != simdjson::SUCCESS) {
            reader.refuse(top, no_json(error));
        }
        if (!line.is_object()) {
            reader.refuse(top, "expected an object");
        }
        std::string storage;
        if (!header) {
            element name;
            std::string_view journal;
            if (!LineReader::find(line, "journal", name) ||
                name.get_string().get(journal) != simdjson::SUCCESS || journal != "velkfault") {
                throw Trouble{path +
                              " is no journal of libvelkfault's (its first line is no journal header)"};
            }
            const auto version =
                reader.integer<std::int64_t>(reader.member(line, "version", top), Where{&top, "version"});
            if (version != 2) {
                throw Trouble{path + " is a journal of version " + std::to_string(version) +
                              ", which this velk-journal does not read: record it again"};
            }
            values_ = reader.text(reader.member(line, "values", top), Where{&top, "values"}, storage);
            header = true;
            continue;
        }
        element member;
        if (!LineReader::find(line, "call", member)) {
            if (!LineReader::find(line, "process", member)) {
                reader.refuse(top, "neither a call's line nor a process's");
            }
            Process process;
            process.number = reader.integer<std::uint32_t>(member, Where{&top, "process"});
            process.pid = reader.integer<std::int64_t>(reader.member(line, "pid", top), Where{&top, "pid"});
            const element program = reader.member(line, "program", top);
            if (!program.is_null()) {
                process.program = reader.text(program, Where{&top, "program"}, storage);
            }
            const element parent = reader.member(line, "parent", top);
            if (!parent.is_null()) {
                process.parent = reader.integer<std::uint32_t>(parent, Where{&top, "parent"});
                process.forked_after = reader.integer<std::uint64_t>(reader.member(line, "forked_after", top),
                                                                     Where{&top, "forked_after"});
            }
            if (process.number == 0 || !processes_.emplace(process.number, process).second) {
                reader.refuse(Where{&top, "process"},
                              "process " + std::to_string(process.number) +
                                  (process.number == 0 ? " cannot be" : " has two lines"));
            }
            continue;
        }
        CallLine call;
        call.line = number;
        call.text = std::string_view(begin, length);
        const Where at_call{&top, "call"};
        const std::string_view name = reader.text(member, at_call, storage);
        const int fn = velkfault::find_function(name);
        if (fn < 0) {
            reader.refuse(at_call, "'" + std::string(name) + "' is none of the 28 functions");
        }
        call.fn = static_cast<velkfault::Fn>(fn);
        call.seq = reader.integer<std::uint64_t>(reader.member(line, "seq", top), Where{&top, "seq"});
        call.process =
            reader.integer<std::uint32_t>(reader.member(line, "process", top), Where{&top, "process"});
        call.thread =
            reader.integer<std::uint32_t>(reader.member(line, "thread", top), Where{&top, "thread"});
        call.handle = reader.text(reader.member(line, "handle", top), Where{&top, "handle"}, storage);
        call.start_us =
            reader.integer<std::uint64_t>(reader.member(line, "start_us", top), Where{&top, "start_us"});
        call.duration_us = reader.integer<std::uint64_t>(reader.member(line, "duration_us", top),
                                                         Where{&top, "duration_us"});
        const element within = reader.member(line, "within", top);
        if (!within.is_null()) {
            call.within = reader.integer<std::uint64_t>(within, Where{&top, "within"});
            if (call.within >= call.seq) {
                reader.refuse(Where{&top, "within"},
                              "a call can only be made within one that began before it");
            }
        }
        calls_.push_back(std::move(call));
    }
    if (!header) {
        throw Trouble{path + " is empty: no journal header"};
    }
    std::stable_sort(calls_.begin(), calls_.end(),
                     [](const CallLine& a, const CallLine& b) { return a.seq < b.seq; });
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        const CallLine& call = calls_[i];
        const LineReader reader(call.line);
        if (i > 0 && calls_[i - 1].seq == call.seq) {
            reader.refuse(Where{&top, "seq"}, "call " + std::to_string(call.seq) + " is also on line " +
                                                  std::to_string(calls_[i - 1].line));
        }
        if (processes_.count(call.process) == 0) {
            reader.refuse(Where{&top, "process"},
                          "process " + std::to_string(call.process) + " has no line of its own");
        }
        if (call.within != 0) {
            const std::ptrdiff_t outer = find(call.within);
            if (outer < 0) {
                reader.refuse(Where{&top, "within"},
                              "the journal holds no call " + std::to_string(call.within));
            }
            if (calls_[static_cast<std::size_t>(outer)].process != call.process) {
                reader.refuse(Where{&top, "within"}, "a call of another process");
            }
            calls_[static_cast<std::size_t>(outer)].inner.push_back(i);
        }
    }
}

std::ptrdiff_t Journal::find(std::uint64_t seq) const {
    const auto it = std::lower_bound(calls_.begin(), calls_.end(), seq,
                                     [](const CallLine& call, std::uint64_t s) { return call.seq < s; });
    return it != calls_.end() && it->seq == seq ? it - calls_.begin() : -1;
}

element Journal::parse(const CallLine& call) {
    element line;
    // The index was made by parsing the same bytes: they parse again.
    if (parser_.parse(call.text.data(), call.text.size(), false).get(line) != simdjson::SUCCESS) {
        throw Trouble{"line " + std::to_string(call.line) +
                      ": no longer the JSON it was"};  // GCOVR_EXCL_LINE
    }
    return line;
}

Planned planned(const LineReader& reader, element line, velkfault::Fn fn) {
    using velkfault::Decision;
    const Where top;
    const Where at{&top, "plan"};
    Planned out;
    element plan;
    if (!LineReader::find(line, "plan", plan) || plan.is_null()) {
        return out;
    }
    element member;
    if (LineReader::find(plan, "delay_us", member)) {
        out.decision.delay_us = reader.integer<std::uint32_t>(member, Where{&at, "delay_us"});
    }
    const velkfault::Returns returns = velkfault::kFunctions[fn].returns;
    if (LineReader::find(plan, "code", member)) {
        if (returns == velkfault::Returns::Nothing || returns == velkfault::Returns::Text) {
            reader.refuse(at, std::string(velkfault::kFunctions[fn].name) + " cannot fail");
        }
        out.decision.kind = Decision::FailCall;
        out.decision.code = reader.integer<std::int32_t>(member, Where{&at, "code"});
        if (returns == velkfault::Returns::Handle &&
            out.decision.code == std::numeric_limits<std::int32_t>::min()) {
            reader.refuse(Where{&at, "code"}, "a create cannot fail with a code that has no errno");
        }
    } else if (LineReader::find(plan, "item", member)) {
        if (!velkfault::kFunctions[fn].per_item) {
            reader.refuse(at, std::string(velkfault::kFunctions[fn].name) + " takes no per-item failures");
        }
        out.decision.kind = Decision::FailItem;
        out.decision.item = reader.integer<std::int32_t>(member, Where{&at, "item"});
        out.decision.code =
            reader.integer<std::int32_t>(reader.member(plan, "status", at), Where{&at, "status"});
        if (out.decision.item < 0) {
            reader.refuse(Where{&at, "item"}, "an item's index is not negative");
        }
        out.drop = velkfault::Drop{out.decision.item, out.decision.code};
        out.dropped = true;
    }
    return out;
}

}  // namespace velkjournal
