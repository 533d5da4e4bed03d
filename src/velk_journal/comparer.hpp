// SPDX-License-Identifier: MIT
// The replay's side of the journal's table (journal/calls.hpp) for what a
// call wrote back: walks the replayed call's records beside the recorded
// JSON and names every place where they differ, exactly: whole numbers as
// 64-bit integers, doubles bit for bit, texts and values as their bytes.
// Members of the names it is told to ignore are left out wherever they
// are; "order" lets the two listings (namespaces, nodes) compare by their
// records' names, since their order differs by design between libraries.
// Per-item results always compare item by item.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "journal/calls.hpp"
#include "journal/json.hpp"
#include "velk_journal/input.hpp"
#include "velk_journal/replay.hpp"
#include "velkmock.h"

namespace velkjournal {

// Bytes for a person: as text when they are printable UTF-8, else with
// escapes; cut after `limit` bytes, with what was left out said.
std::string show_bytes(std::string_view bytes, std::size_t limit = 64);
// A recorded JSON value for a person, cut when it is long.
std::string show_json(element value);

class Comparer {
public:
    using Found = std::vector<std::string>;

    // The comparer of an answer (or of a line's own members, with no name).
    Comparer(const LineReader& reader, element recorded, std::string_view name, const Names& ignore,
             Found& found)
        : reader_(reader), object_(recorded), name_(name), ignore_(ignore), found_(found) {}
    // The comparer of a member or an item of another's: its path is made
    // only for a difference.
    Comparer(const Comparer& parent, element recorded, std::string_view name, std::int64_t index,
             std::string key = {}, Found* found = nullptr)
        : reader_(parent.reader_),
          object_(recorded),
          parent_(&parent),
          name_(name),
          index_(index),
          key_(std::move(key)),
          keyed_(index < 0 && !name.empty() && !key_.empty()),
          ignore_(parent.ignore_),
          found_(found != nullptr ? *found : parent.found_) {}

    // How the replayed answer reads, for a message when the recorded one
    // wrote nothing.
    void set_replayed_text(std::function<std::string()> text) { replayed_text_ = std::move(text); }

    // --- the answer as a whole ---------------------------------------------

    void nothing() {
        if (!object_.is_null()) {
            differ(path(), show_json(object_), "nothing");
        }
        done_ = true;
    }
    void begin_out() {
        if (object_.is_null()) {
            differ(path(), "nothing", replayed_text_ ? replayed_text_() : "an answer");
            skip_ = true;
        } else if (!object_.is_object()) {
            differ(path(), show_json(object_), "an answer");
            skip_ = true;
        }
    }
    void end_out() { finish(); }

    // --- members -----------------------------------------------------------

    template <class T>
    void number(std::string_view name, T value) {
        element recorded;
        if (!take(name, recorded)) {
            return;
        }
        std::int64_t s = 0;
        std::uint64_t u = 0;
        bool same = false;
        if (recorded.get_int64().get(s) == simdjson::SUCCESS) {
            same = std::cmp_equal(s, value);
        } else if (recorded.get_uint64().get(u) == simdjson::SUCCESS) {
            same = std::cmp_equal(u, value);
        }
        if (!same) {
            differ(at(name), show_json(recorded), std::to_string(value));
        }
    }

    void real(std::string_view name, double value) {
        element recorded;
        if (!take(name, recorded)) {
            return;
        }
        double was = 0;
        if (!real_of(recorded, was) ||
            std::bit_cast<std::uint64_t>(was) != std::bit_cast<std::uint64_t>(value)) {
            differ(at(name), show_json(recorded), show_real(value));
        }
    }

    void boolean(std::string_view name, bool value) {
        element recorded;
        if (!take(name, recorded)) {
            return;
        }
        bool was = false;
        if (recorded.get_bool().get(was) != simdjson::SUCCESS || was != value) {
            differ(at(name), show_json(recorded), value ? "true" : "false");
        }
    }

    template <std::size_t N>
    void field(std::string_view name, const char (&chars)[N]) {
        text_bytes(name, chars, strnlen(chars, N));
    }

    void text_bytes(std::string_view name, const char* data, std::size_t length) {
        element recorded;
        if (take(name, recorded)) {
            compare_text([&] { return at(name); }, recorded,
                         data != nullptr ? std::string_view(data, length) : std::string_view(),
                         data == nullptr);
        }
    }

