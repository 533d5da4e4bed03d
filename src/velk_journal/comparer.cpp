// SPDX-License-Identifier: MIT
#include "velk_journal/comparer.hpp"

#include <algorithm>
#include <cstdio>

namespace velkjournal {
namespace {

// Where two byte strings first differ.
std::size_t first_difference(std::string_view a, std::string_view b) {
    const auto [x, y] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return static_cast<std::size_t>(x - a.begin());
}

}  // namespace

std::string show_bytes(std::string_view bytes, std::size_t limit) {
    const std::string_view shown = bytes.substr(0, limit);
    std::string out = "\"";
    for (std::size_t i = 0; i < shown.size();) {
        const auto c = static_cast<unsigned char>(shown[i]);
        // A character of UTF-8 as it is; any other byte as an escape.
        if (const std::size_t n = c >= 0x80 ? velkfault::journal::utf8_sequence(shown.substr(i)) : 0;
            n != 0) {
            out.append(shown.substr(i, n));
            i += n;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
    if (bytes.size() > limit) {
        out += cat(" and ", bytes.size() - limit, " bytes more");
    }
    return out;
}

std::string show_json(element value) {
    std::string text = simdjson::to_string(value);
    constexpr std::size_t kLimit = 160;
    if (text.size() > kLimit) {
        const std::size_t more = text.size() - kLimit;
        text.resize(kLimit);
        text += cat("... (", more) + " characters more)";
    }
    return text;
}

void Comparer::compare_text(const std::function<std::string()>& where, element recorded,
                            std::string_view replayed, bool replayed_null) {
    if (recorded.is_null() || replayed_null) {
        if (recorded.is_null() != replayed_null) {
            differ(where(), show_json(recorded), replayed_null ? "null" : show_bytes(replayed));
        }
        return;
    }
    std::string storage;
    std::string_view was;
    std::string_view text;
    simdjson::dom::object object;
    element encoded;
    if (recorded.get_string().get(was) != simdjson::SUCCESS) {
        if (recorded.get_object().get(object) != simdjson::SUCCESS || object.size() != 1 ||
            object.at_key("base64").get(encoded) != simdjson::SUCCESS ||
            encoded.get_string().get(text) != simdjson::SUCCESS || !base64_decode(text, storage)) {
            differ(where(), show_json(recorded), show_bytes(replayed));
            return;
        }
        was = storage;
    }
    if (was != replayed) {
        differ(where(), show_bytes(was), show_bytes(replayed));
    }
}

void Comparer::value(std::string_view name, const void* data, std::uint64_t length) {
    element recorded;
    if (!take(name, recorded)) {
        return;
    }
    const auto where = [&] {
        return at(name);
    };
    const auto* bytes = static_cast<const char*>(data);
    const std::string_view replayed(length != 0 ? bytes : "", length);
    std::uint64_t was_length = 0;
    element member;
    if (!recorded.is_object() || !LineReader::find(recorded, "length", member) ||
        member.get_uint64().get(was_length) != simdjson::SUCCESS) {
        differ(where(), show_json(recorded), show_bytes(replayed));
        return;
    }
    std::string_view digits;
    if (LineReader::find(recorded, "base64", member) &&
        member.get_string().get(digits) == simdjson::SUCCESS) {
        thread_local std::string was;
        if (!base64_decode(digits, was) || was.size() != was_length) {
            differ(where(), show_json(recorded), show_bytes(replayed));
        } else if (was != replayed) {
            const std::size_t from = first_difference(was, replayed);
            differ(where(), show_bytes(was) + cat(" (", was.size()) + " bytes)",
                   show_bytes(replayed) + cat(" (", replayed.size()) +
                       cat(" bytes; they differ from byte ", from) + ")");
        }
        return;
    }
    if (was_length != length) {
        differ(where() + ".length", std::to_string(was_length), std::to_string(length));
        return;
    }
    if (LineReader::find(recorded, "fnv1a64", member) &&
        member.get_string().get(digits) == simdjson::SUCCESS) {
        velkfault::journal::Fnv1a hash;
        hash.add(replayed.data(), replayed.size());
        if (hash.hex() != digits) {
            differ(where() + ".fnv1a64", show_bytes(digits),
                   show_bytes(hash.hex()) + " (the hash of " + show_bytes(replayed) + ")");
        }
    }
}

void Comparer::pairs_out(std::string_view name, const velk_meta_pair_t* list, std::int32_t count) {
    simdjson::dom::array recorded;
    if (!take_array(name, list != nullptr, count, recorded)) {
        return;
    }
    std::int32_t i = 0;
    for (const element pair : recorded) {
        if (i == count) {
            break;
        }
        const auto where = [&] {
            return cat(at(name), "[", i, "]");
        };
        simdjson::dom::array sides;
        if (pair.get_array().get(sides) != simdjson::SUCCESS || sides.size() != 2) {
            differ(where(), show_json(pair), "a pair");
        } else {
            const char* key = list[i].key;
            const char* value = list[i].value;
            compare_text([&] { return where() + "[0]"; }, sides.at(0).value_unsafe(),
                         key != nullptr ? key : "", key == nullptr);
            compare_text([&] { return where() + "[1]"; }, sides.at(1).value_unsafe(),
                         value != nullptr ? value : "", value == nullptr);
        }
        ++i;
    }
}

void Comparer::finish() {
    if (skip_ || done_ || !object_.is_object()) {
        return;
    }
    done_ = true;
    members_.untaken([&](std::string_view key, element value) {
        if (!ignored(key)) {
            differ(at(key), show_json(value), "nothing");
        }
    });
}

}  // namespace velkjournal
