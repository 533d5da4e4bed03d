// SPDX-License-Identifier: MIT
#include "faults/journal.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace velkfault::journal {
namespace {

using Clock = std::chrono::steady_clock;

// The journal of this process. A write that fails stops it (one line on
// stderr): a call's answer never depends on its journal.
std::atomic<bool> journal_on{false};
std::atomic<int> journal_values{static_cast<int>(Values::Hash)};
int journal_fd = -1;
std::mutex write_lock;
Clock::time_point opened;

std::atomic<std::uint64_t> next_seq{1};
std::atomic<int> next_thread{1};
// Calls in progress, and how often a call began while another ran: a call
// that sees either move overlapped another.
std::atomic<int> in_progress{0};
std::atomic<std::uint64_t> overlap_epoch{0};

thread_local int thread_number = 0;
thread_local std::uint64_t current_call = 0;  // the seq of this thread's call in progress

std::mutex names_lock;
std::unordered_map<const void*, std::uint64_t> handles;  // address -> number
std::uint64_t next_handle = 1;
std::unordered_map<const void*, std::uint64_t> results_arrays;  // address -> the query's seq

std::uint64_t micros_since_open() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - opened).count());
}

// The length of the valid UTF-8 sequence that begins `text`, or 0.
std::size_t utf8_sequence(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

// Base64 of bytes given in pieces, three at a time across their seams.
class Base64 {
public:
    explicit Base64(std::string& out) : out_(out) {}
    void add(const unsigned char* data, std::uint64_t length) {
        for (std::uint64_t i = 0; i < length; ++i) {
            group_[held_++] = data[i];
            if (held_ == 3) {
                emit(3);
            }
        }
    }
    void finish() {
        if (held_ != 0) {
            for (int i = held_; i < 3; ++i) {
                group_[i] = 0;
            }
            emit(held_);
        }
    }

private:
    void emit(int n) {
        static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const unsigned chunk = static_cast<unsigned>(group_[0]) << 16 |
                               static_cast<unsigned>(group_[1]) << 8 | static_cast<unsigned>(group_[2]);
        for (int j = 0; j < 4; ++j) {
            out_ += j <= n ? kDigits[(chunk >> (18 - 6 * j)) & 63] : '=';
        }
        held_ = 0;
    }
    std::string& out_;
    unsigned char group_[3] = {};
    int held_ = 0;
};

void stop(const char* why, int error) {
    if (journal_on.exchange(false)) {
        std::fprintf(stderr, "libvelkfault: the journal stopped: %s: %s\n", why, std::strerror(error));
    }
}

}  // namespace

void Json::open(char bracket) {
    before_value();
    text += bracket;
    ++depth_;
    first_[std::min(depth_, kDepth) - 1] = true;
}

void Json::close(char bracket) {
    --depth_;
    text += bracket;
}

void Json::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (depth_ != 0) {
        bool& first = first_[std::min(depth_, kDepth) - 1];
        if (!first) {
            text += ", ";
        }
        first = false;
    }
}

void Json::key(std::string_view name) {
    before_value();
    const std::size_t at = text.size();
    text.resize(at + name.size() + 4);
    char* out = text.data() + at;
    *out++ = '"';
    std::memcpy(out, name.data(), name.size());
    out += name.size();
    std::copy_n("\": ", 3, out);
    after_key_ = true;
}

void Json::string(const char* value) {
    if (value == nullptr) {
        null();
    } else {
        bytes(value);
    }
}

