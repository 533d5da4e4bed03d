// SPDX-License-Identifier: MIT
// The journal's side of calls.hpp: writes a call's arguments and answer as
// JSON, reading the caller's records only as far as calls.hpp says the
// library reads them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "faults/decision.hpp"
#include "journal/calls.hpp"
#include "journal/journal.hpp"
#include "journal/json.hpp"

namespace velkfault::journal {

class Writer {
public:
    Writer(Json& json, Values mode) : json_(json), mode_(mode) {}

    // Whether the call's arrays may be read: only when the library took the
    // call (one refused for its arguments, or answered by a plan, may have
    // been given arrays shorter than its count, which the library never
    // read either); and which items the fault layer kept from it.
    void set_reading(bool read_arrays, std::span<const Drop> dropped) {
        read_arrays_ = read_arrays;
        dropped_ = dropped;
    }

    // --- arguments ---------------------------------------------------------

    void text(const char* name, const char* const& value, bool read) {
        json_.key(name);
        given_text(value, read);
    }

    template <class T>
    void number(const char* name, const T& value) {
        json_.key(name);
        if constexpr (std::is_signed_v<T>) {
            json_.number(value);
        } else {
            json_.unsigned_number(value);
        }
    }

    void real(const char* name, double value) {
        json_.key(name);
        json_.real(value);
    }

    template <class T>
    void given(const char* name, T* const& pointer, std::size_t) {
        json_.key(name);
        if (pointer == nullptr) {
            json_.null();
        } else {
            json_.bytes("given");
        }
    }
    void context(const char* name, velk_sdk_metrics_ctx_t* const& ctx) { given(name, ctx, 1); }
    void query_results(const char* name, velk_query_result_t* const& results, std::size_t n) {
        given(name, results, n);
    }
    void callback(const char* name, const velk_get_callback_t& callback) {
        json_.key(name);
        if (callback == nullptr) {
            json_.null();
        } else {
            json_.bytes("given");
        }
    }

    // The results a free releases, by the name of the query that filled them.
    void freed(const char* name, velk_query_result_t* const& results, std::int32_t) {
        json_.key(name);
        if (results == nullptr) {
            json_.null();
            return;
        }
        const std::string query = results_name(results);
        json_.bytes(query.empty() ? "given" : query);
    }

    // An array of `count` records the call reads.
    template <class T, class Each>
    void records(const char* name, const T* const& list, std::int32_t count, Each&& each) {
        if (!array(name, list)) {
            return;
        }
        record_array(list, count, each);
    }

    void texts(const char* name, const char* const* const& list, std::int32_t count) {
        if (!array(name, list)) {
            return;
        }
        json_.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            given_text(list[i], item_read(i));
        }
        json_.close_array();
    }

    template <class T, class Each>
    void object(const char* name, const T* const& record, Each&& each) {
        json_.key(name);
        if (record == nullptr) {
            json_.null();
            return;
        }
        json_.open_object();
        each(*this, *record);
        json_.close_object();
    }

    // A put item's value parts, as far as the library read them: which part
    // pointers are NULL, their lengths, and the value when it read it.
    template <class Length>
    void parts(const void* const* const& list, const Length* const& lens, const std::int32_t& count,
               const PutReads& reads) {
        const std::int32_t n = reads.part_arrays ? reads.parts_read : 0;
        json_.key("parts");
        if (list == nullptr) {
            json_.null();
        } else if (!reads.part_arrays) {
            json_.bytes("given");
        } else {
            json_.open_array();
            for (std::int32_t i = 0; i < n; ++i) {
                json_.boolean(list[i] != nullptr);
            }
            json_.close_array();
        }
        json_.key("part_lens");
        if (lens == nullptr) {
            json_.null();
        } else if (!reads.part_arrays) {
            json_.bytes("given");
        } else {
            json_.open_array();
            for (std::int32_t i = 0; i < n; ++i) {
                json_.unsigned_number(lens[i]);
            }
            json_.close_array();
        }
        json_.key("value");
        if (!reads.value) {
            json_.null();
            return;
        }
        constexpr std::int32_t kOnStack = 64;
        std::uint64_t wide[kOnStack];
        if constexpr (std::is_same_v<Length, std::uint64_t>) {
            json_.value(list, lens, count, mode_);
        } else if (count <= kOnStack) {
            for (std::int32_t i = 0; i < count; ++i) {
                wide[i] = lens[i];
            }
            json_.value(list, wide, count, mode_);
        } else {
            const std::vector<std::uint64_t> all(lens, lens + count);
            json_.value(list, all.data(), count, mode_);
        }
    }

    // Pairs of texts; a side the library does not read is "given", and so
    // is a whole pair it never reaches.
    void pairs(const char* name, const velk_meta_pair_t* const& list, std::int32_t count, PairRule rule,
               bool read) {
        json_.key(name);
        if (list == nullptr) {
            json_.null();
            return;
        }
        if (!read || count <= 0) {
            json_.bytes("given");
            return;
        }
        json_.open_array();
        bool reached = true;
        for (std::int32_t i = 0; i < count; ++i) {
            if (!reached) {
                json_.bytes("given");
                continue;
            }
            const bool whole = list[i].key != nullptr && list[i].value != nullptr;
            json_.open_array();
            given_text(list[i].key, whole);
            given_text(list[i].value, whole);
            json_.close_array();
            reached = whole || rule == PairRule::Metadata;
        }
        json_.close_array();
    }

