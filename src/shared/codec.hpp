// SPDX-License-Identifier: MIT
// How an entry's attributes and a namespace's settings are laid out in the
// bytes the server keeps. Both are opaque to the server's scripts, which
// only store and return them; little-endian, length-prefixed.
//
//   attributes: the value's length in decimal (so that a script can read
//               an entry's length without touching its value) and ":",
//               then nothing more for the common entry (tag 0, replica
//               count 1, no metadata), else u32 tag, i32 replica count,
//               u32 pairs, then per pair u32 key length, key, u32 value
//               length, value. This is the form 0.1.0 reads and writes,
//               and it stays the one written while processes of 0.1.0 may
//               share a store: its scripts find the length before the ":"
//               and fail without one. (The length alone, which a build
//               between the two wrote for the common entry, is read too.)
//   settings:   i64 capacity, f64 policy parameter (its bits), policy text
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "client/store.hpp"

namespace velkshared {

// Appends the attributes of a put record whose value has `length` bytes.
void encode_attributes(const velk::PutRecord& record, std::size_t length, std::string& out);
// How many bytes encode_attributes() appends.
std::size_t attributes_size(const velk::PutRecord& record, std::size_t length) noexcept;

struct Attributes {
    std::uint64_t length = 0;
    std::uint32_t tag = 0;
    std::int32_t replica_count = 1;
    std::vector<velk::MetaPair> metadata;
};
// False for bytes that are no attributes (a store written by something else).
bool decode_attributes(std::string_view bytes, Attributes& out);

inline constexpr std::size_t kSettingsHead = 16;  // capacity and parameter, before the policy
std::string encode_settings(std::int64_t capacity, double param, std::string_view policy);
// The 16 bytes of capacity and parameter alone (an update keeping its policy).
std::string encode_settings_head(std::int64_t capacity, double param);
struct Settings {
    std::int64_t capacity = 0;
    double param = 0.0;
    std::string_view policy;
};
bool decode_settings(std::string_view bytes, Settings& out);

}  // namespace velkshared
