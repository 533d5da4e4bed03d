// SPDX-License-Identifier: MIT
#include "shared/scripts.hpp"

#include <array>
#include <cstdint>

namespace velkshared {

std::string assemble_script(const char* first_line, const char* body) {
    std::string script(first_line);
    for (const std::string_view part : {std::string_view(kScriptPrelude), std::string_view(body)}) {
        std::size_t at = 0;
        while (at < part.size()) {
            std::size_t end = part.find('\n', at);
            end = end == std::string_view::npos ? part.size() : end;
            const std::string_view line = part.substr(at, end - at);
            const std::size_t text = line.find_first_not_of(' ');
            if (text != std::string_view::npos && line.substr(text, 2) != "--") {
                script += '\n';
                script += line;
            }
            at = end + 1;
        }
    }
    return script + "\nend\nreturn redis.error_reply('velkshared: unknown operation')\n";
}

namespace {

std::uint32_t rotate(std::uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

}  // namespace

// FIPS 180-4, for the few kilobytes of a script once per process: plain,
// not fast.
std::string sha1_hex(std::string_view bytes) {
    std::array<std::uint32_t, 5> h{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string message(bytes);
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
    message += static_cast<char>(0x80);
    while (message.size() % 64 != 56) {
        message += '\0';
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
        message += static_cast<char>((bits >> shift) & 0xff);
    }
    for (std::size_t block = 0; block < message.size(); block += 64) {
        std::array<std::uint32_t, 80> w{};
        for (int i = 0; i < 16; ++i) {
            for (int j = 0; j < 4; ++j) {
                w[i] = (w[i] << 8) | static_cast<unsigned char>(message[block + 4 * i + j]);
            }
        }
        for (int i = 16; i < 80; ++i) {
            w[i] = rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f = 0;
            std::uint32_t k = 0;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const std::uint32_t next = rotate(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotate(b, 30);
            b = a;
            a = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint32_t word : h) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            out += kDigits[(word >> shift) & 15];
        }
    }
    return out;
}

namespace {

ScriptText named(std::string body) {
    std::string name = sha1_hex(body);
    return ScriptText{std::move(body), std::move(name)};
}

const ScriptText kWrite = named(assemble_script("#!lua", kWriteBody));
const ScriptText kRead = named(assemble_script("#!lua flags=no-writes", kReadBody));

}  // namespace

const ScriptText& write_script() {
    return kWrite;
}
const ScriptText& read_script() {
    return kRead;
}

}  // namespace velkshared