void Json::bytes(std::string_view value) {
    before_value();
    text += '"';
    for (std::size_t i = 0; i < value.size();) {
        // Plain printable text goes in whole runs.
        std::size_t run = i;
        while (run < value.size() && static_cast<unsigned char>(value[run]) >= 0x20 &&
               static_cast<unsigned char>(value[run]) < 0x7f && value[run] != '"' && value[run] != '\\') {
            ++run;
        }
        if (run != i) {
            text.append(value.substr(i, run - i));
            i = run;
            continue;
        }
        const auto byte = static_cast<unsigned char>(value[i]);
        if (const std::size_t n = byte >= 0x80 ? utf8_sequence(value.substr(i)) : 0; n != 0) {
            text.append(value.substr(i, n));
            i += n;
            continue;
        }
        if (byte == '"' || byte == '\\') {
            text += '\\';
            text += static_cast<char>(byte);
        } else if (byte < 0x20 || byte >= 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", byte);
            text += code;
        } else {
            text += static_cast<char>(byte);
        }
        ++i;
    }
    text += '"';
}

void Json::embed(const Json& value) {
    before_value();
    text += value.text;
}

void Json::number(long long value) {
    before_value();
    char digits[24];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void Json::unsigned_number(unsigned long long value) {
    before_value();
    char digits[24];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void Json::real(double value) {
    before_value();
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.17g", value);
    // JSON has no inf or nan: such a value goes as a text.
    if (std::strpbrk(digits, "in") != nullptr) {
        text += '"';
        text += digits;
        text += '"';
    } else {
        text += digits;
    }
}

void Json::boolean(bool value) {
    before_value();
    text += value ? "true" : "false";
}

void Json::null() {
    before_value();
    text += "null";
}

void Json::field(const char* chars, std::size_t width) {
    bytes(std::string_view(chars, strnlen(chars, width)));
}

void Json::value(const void* const* parts, const std::uint64_t* lens, std::int32_t count, Values mode) {
    std::uint64_t length = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        length += lens[i];
    }
    open_object();
    key("length");
    unsigned_number(length);
    if (mode == Values::Hash) {
        Fnv1a hash;
        for (std::int32_t i = 0; i < count; ++i) {
            if (lens[i] != 0) {
                hash.add(parts[i], lens[i]);
            }
        }
        key("fnv1a64");
        bytes(hash.hex());
    } else if (mode == Values::Full) {
        key("base64");
        before_value();
        text += '"';
        Base64 encoder(text);
        for (std::int32_t i = 0; i < count; ++i) {
            if (lens[i] != 0) {
                encoder.add(static_cast<const unsigned char*>(parts[i]), lens[i]);
            }
        }
        encoder.finish();
        text += '"';
    }
    close_object();
}

void Json::value(const void* data, std::uint64_t length, Values mode) {
    const void* parts[] = {data};
    const std::uint64_t lens[] = {length};
    value(parts, lens, 1, mode);
}

void Fnv1a::add(const void* data, std::uint64_t length) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::uint64_t i = 0; i < length; ++i) {
        state_ = (state_ ^ bytes[i]) * 1099511628211ULL;
    }
}

std::string Fnv1a::hex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 0; i < 16; ++i) {
        out[static_cast<std::size_t>(i)] = kDigits[(state_ >> (60 - 4 * i)) & 15];
    }
    return out;
}

bool on() noexcept {
    return journal_on.load(std::memory_order_relaxed);
}

Values values() noexcept {
    return static_cast<Values>(journal_values.load(std::memory_order_relaxed));
}

void set_values(Values mode) noexcept {
    journal_values = static_cast<int>(mode);
}

std::string handle_name(const velk_client* client) {
    if (client == nullptr) {
        return "";
    }
    const std::lock_guard guard(names_lock);
    const auto it = handles.find(client);
    // A handle the journal did not see made (made before it opened, or a
    // stray pointer): named by its address.
    char text[32];
    if (it == handles.end()) {
        std::snprintf(text, sizeof text, "%p", static_cast<const void*>(client));
    } else {
        std::snprintf(text, sizeof text, "h%" PRIu64, it->second);
    }
    return text;
}

void name_handle(const velk_client* client) {
    const std::lock_guard guard(names_lock);
    handles[client] = next_handle++;
}

void forget_handle(const velk_client* client) {
    const std::lock_guard guard(names_lock);
    handles.erase(client);
}

