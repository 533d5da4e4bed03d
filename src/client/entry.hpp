// SPDX-License-Identifier: MIT
// One stored value of the in-memory store, and its parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/store.hpp"

namespace velk {

// A value's bytes: pointer and length only. A stored value never grows after
// the put that built it, so a vector's capacity word would be dead weight in
// every one of possibly millions of entries.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::size_t size) : data_(size != 0 ? new unsigned char[size] : nullptr), size_(size) {}

    [[nodiscard]] const unsigned char* data() const noexcept { return data_.get(); }
    [[nodiscard]] unsigned char* data() noexcept { return data_.get(); }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }

private:
    std::unique_ptr<unsigned char[]> data_;
    std::size_t size_ = 0;
};

using MetaList = std::vector<MetaPair>;

// One stored value. Most entries carry no metadata, so the list lives behind
// a pointer that stays null until a put supplies a pair.
struct Entry {
    Bytes value;
    std::unique_ptr<MetaList> metadata;
    std::uint32_t tag = 0;
    std::int32_t replica_count = 1;

    Entry() = default;
    Entry(Entry&&) noexcept = default;
    Entry& operator=(Entry&&) noexcept = default;
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    [[nodiscard]] std::size_t metadata_size() const noexcept { return metadata ? metadata->size() : 0; }
};

}  // namespace velk
