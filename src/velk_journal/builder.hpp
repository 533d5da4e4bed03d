// SPDX-License-Identifier: MIT
// The replay's side of the journal's table (journal/calls.hpp) for a
// call's arguments: makes them again from the line, in arrays of the
// replay's own that always hold at least as many records as the call's
// count says, so that a library reading what it was told it may read
// stays inside them whatever the journal holds. What the library did not
// read ("given") comes back as records it may hold but never needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "journal/calls.hpp"
#include "velk_journal/input.hpp"
#include "velkmock.h"

namespace velkjournal {

// What one call's arguments point at, alive until the call has answered:
// small arrays come from chunks kept from call to call, large ones from
// the allocator (calloc, which a large block costs nothing to clear in).
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() {
        reset();
        for (unsigned char* chunk : chunks_) {
            std::free(chunk);
        }
    }
    // `n` records of T, zeroed (at least one, so that the pointer is one);
    // nullptr when there is no room.
    template <class T>
    T* array(std::size_t n) {
        using Record = std::conditional_t<std::is_void_v<T>, unsigned char, std::remove_const_t<T>>;
        const std::size_t count = n == 0 ? 1 : n;
        if (count > limit_ / sizeof(Record)) {
            return nullptr;
        }
        return static_cast<T*>(zeroed(count * sizeof(Record)));
    }
    // The most one array may take.
    void set_limit(std::size_t bytes) noexcept { limit_ = bytes; }
    // Gives back everything, keeping the chunks for the next call.
    void reset() noexcept {
        for (void* block : large_) {
            std::free(block);
        }
        large_.clear();
        chunk_ = 0;
        used_ = 0;
    }

private:
    static constexpr std::size_t kChunk = 1 << 16;
    static constexpr std::size_t kLarge = kChunk / 4;

    void* zeroed(std::size_t size) {
        size = (size + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
        if (size > kLarge) {
            void* block = std::calloc(1, size);
            if (block != nullptr) {
                try {
                    large_.push_back(block);
                } catch (const std::bad_alloc&) {
                    std::free(block);
                    throw;
                }
            }
            return block;
        }
        if (chunk_ == chunks_.size() || used_ + size > kChunk) {
            if (chunk_ < chunks_.size() && used_ != 0) {
                ++chunk_;
            }
            if (chunk_ == chunks_.size()) {
                auto* chunk = static_cast<unsigned char*>(std::malloc(kChunk));
                if (chunk == nullptr) {
                    return nullptr;
                }
                chunks_.push_back(chunk);
            }
            used_ = 0;
        }
        unsigned char* out = chunks_[chunk_] + used_;
        used_ += size;
        std::memset(out, 0, size);
        return out;
    }

    std::vector<unsigned char*> chunks_;
    std::size_t chunk_ = 0;  // the chunk in use
    std::size_t used_ = 0;   // how much of it
    std::vector<void*> large_;
    std::size_t limit_ = std::numeric_limits<std::size_t>::max();
};

// What the builder needs of the replay beyond the line: the callback that
// sees what a get lends, and the result arrays queries fill and frees name.
class Places {
public:
    virtual ~Places() = default;
    virtual velk_get_callback_t callback() = 0;
    virtual velk_query_result_t* results_for_query(std::size_t n) = 0;
    // The results a query filled, under its name, with room for at least
    // `count` records; nullptr for a name no query left.
    virtual velk_query_result_t* results_named(std::string_view name, std::size_t count) = 0;
};

class Builder {
public:
    Builder(const LineReader& reader, element args, const Where& where, Arena& arena, Places& places)
        : reader_(reader), object_(args), where_(&where), arena_(arena), places_(places) {}

    void text(const char* name, const char*& out, bool) { out = text_at(at(name), Where{where_, name}); }

    template <class T>
    void number(const char* name, T& out) {
        out = reader_.integer<T>(at(name), Where{where_, name});
    }

    void real(const char* name, double& out) { out = reader_.real(at(name), Where{where_, name}); }

    template <class T>
    void given(const char* name, T*& out, std::size_t n) {
        const Where here{where_, name};
        const element value = at(name);
        if (value.is_null()) {
            out = nullptr;
            return;
        }
        expect_given(value, here);
        out = room<T>(n, here);
    }