std::string results_name(const void* results) {
    const std::lock_guard guard(names_lock);
    const auto it = results_arrays.find(results);
    if (it == results_arrays.end()) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "r%" PRIu64, it->second);
    return text;
}

void name_results(const void* results, std::uint64_t seq) {
    const std::lock_guard guard(names_lock);
    results_arrays[results] = seq;
}

Call::Call(Fn fn) : fn_(fn), errno_before_(errno) {
    if (!on()) {
        return;
    }
    active_ = true;
    seq_ = next_seq.fetch_add(1, std::memory_order_relaxed);
    if (thread_number == 0) {
        thread_number = next_thread.fetch_add(1, std::memory_order_relaxed);
    }
    within_ = current_call;
    current_call = seq_;
    start_us_ = micros_since_open();
    if (in_progress.fetch_add(1) != 0) {
        overlapped_ = true;
        overlap_epoch.fetch_add(1);
    }
    epoch_ = overlap_epoch.load();
}

Call::~Call() {
    if (active_) {
        in_progress.fetch_sub(1);
        current_call = within_;
    }
}

void Call::begin_line(Json& json, const Decision& decision, bool delayed) const {
    json.open_object();
    json.key("seq");
    json.unsigned_number(seq_);
    json.key("thread");
    json.number(thread_number);
    json.key("call");
    json.bytes(kFunctions[fn_].name);
    json.key("start_us");
    json.unsigned_number(start_us_);
    json.key("duration_us");
    json.unsigned_number(micros_since_open() - start_us_);
    json.key("overlapped");
    json.boolean(overlapped_ || overlap_epoch.load() != epoch_);
    json.key("within");
    if (within_ != 0) {
        json.unsigned_number(within_);
    } else {
        json.null();
    }
    json.key("fault");
    std::string fault = decision.kind == Decision::FailCall   ? "failed"
                        : decision.kind == Decision::FailItem ? "item " + std::to_string(decision.item)
                                                              : "";
    if (delayed) {
        fault += fault.empty() ? "delayed" : ", delayed";
    }
    if (fault.empty()) {
        json.null();
    } else {
        json.bytes(fault);
    }
}

void Call::write(Json& json) {
    json.text += '\n';
    const std::string& line = json.text;
    const std::lock_guard guard(write_lock);
    if (!on()) {
        return;
    }
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(journal_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            stop("cannot write it", n < 0 ? errno : ENOSPC);
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

ProgramCode::ProgramCode() noexcept : saved_(current_call) {
    current_call = 0;
}

ProgramCode::~ProgramCode() {
    current_call = saved_;
}

std::string open_from_environment() {
    const char* path = std::getenv("VELKFAULT_JOURNAL");
    if (path == nullptr || *path == '\0') {
        return {};
    }
    const char* mode = std::getenv("VELKFAULT_JOURNAL_VALUES");
    Values values = Values::Hash;
    if (mode != nullptr && *mode != '\0') {
        if (std::strcmp(mode, "full") == 0) {
            values = Values::Full;
        } else if (std::strcmp(mode, "none") == 0) {
            values = Values::None;
        } else if (std::strcmp(mode, "hash") != 0) {
            return std::string("VELKFAULT_JOURNAL_VALUES is '") + mode + "', not full, hash or none";
        }
    }
    journal_fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (journal_fd < 0) {
        return std::string("VELKFAULT_JOURNAL: cannot open ") + path + ": " + std::strerror(errno);
    }
    journal_values = static_cast<int>(values);
    opened = Clock::now();
    journal_on = true;
    Json header;
    header.open_object();
    header.key("journal");
    header.bytes("velkfault");
    header.key("version");
    header.number(1);
    header.key("values");
    header.bytes(values == Values::Full ? "full" : values == Values::Hash ? "hash" : "none");
    header.key("pid");
    header.number(getpid());
    header.close_object();
    Call::write(header);
    return {};
}

}  // namespace velkfault::journal