    void null_member(std::string_view name) {
        element recorded;
        if (take(name, recorded) && !recorded.is_null()) {
            differ(at(name), show_json(recorded), "null");
        }
    }

    // A value: its length, and its bytes as far as the journal has them
    // (whole, or their hash).
    void value(std::string_view name, const void* data, std::uint64_t length);

    void pairs_out(std::string_view name, const velk_meta_pair_t* list, std::int32_t count);

    void numbers_out(std::string_view name, const std::int32_t* list, std::int32_t count) {
        simdjson::dom::array recorded;
        if (!take_array(name, list != nullptr, count, recorded)) {
            return;
        }
        std::int32_t i = 0;
        for (const element item : recorded) {
            if (i == count) {
                break;
            }
            std::int64_t was = 0;
            if (item.get_int64().get(was) != simdjson::SUCCESS || was != list[i]) {
                differ(at(name) + cat("[", i) + "]", show_json(item), std::to_string(list[i]));
            }
            ++i;
        }
    }

    template <class T, class Each>
    void records_out(std::string_view name, const T* list, std::int32_t count, Each&& each) {
        records(name, list != nullptr, list, count, each);
    }

    // One of the two listings: positions compare, unless order is ignored;
    // then records pair by their key's text, and a listing its capacity cut
    // (which holds whichever records came first) compares by its size and
    // by the records both sides hold.
    template <class T, class Each>
    void listing(std::string_view name, const T* list, std::int32_t count, const char* key, bool cut,
                 Each&& each) {
        if (!ignored("order")) {
            records(name, true, list, count, each);
            return;
        }
        unordered(name, list, count, key, cut, each);
    }

private:
    // An array of records beside a recorded one (or, with `replayed`
    // false, none beside a recorded null).
    template <class T, class Each>
    void records(std::string_view name, bool replayed, const T* list, std::int32_t count, Each&& each) {
        simdjson::dom::array recorded;
        if (!take_array(name, replayed, count, recorded)) {
            return;
        }
        std::int32_t i = 0;
        for (const element item : recorded) {
            if (i == count) {
                break;
            }
            Comparer inner(*this, item, name, i);
            if (inner.object_expected()) {
                each(inner, list[i], i);
                inner.finish();
            }
            ++i;
        }
    }

    template <class T, class Each>
    void unordered(std::string_view name, const T* list, std::int32_t count, const char* key, bool cut,
                   Each&& each) {
        simdjson::dom::array recorded;
        if (!take_array(name, true, count, recorded)) {
            return;
        }
        // Records that share a key (names cut at the field's width) pair
        // with the first of them that compares the same.
        std::map<std::string, std::vector<element>> by_key;
        for (const element item : recorded) {
            element k;
            std::string_view text;
            if (LineReader::find(item, key, k) && k.get_string().get(text) == simdjson::SUCCESS) {
                by_key[std::string(text)].push_back(item);
            } else {
                by_key[show_json(item)].push_back(item);
            }
        }
        for (std::int32_t i = 0; i < count; ++i) {
            const std::string k = key_text(list[i], key);
            const auto it = by_key.find(k);
            if (it == by_key.end() || it->second.empty()) {
                if (!cut) {
                    differ(cat(at(name), "[", show_bytes(k), "]"), "nothing", "a record");
                }
                continue;
            }
            std::size_t chosen = 0;
            for (std::size_t c = 0; c < it->second.size() && it->second.size() > 1; ++c) {
                Found trial;
                Comparer inner(*this, it->second[c], name, -1, k, &trial);
                each(inner, list[i], i);
                inner.finish();
                if (trial.empty()) {
                    chosen = c;
                    break;
                }
            }
            Comparer inner(*this, it->second[chosen], name, -1, k);
            each(inner, list[i], i);
            inner.finish();
            it->second.erase(it->second.begin() + static_cast<std::ptrdiff_t>(chosen));
        }
        for (const auto& [k, items] : by_key) {
            for (const element item : items) {
                if (!cut) {
                    differ(cat(at(name), "[", show_bytes(k), "]"), show_json(item), "nothing");
                }
            }
        }
    }

public:
    template <class T, class Each>
    void record_out(std::string_view name, const T& record, Each&& each) {
        element recorded;
        if (!take(name, recorded)) {
            return;
        }
        Comparer inner(*this, recorded, name, -1);
        if (inner.object_expected()) {
            each(inner, record, 0);
            inner.finish();
        }
    }