    // A context the call is to fill: filled with a pattern first, so that
    // one left alone does not pass for one cleared.
    void context(const char* name, velk_sdk_metrics_ctx_t*& out) {
        given(name, out, 1);
        if (out != nullptr) {
            std::memset(out, 0x5a, sizeof *out);
        }
    }

    void callback(const char* name, velk_get_callback_t& out) {
        const element value = at(name);
        if (value.is_null()) {
            out = nullptr;
            return;
        }
        expect_given(value, Where{where_, name});
        out = places_.callback();
    }

    void query_results(const char* name, velk_query_result_t*& out, std::size_t n) {
        const element value = at(name);
        if (value.is_null()) {
            out = nullptr;
            return;
        }
        const Where here{where_, name};
        expect_given(value, here);
        out = places_.results_for_query(n);
        if (out == nullptr) {
            reader_.refuse(here, cat("no memory for ", n, " records of what it holds"));
        }
    }

    void freed(const char* name, velk_query_result_t*& out, std::int32_t count) {
        const Where here{where_, name};
        const element value = at(name);
        std::string storage;
        if (value.is_null()) {
            out = nullptr;
        } else if (LineReader::is_given(value)) {
            out = room<velk_query_result_t>(static_cast<std::size_t>(velkfault::journal::items_of(count)),
                                            here);
        } else {
            out = places_.results_named(reader_.text(value, here, storage),
                                        static_cast<std::size_t>(velkfault::journal::items_of(count)));
            if (out == nullptr) {
                // Freed twice, or results the journal did not see filled:
                // cleared records, which release nothing.
                out = room<velk_query_result_t>(static_cast<std::size_t>(velkfault::journal::items_of(count)),
                                                here);
            }
        }
    }

    template <class T, class Each>
    void records(const char* name, const T*& out, std::int32_t count, Each&& each) {
        const Where here{where_, name};
        simdjson::dom::array list;
        if (!array_at(name, count, here, out, list)) {
            return;
        }
        auto* records = room<T>(list.size(), here);
        std::int64_t i = 0;
        for (const element item : list) {
            const Where at_item{&here, nullptr, i};
            Builder inner(reader_, item, at_item, arena_, places_);
            if (!item.is_object()) {
                reader_.refuse(at_item, "expected an object");
            }
            each(inner, records[i], static_cast<std::int32_t>(i));
            ++i;
        }
        out = records;
    }

    void texts(const char* name, const char* const*& out, std::int32_t count) {
        const Where here{where_, name};
        simdjson::dom::array list;
        if (!array_at(name, count, here, out, list)) {
            return;
        }
        auto* texts = room<const char*>(list.size(), here);
        std::int64_t i = 0;
        for (const element item : list) {
            texts[i] = text_at(item, Where{&here, nullptr, i});
            ++i;
        }
        out = texts;
    }

    template <class T, class Each>
    void object(const char* name, const T*& out, Each&& each) {
        const Where here{where_, name};
        const element value = at(name);
        if (value.is_null()) {
            out = nullptr;
            return;
        }
        if (!value.is_object()) {
            reader_.refuse(here, "expected an object or null");
        }
        auto* record = room<T>(1, here);
        Builder inner(reader_, value, here, arena_, places_);
        each(inner, *record);
        out = record;
    }