    // Get-into's buffers: which are NULL, and their sizes.
    void buffers(void* const* const& buffers, const std::uint64_t* const& sizes, std::int32_t count) {
        if (array("buffers", buffers)) {
            json_.open_array();
            for (std::int32_t i = 0; i < count; ++i) {
                json_.boolean(buffers[i] != nullptr);
            }
            json_.close_array();
        }
        if (array("sizes", sizes)) {
            json_.open_array();
            for (std::int32_t i = 0; i < count; ++i) {
                json_.unsigned_number(sizes[i]);
            }
            json_.close_array();
        }
    }

    [[nodiscard]] bool item_read(std::int32_t i) const noexcept {
        if (!read_arrays_) {
            return false;
        }
        // Sorted by item: the cache mode may refuse many of a large put.
        return !std::binary_search(dropped_.begin(), dropped_.end(), Drop{i, 0},
                                   [](const Drop& a, const Drop& b) { return a.item < b.item; });
    }

    template <class Length>
    PutReads put_reads(const char* key, const void* const* list, const Length* lens, std::int32_t part_count,
                       std::int32_t metadata_count) const {
        return journal::put_reads(key, list, lens, part_count, metadata_count);
    }

    // --- what the call wrote back -----------------------------------------

    void nothing() { json_.null(); }
    void begin_out() { json_.open_object(); }
    void end_out() { json_.close_object(); }

    template <class T, class Each>
    void records_out(const char* name, const T* list, std::int32_t count, Each&& each) {
        json_.key(name);
        if (list == nullptr) {
            json_.null();
            return;
        }
        record_array(list, count, each);
    }

    // A listing is an array even when it names no array (a count of 0).
    template <class T, class Each>
    void listing(const char* name, const T* list, std::int32_t count, const char*, bool, Each&& each) {
        json_.key(name);
        record_array(list, count, each);
    }

    template <class T, class Each>
    void record_out(const char* name, const T& record, Each&& each) {
        json_.key(name);
        json_.open_object();
        each(*this, record, 0);
        json_.close_object();
    }

    void numbers_out(const char* name, const std::int32_t* list, std::int32_t count) {
        json_.key(name);
        json_.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json_.number(list[i]);
        }
        json_.close_array();
    }

    template <std::size_t N>
    void field(const char* name, const char (&chars)[N]) {
        json_.key(name);
        json_.field(chars, N);
    }

    void text_bytes(const char* name, const char* data, std::size_t length) {
        json_.key(name);
        json_.bytes(std::string_view(data, length));
    }

    void boolean(const char* name, bool value) {
        json_.key(name);
        json_.boolean(value);
    }

    void null_member(const char* name) {
        json_.key(name);
        json_.null();
    }

    void value(const char* name, const void* data, std::uint64_t length) {
        json_.key(name);
        json_.value(data, length, mode_);
    }

    // Pairs a library allocated: all of their texts are its own copies.
    void pairs_out(const char* name, const velk_meta_pair_t* list, std::int32_t count) {
        json_.key(name);
        if (list == nullptr) {
            json_.null();
            return;
        }
        json_.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json_.open_array();
            json_.string(list[i].key);
            json_.string(list[i].value);
            json_.close_array();
        }
        json_.close_array();
    }

    // What a get's callback was lent, written as it happened.
    template <class Seen>
    void callbacks(const char* name, const Seen& seen) {
        json_.key(name);
        json_.embed(seen.json());
    }

private:
    template <class T, class Each>
    void record_array(const T* list, std::int32_t count, Each&& each) {
        json_.open_array();
        for (std::int32_t i = 0; i < count; ++i) {
            json_.open_object();
            each(*this, list[i], i);
            json_.close_object();
        }
        json_.close_array();
    }

    // A text the caller gave: null, "given" when the library does not read
    // it, else the text; a text that reads "given" itself goes as base64,
    // so that the mark means one thing only.
    void given_text(const char* value, bool read) {
        if (value == nullptr) {
            json_.null();
        } else if (!read) {
            json_.bytes("given");
        } else if (std::strcmp(value, "given") == 0) {
            json_.open_object();
            json_.key("base64");
            json_.bytes("Z2l2ZW4=");
            json_.close_object();
        } else {
            json_.bytes(value);
        }
    }

    // An array's member: null, "given" (not read), or true when its
    // contents follow.
    bool array(const char* name, const void* list) {
        json_.key(name);
        if (list == nullptr) {
            json_.null();
            return false;
        }
        if (!read_arrays_) {
            json_.bytes("given");
            return false;
        }
        return true;
    }

    Json& json_;
    Values mode_;
    bool read_arrays_ = true;
    std::span<const Drop> dropped_;
};

}  // namespace velkfault::journal