    // What the replay's callback was lent, against what the journal saw.
    template <class Seen>
    void callbacks(std::string_view name, const Seen& seen) {
        simdjson::dom::array recorded;
        const auto calls = static_cast<std::int32_t>(seen.calls.size());
        if (!take_array(name, true, calls, recorded)) {
            return;
        }
        std::int32_t i = 0;
        for (const element item : recorded) {
            if (i == calls) {
                break;
            }
            Comparer inner(*this, item, name, i);
            if (inner.object_expected()) {
                const auto& call = seen.calls[static_cast<std::size_t>(i)];
                velkfault::journal::callback_call(inner, call.count, call.values.data(), call.lens.data(),
                                                  call.statuses.data());
                inner.finish();
            }
            ++i;
        }
    }

    // Every member of the recorded object the table did not visit is one
    // the replayed answer does not have.
    void finish();

private:
    static std::string show_real(double value) {
        const std::string word = velkfault::journal::non_finite_text(value);
        if (!word.empty()) {
            return '"' + word + '"';
        }
        velkfault::journal::Json json;
        json.real(value);
        return json.text;
    }

    template <class T>
    static std::string key_text(const T& record, const char* key) {
        if constexpr (std::is_same_v<T, velk_namespace_info_t>) {
            (void)key;
            return std::string(record.name, strnlen(record.name, sizeof record.name));
        } else {
            (void)key;
            return std::string(record.node_id, strnlen(record.node_id, sizeof record.node_id));
        }
    }

    // Where this comparer's record is: its parent's path and its own name,
    // index or key.
    [[nodiscard]] std::string path() const {
        std::string out = parent_ != nullptr ? parent_->path() : std::string();
        if (!name_.empty()) {
            out += out.empty() ? "" : ".";
            out += name_;
        }
        if (index_ >= 0) {
            out += cat("[", index_, "]");
        } else if (keyed_) {
            out += cat("[", show_bytes(key_), "]");
        }
        return out;
    }
    [[nodiscard]] std::string at(std::string_view name) const {
        const std::string base = path();
        return base.empty() ? std::string(name) : cat(base, ".", name);
    }
    [[nodiscard]] bool ignored(std::string_view name) const {
        return !ignore_.empty() && ignore_.find(name) != ignore_.end();
    }

    void differ(const std::string& where, const std::string& recorded, const std::string& replayed) {
        found_.push_back(where + ": recorded " + recorded + ", replayed " + replayed);
    }

    bool object_expected() {
        if (!object_.is_object()) {
            differ(path(), show_json(object_), "a record");
            return false;
        }
        return true;
    }

    // The recorded member `name`, if it is to be compared; a missing one is
    // a difference.
    bool take(std::string_view name, element& out) {
        if (skip_) {
            return false;
        }
        if (!members_.take(name, out)) {
            if (!ignored(name)) {
                differ(at(name), "nothing", "a value");
            }
            return false;
        }
        return !ignored(name);
    }

    // A recorded array beside one of `count` replayed items (or null beside
    // none); true when their items are to be compared.
    bool take_array(std::string_view name, bool replayed, std::int32_t count, simdjson::dom::array& out) {
        element recorded;
        if (!take(name, recorded)) {
            return false;
        }
        if (!replayed) {
            if (!recorded.is_null()) {
                differ(at(name), show_json(recorded), "null");
            }
            return false;
        }
        if (recorded.get_array().get(out) != simdjson::SUCCESS) {
            differ(at(name), show_json(recorded), std::to_string(count) + " records");
            return false;
        }
        if (out.size() != static_cast<std::size_t>(count < 0 ? 0 : count)) {
            differ(at(name), std::to_string(out.size()) + " records", std::to_string(count));
        }
        return true;
    }

    // `where` makes the path, for a difference only.
    void compare_text(const std::function<std::string()>& where, element recorded, std::string_view replayed,
                      bool replayed_null);

    LineReader reader_;
    element object_;
    const Comparer* parent_ = nullptr;
    std::string_view name_;
    std::int64_t index_ = -1;
    std::string key_;
    bool keyed_ = false;
    const Names& ignore_;
    Found& found_;
    Members members_{object_};
    std::function<std::string()> replayed_text_;
    bool skip_ = false;
    bool done_ = false;
};

}  // namespace velkjournal