    // A put item's parts: the value's bytes split by the parts' lengths, a
    // NULL where the caller had one; what the library did not read (after
    // the part its test stopped at) as empty parts.
    template <class Length>
    void parts(const void* const*& out_parts, const Length*& out_lens, const std::int32_t& count,
               const velkfault::journal::PutReads&) {
        const auto n = static_cast<std::size_t>(velkfault::journal::items_of(count));
        const Where at_parts{where_, "parts"};
        const Where at_lens{where_, "part_lens"};
        const Where at_value{where_, "value"};
        const element pointers = at("parts");
        const element lens = at("part_lens");
        const element value = at("value");
        // The lengths, as far as the journal has them.
        Length* lengths = nullptr;
        std::size_t known_lens = 0;
        if (!lens.is_null()) {
            lengths = room<Length>(n, at_lens);
            if (!LineReader::is_given(lens)) {
                const auto list = array_of(lens, at_lens, n);
                for (const element length : list) {
                    const Where here{&at_lens, nullptr, static_cast<std::int64_t>(known_lens)};
                    lengths[known_lens++] = static_cast<Length>(reader_.integer<std::uint64_t>(length, here));
                }
            }
        }
        out_lens = lengths;
        // The value's bytes, when the library read them.
        char* bytes = nullptr;
        std::uint64_t length = 0;
        if (!value.is_null()) {
            length = reader_.integer<std::uint64_t>(reader_.member(value, "length", at_value),
                                                    Where{&at_value, "length"});
            element encoded;
            std::string_view digits;
            if (!LineReader::find(value, "base64", encoded) ||
                encoded.get_string().get(digits) != simdjson::SUCCESS) {
                if (length != 0) {
                    throw Trouble{cat("line ", reader_.line()) +
                                  ": the journal holds no value bytes (it was written with "
                                  "VELKFAULT_JOURNAL_VALUES=hash or none): record it again with "
                                  "VELKFAULT_JOURNAL_VALUES=full"};
                }
            } else if (!base64_decode(digits, decoded_) || decoded_.size() != length) {
                reader_.refuse(Where{&at_value, "base64"}, cat("not the base64 of ", length) + " bytes");
            }
            bytes = room<char>(length, at_value);
            if (length != 0) {
                std::memcpy(bytes, decoded_.data(), length);
            }
        }
        out_parts = nullptr;
        if (pointers.is_null()) {
            return;
        }
        auto** list = room<const void*>(n, at_parts);
        out_parts = list;
        if (LineReader::is_given(pointers)) {
            return;
        }
        std::uint64_t offset = 0;
        std::size_t i = 0;
        for (const element pointer : array_of(pointers, at_parts, n)) {
            const Where here{&at_parts, nullptr, static_cast<std::int64_t>(i)};
            const std::uint64_t part = i < known_lens ? static_cast<std::uint64_t>(lengths[i]) : 0;
            if (reader_.boolean(pointer, here)) {
                if (bytes != nullptr && (part > length - offset || offset > length)) {
                    reader_.refuse(here, "the parts' lengths add up to more than the value's length");
                }
                list[i] = bytes != nullptr ? bytes + offset : &kUnread;
                offset += bytes != nullptr ? part : 0;
            }
            ++i;
        }
        if (bytes != nullptr && offset != length) {
            reader_.refuse(at_value, cat("the parts' lengths add up to ", offset) + ", not to " +
                                         std::to_string(length));
        }
    }

    void pairs(const char* name, const velk_meta_pair_t*& out, std::int32_t count,
               velkfault::journal::PairRule, bool) {
        const Where here{where_, name};
        const element value = at(name);
        if (value.is_null()) {
            out = nullptr;
            return;
        }
        const auto n = static_cast<std::size_t>(velkfault::journal::items_of(count));
        auto* pairs = room<velk_meta_pair_t>(n, here);
        out = pairs;
        if (LineReader::is_given(value)) {
            return;
        }
        std::int64_t i = 0;
        for (const element pair : array_of(value, here, n, true)) {
            const Where at_pair{&here, nullptr, i};
            if (!LineReader::is_given(pair)) {
                simdjson::dom::array sides;
                if (pair.get_array().get(sides) != simdjson::SUCCESS || sides.size() != 2) {
                    reader_.refuse(at_pair, "expected a pair: [key, value], or \"given\"");
                }
                pairs[i].key = text_at(sides.at(0).value_unsafe(), Where{&at_pair, nullptr, 0});
                pairs[i].value = text_at(sides.at(1).value_unsafe(), Where{&at_pair, nullptr, 1});
            }
            ++i;
        }
    }

