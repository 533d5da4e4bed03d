// SPDX-License-Identifier: MIT
#include "shared/codec.hpp"

#include <charconv>
#include <cstring>

namespace velkshared {
namespace {

template <class T>
void put_le(std::string& out, T value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof value);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
            std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
        }
    }
    out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

template <class T>
bool take_le(std::string_view& in, T& value) {
    if (in.size() < sizeof(T)) {
        return false;
    }
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, in.data(), sizeof bytes);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
            std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
        }
    }
    std::memcpy(&value, bytes, sizeof value);
    in.remove_prefix(sizeof(T));
    return true;
}

bool take_text(std::string_view& in, std::string& text) {
    std::uint32_t length = 0;
    if (!take_le(in, length) || in.size() < length) {
        return false;
    }
    text.assign(in.data(), length);
    in.remove_prefix(length);
    return true;
}

}  // namespace

void encode_attributes(const velk::PutRecord& record, std::size_t length, std::string& out) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, length).ptr);
    out += ':';
    const std::size_t pairs = record.metadata.kept();
    if (record.tag == 0 && record.replica_count == 1 && pairs == 0) {
        return;
    }
    put_le<std::uint32_t>(out, record.tag);
    put_le<std::int32_t>(out, record.replica_count);
    put_le<std::uint32_t>(out, static_cast<std::uint32_t>(pairs));
    record.metadata.for_each([&out](std::string_view key, std::string_view value) {
        put_le<std::uint32_t>(out, static_cast<std::uint32_t>(key.size()));
        out.append(key);
        put_le<std::uint32_t>(out, static_cast<std::uint32_t>(value.size()));
        out.append(value);
    });
}

std::size_t attributes_size(const velk::PutRecord& record, std::size_t length) noexcept {
    std::size_t size = 2;  // a digit and ":"
    for (std::size_t rest = length; rest >= 10; rest /= 10) {
        ++size;
    }
    const std::size_t pairs = record.metadata.kept();
    if (record.tag == 0 && record.replica_count == 1 && pairs == 0) {
        return size;
    }
    size += 12;  // tag, replica count, pairs
    record.metadata.for_each(
        [&size](std::string_view key, std::string_view value) { size += 8 + key.size() + value.size(); });
    return size;
}

bool decode_attributes(std::string_view bytes, Attributes& out) {
    out = Attributes{};
    const auto [end, error] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), out.length);
    if (error != std::errc() || end == bytes.data() || (end != bytes.data() + bytes.size() && *end != ':')) {
        return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(end - bytes.data()));
    if (bytes.size() <= 1) {
        return true;  // the common entry: "LENGTH:", or "LENGTH" as one build wrote it
    }
    bytes.remove_prefix(1);
    std::uint32_t pairs = 0;
    if (!take_le(bytes, out.tag) || !take_le(bytes, out.replica_count) || !take_le(bytes, pairs) ||
        pairs > bytes.size() / 8) {
        return false;
    }
    out.metadata.resize(pairs);
    for (velk::MetaPair& pair : out.metadata) {
        if (!take_text(bytes, pair.key) || !take_text(bytes, pair.value)) {
            return false;
        }
    }
    return bytes.empty();
}

std::string encode_settings_head(std::int64_t capacity, double param) {
    std::string out;
    put_le<std::int64_t>(out, capacity);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &param, sizeof bits);
    put_le<std::uint64_t>(out, bits);
    return out;
}

std::string encode_settings(std::int64_t capacity, double param, std::string_view policy) {
    std::string out = encode_settings_head(capacity, param);
    out.append(policy);
    return out;
}

bool decode_settings(std::string_view bytes, Settings& out) {
    std::uint64_t bits = 0;
    if (!take_le(bytes, out.capacity) || !take_le(bytes, bits)) {
        return false;
    }
    std::memcpy(&out.param, &bits, sizeof bits);
    out.policy = bytes;
    return true;
}

}  // namespace velkshared
