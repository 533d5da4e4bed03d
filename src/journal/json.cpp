// SPDX-License-Identifier: MIT
#include "journal/json.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace velkfault::journal {
namespace {

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789abcdef";

// Whether the byte may go into a JSON string as it is (ASCII only).
constexpr bool plain(unsigned char byte) {
    return byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\';
}

}  // namespace

std::size_t utf8_sequence(std::string_view text) noexcept {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

bool valid_utf8(std::string_view bytes) noexcept {
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = utf8_sequence(bytes.substr(i));
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

void Base64::add(const unsigned char* data, std::uint64_t length) {
    std::uint64_t i = 0;
    while (count_ != 0 && i < length) {  // complete the group a previous part began
        held_[count_++] = data[i++];
        if (count_ == 3) {
            count_ = 0;
            add(held_, 3);
        }
    }
    const std::uint64_t whole = (length - i) / 3;
    if (whole != 0) {
        const std::size_t at = out_.size();
        out_.resize(at + whole * 4);
        char* out = out_.data() + at;
        for (std::uint64_t g = 0; g < whole; ++g, i += 3) {
            const unsigned chunk = static_cast<unsigned>(data[i]) << 16 |
                                   static_cast<unsigned>(data[i + 1]) << 8 |
                                   static_cast<unsigned>(data[i + 2]);
            *out++ = kBase64Digits[chunk >> 18];
            *out++ = kBase64Digits[(chunk >> 12) & 63];
            *out++ = kBase64Digits[(chunk >> 6) & 63];
            *out++ = kBase64Digits[chunk & 63];
        }
    }
    while (i < length) {
        held_[count_++] = data[i++];
    }
}

void Base64::finish() {
    if (count_ == 0) {
        return;
    }
    const unsigned chunk =
        static_cast<unsigned>(held_[0]) << 16 | (count_ > 1 ? static_cast<unsigned>(held_[1]) << 8 : 0U);
    out_ += kBase64Digits[chunk >> 18];
    out_ += kBase64Digits[(chunk >> 12) & 63];
    out_ += count_ > 1 ? kBase64Digits[(chunk >> 6) & 63] : '=';
    out_ += '=';
    count_ = 0;
}

void Fnv1a::add(const void* data, std::uint64_t length) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint64_t state = state_;
    for (std::uint64_t i = 0; i < length; ++i) {
        state = (state ^ bytes[i]) * 1099511628211ULL;
    }
    state_ = state;
}

std::string Fnv1a::hex() const {
    std::string out(16, '0');
    for (int i = 0; i < 16; ++i) {
        out[static_cast<std::size_t>(i)] = kHex[(state_ >> (60 - 4 * i)) & 15];
    }
    return out;
}

std::string non_finite_text(double value) {
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    if (!std::isnan(value)) {
        return {};
    }
    const auto bits = std::bit_cast<std::uint64_t>(value);
    if (bits == std::bit_cast<std::uint64_t>(std::numeric_limits<double>::quiet_NaN())) {
        return "nan";
    }
    std::string text = "nan:";
    for (int i = 15; i >= 0; --i) {
        text += kHex[(bits >> (4 * i)) & 15];
    }
    return text;
}

void Json::open(char bracket) {
    before_value();
    text += bracket;
    ++depth_;
    first_[std::min(depth_, kDepth) - 1] = true;
}

void Json::close(char bracket) {
    --depth_;
    text += bracket;
}

void Json::clear() noexcept {
    text.clear();
    depth_ = 0;
    after_key_ = false;
}

void Json::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (depth_ != 0) {
        bool& first = first_[std::min(depth_, kDepth) - 1];
        if (!first) {
            text += ", ";
        }
        first = false;
    }
}

void Json::key(std::string_view name) {
    before_value();
    const std::size_t at = text.size();
    text.resize(at + name.size() + 4);
    char* out = text.data() + at;
    *out++ = '"';
    std::memcpy(out, name.data(), name.size());
    out += name.size();
    std::copy_n("\": ", 3, out);
    after_key_ = true;
}

void Json::string(const char* value) {
    if (value == nullptr) {
        null();
    } else {
        bytes(value);
    }
}

void Json::bytes(std::string_view value) {
    if (!valid_utf8(value)) {
        // No JSON string holds these bytes as they are.
        open_object();
        key("base64");
        before_value();
        text += '"';
        Base64 encoder(text);
        encoder.add(reinterpret_cast<const unsigned char*>(value.data()), value.size());
        encoder.finish();
        text += '"';
        close_object();
        return;
    }
    before_value();
    text += '"';
    for (std::size_t i = 0; i < value.size();) {
        std::size_t run = i;
        while (run < value.size() && (plain(static_cast<unsigned char>(value[run])) ||
                                      static_cast<unsigned char>(value[run]) >= 0x80)) {
            ++run;
        }
        text.append(value.substr(i, run - i));
        if (run == value.size()) {
            break;
        }
        const auto byte = static_cast<unsigned char>(value[run]);
        switch (byte) {
            case '"':
                text += "\\\"";
                break;
            case '\\':
                text += "\\\\";
                break;
            case '\n':
                text += "\\n";
                break;
            case '\t':
                text += "\\t";
                break;
            case '\r':
                text += "\\r";
                break;
            default: {
                const char code[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 15]};
                text.append(code, sizeof code);
            }
        }
        i = run + 1;
    }
    text += '"';
}

void Json::embed(std::string_view json) {
    before_value();
    text += json;
}

void Json::number(long long value) {
    before_value();
    char digits[24];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void Json::unsigned_number(unsigned long long value) {
    before_value();
    char digits[24];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void Json::real(double value) {
    if (const std::string word = non_finite_text(value); !word.empty()) {
        bytes(word);  // JSON has no infinities or NaNs
        return;
    }
    before_value();
    char digits[40];
    char* end = std::to_chars(digits, digits + sizeof digits - 2, value).ptr;
    // A double reads back as a double, not as a whole number (-0.0 keeps
    // its sign).
    if (std::find_if(digits, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
        *end++ = '.';
        *end++ = '0';
    }
    text.append(digits, end);
}

void Json::boolean(bool value) {
    before_value();
    text += value ? "true" : "false";
}

void Json::null() {
    before_value();
    text += "null";
}

void Json::field(const char* chars, std::size_t width) {
    bytes(std::string_view(chars, strnlen(chars, width)));
}

void Json::value(const void* const* parts, const std::uint64_t* lens, std::int32_t count, Values mode) {
    std::uint64_t length = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        length += lens[i];
    }
    open_object();
    key("length");
    unsigned_number(length);
    if (mode == Values::Hash) {
        Fnv1a hash;
        for (std::int32_t i = 0; i < count; ++i) {
            if (lens[i] != 0) {
                hash.add(parts[i], lens[i]);
            }
        }
        key("fnv1a64");
        bytes(hash.hex());
    } else if (mode == Values::Full) {
        key("base64");
        before_value();
        text.reserve(text.size() + (length + 2) / 3 * 4 + 2);
        text += '"';
        Base64 encoder(text);
        for (std::int32_t i = 0; i < count; ++i) {
            if (lens[i] != 0) {
                encoder.add(static_cast<const unsigned char*>(parts[i]), lens[i]);
            }
        }
        encoder.finish();
        text += '"';
    }
    close_object();
}

void Json::value(const void* data, std::uint64_t length, Values mode) {
    const void* parts[] = {data};
    const std::uint64_t lens[] = {length};
    value(parts, lens, 1, mode);
}

}  // namespace velkfault::journal