    void buffers(void* const*& out_buffers, const std::uint64_t*& out_sizes, std::int32_t count) {
        const auto n = static_cast<std::size_t>(velkfault::journal::items_of(count));
        const Where at_sizes{where_, "sizes"};
        const Where at_buffers{where_, "buffers"};
        const element sizes = at("sizes");
        const element buffers = at("buffers");
        std::uint64_t* size_list = nullptr;
        if (!sizes.is_null()) {
            size_list = room<std::uint64_t>(n, at_sizes);
            if (!LineReader::is_given(sizes)) {
                std::int64_t i = 0;
                for (const element size : array_of(sizes, at_sizes, n, true)) {
                    size_list[i] = reader_.integer<std::uint64_t>(size, Where{&at_sizes, nullptr, i});
                    ++i;
                }
            }
        }
        out_sizes = size_list;
        out_buffers = nullptr;
        if (buffers.is_null()) {
            return;
        }
        auto** list = room<void*>(n, at_buffers);
        out_buffers = list;
        if (LineReader::is_given(buffers)) {
            return;
        }
        std::int64_t i = 0;
        for (const element buffer : array_of(buffers, at_buffers, n, true)) {
            const Where here{&at_buffers, nullptr, i};
            if (reader_.boolean(buffer, here)) {
                list[i] =
                    room<char>(size_list != nullptr && !LineReader::is_given(sizes) ? size_list[i] : 0, here);
            }
            ++i;
        }
    }

    [[nodiscard]] bool item_read(std::int32_t) const noexcept { return true; }

    template <class Length>
    velkfault::journal::PutReads put_reads(const char*, const void* const*, const Length*, std::int32_t count,
                                           std::int32_t) const noexcept {
        velkfault::journal::PutReads all;
        all.parts_read = count;
        return all;
    }

private:
    static constexpr char kUnread = 0;

    element at(const char* name) {
        element out;
        if (!members_.take(name, out)) {
            if (!object_.is_object()) {
                reader_.refuse(*where_, "expected an object");
            }
            reader_.refuse(Where{where_, name}, "missing");
        }
        return out;
    }

    template <class T>
    T* room(std::size_t n, const Where& here) {
        T* block = arena_.array<T>(n);
        if (block == nullptr) {
            reader_.refuse(here, cat("no memory for ", n) + " records of what it holds");
        }
        return block;
    }

    void expect_given(element value, const Where& here) const {
        if (!LineReader::is_given(value)) {
            reader_.refuse(here, "expected null or \"given\"");
        }
    }

    // A text the call was given: null, "given" (one the library does not
    // read: any text will do), or the text itself, which no NUL may cut.
    const char* text_at(element value, const Where& here) {
        if (value.is_null()) {
            return nullptr;
        }
        if (LineReader::is_given(value)) {
            return &kUnread;
        }
        std::string storage;
        const std::string_view text = reader_.text(value, here, storage);
        if (text.find('\0') != std::string_view::npos) {
            reader_.refuse(here, "a text holds a NUL, which no C text can");
        }
        char* copy = room<char>(text.size() + 1, here);
        std::memcpy(copy, text.data(), text.size());
        return copy;
    }

    // An array of the call: null, "given" (room for `count` records, none
    // read), or exactly `count` records; false unless its items follow in
    // `list`.
    template <class Pointer>
    bool array_at(const char* name, std::int32_t count, const Where& here, Pointer& out,
                  simdjson::dom::array& list) {
        using Record = std::remove_cv_t<std::remove_pointer_t<Pointer>>;
        const element value = at(name);
        if (value.is_null()) {
            out = nullptr;
            return false;
        }
        if (LineReader::is_given(value)) {
            out = room<Record>(static_cast<std::size_t>(velkfault::journal::items_of(count)), here);
            return false;
        }
        list = array_of(value, here, static_cast<std::size_t>(velkfault::journal::items_of(count)), true);
        if (count <= 0) {
            reader_.refuse(here, cat("a call with a count of ", count) + " reads no array");
        }
        return true;
    }

    // An array of at most `n` items (exactly `n` when `exact`).
    simdjson::dom::array array_of(element value, const Where& here, std::size_t n, bool exact = false) const {
        simdjson::dom::array list;
        if (value.get_array().get(list) != simdjson::SUCCESS) {
            reader_.refuse(here, "expected an array, null or \"given\"");
        }
        if (exact ? list.size() != n : list.size() > n) {
            reader_.refuse(here, std::to_string(list.size()) + " items where the call's count says " +
                                     std::to_string(n));
        }
        return list;
    }

    LineReader reader_;
    element object_;
    Members members_{object_};
    const Where* where_;
    Arena& arena_;
    Places& places_;
    std::string decoded_;
};

}  // namespace velkjournal
