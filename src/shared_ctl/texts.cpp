// SPDX-License-Identifier: MIT
#include "shared_ctl/texts.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace velkctl {
namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8_sequence(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    // The second byte's range rules out overlong forms and surrogates.
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        second_low = lead == 0xe0 ? 0xa0 : 0x80;
        second_high = lead == 0xed ? 0x9f : 0xbf;  // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        second_low = lead == 0xf0 ? 0x90 : 0x80;
        second_high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || text.size() < length || byte(1) < second_low || byte(1) > second_high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A JSON string of the bytes, invalid UTF-8 as U+FFFD.
std::string json_text(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            const std::size_t n = utf8_sequence(text.substr(i));
            out += n != 0 ? std::string(text.substr(i, n)) : "\xef\xbf\xbd";
            i += n != 0 ? n : 1;
            continue;
        }
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || byte == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", byte);
            out += code;
        } else {
            out += static_cast<char>(byte);
        }
        ++i;
    }
    return out + "\"";
}

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : utf8_sequence(text.substr(i));
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string base64(std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned chunk = static_cast<unsigned char>(bytes[i]) << 16;
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        if (n > 1) {
            chunk |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        if (n > 2) {
            chunk |= static_cast<unsigned char>(bytes[i + 2]);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            out += j <= n ? kDigits[(chunk >> (18 - 6 * j)) & 63] : '=';
        }
    }
    return out;
}

}  // namespace

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (const std::size_t n = byte >= 0x80 ? utf8_sequence(text.substr(i)) : 0; n != 0) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (byte >= 0x20 && byte < 0x7f) {
                    out += c;
                } else {
                    // \xHH would swallow a hex digit that follows it in C.
                    char code[8];
                    const bool hex_next = i + 1 < text.size() && is_hex_digit(text[i + 1]);
                    std::snprintf(code, sizeof code, hex_next ? "\\%03o" : "\\x%02x", byte);
                    out += code;
                }
        }
        ++i;
    }
    return out + "\"";
}

std::string json_field(const char* name, std::string_view bytes) {
    std::string out = "\"" + std::string(name) + "\": " + json_text(bytes);
    if (!valid_utf8(bytes)) {
        out += ", \"" + std::string(name) + "_base64\": \"" + base64(bytes) + "\"";
    }
    return out;
}

std::string json_number(double value) {
    if (std::isnan(value)) {
        return "\"NaN\"";
    }
    if (std::isinf(value)) {
        return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string number(long long value) {
    return std::to_string(value);
}

std::string counted(long long n, const char* one, const char* many) {
    return number(n) + " " + (n == 1 ? one : many);
}

}  // namespace velkctl
