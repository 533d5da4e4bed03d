// SPDX-License-Identifier: MIT
// Which cluster slot a store lives in, as the tests on a cluster need to
// know: the library's keys carry the store's name in hexadecimal as their
// hash tag, and a cluster hashes the tag with CRC16 (XMODEM).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velk_test {

inline uint16_t crc16(std::string_view text) {
    uint16_t crc = 0;
    for (const char c : text) {
        crc ^= static_cast<uint16_t>(static_cast<unsigned char>(c) << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                      : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

inline int slot_of_store(std::string_view store) {
    static const char digits[] = "0123456789abcdef";
    std::string tag;
    for (const char c : store) {
        tag += digits[static_cast<unsigned char>(c) >> 4];
        tag += digits[static_cast<unsigned char>(c) & 15];
    }
    return crc16(store.empty() ? "-" : tag) & 16383;  // the empty name's tag is "-"
}

}  // namespace velk_test
