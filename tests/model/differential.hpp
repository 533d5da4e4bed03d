// SPDX-License-Identifier: MIT
// A model of the library's observable behaviour, and a driver that plays
// random call sequences against the real library and the model side by side.
//
// The model is written from the documented behaviour alone, with its own
// plain containers: it shares no code or structure with the implementation.
// Both the randomised differential test and the fuzz target use it; they
// differ only in where the driver's choices come from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

namespace velk_model {

// Where the driver's choices come from.
class Source {
public:
    virtual ~Source() = default;
    // A number in [0, bound); bound > 0.
    virtual uint32_t below(uint32_t bound) = 0;
    // False once a finite source has nothing more to give.
    virtual bool more() const = 0;
};

class SeededSource final : public Source {
public:
    explicit SeededSource(uint64_t seed) : engine_(seed) {}
    uint32_t below(uint32_t bound) override { return static_cast<uint32_t>(engine_() % bound); }
    bool more() const override { return true; }

private:
    std::mt19937_64 engine_;
};

class ByteSource final : public Source {
public:
    ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t below(uint32_t bound) override {
        uint32_t value = 0;
        for (int i = 0; i < 2 && position_ < size_; ++i) {
            value = value << 8 | data_[position_++];
        }
        return value % bound;
    }
    bool more() const override { return position_ < size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// Runs up to `steps` random calls (or until the source runs dry) on two
// handles and the model. Returns a description of the first divergence.
std::optional<std::string> run_differential(Source& source, long steps);

}  // namespace velk_model
