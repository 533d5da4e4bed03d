// SPDX-License-Identifier: MIT
#include "velk_journal/input.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "velkmock.h"

namespace velkjournal {
namespace {

// What simdjson says of a line that is no JSON.
std::string no_json(simdjson::error_code error) {
    return std::string("not JSON: ") + simdjson::error_message(error);
}

}  // namespace

std::string Where::path() const {
    std::vector<const Where*> chain;
    for (const Where* w = this; w != nullptr; w = w->parent) {
        chain.push_back(w);
    }
    std::string out;
    std::reverse(chain.begin(), chain.end());
    for (const Where* w : chain) {
        if (w->name != nullptr) {
            if (!out.empty()) {
                out += '.';
            }
            out += w->name;
        } else if (w->index >= 0) {
            out += cat("[", w->index, "]");
        }
    }
    return out;
}

void refuse(std::size_t line, const Where& where, const std::string& why) {
    const std::string path = where.path();
    throw Trouble{cat("line ", line) + ": " + (path.empty() ? "" : path + ": ") + why};
}

Members::Members(element object) noexcept : valid_(object.get_object().get(object_) == simdjson::SUCCESS) {
    if (valid_) {
        next_ = object_.begin();
        end_ = object_.end();
    }
}

bool Members::take(std::string_view name, element& out) {
    if (!valid_) {
        return false;
    }
    if (next_ != end_ && next_.key() == name && searched_.empty()) {
        out = next_.value();
        ++next_;
        ++in_order_;
        return true;
    }
    if (object_.at_key(name).get(out) != simdjson::SUCCESS) {
        return false;
    }
    searched_.push_back(name);
    return true;
}

bool LineReader::find(element object, const char* name, element& out) noexcept {
    simdjson::dom::object members;
    if (object.get_object().get(members) != simdjson::SUCCESS) {
        return false;
    }
    return members.at_key(name).get(out) == simdjson::SUCCESS;
}

element LineReader::member(element object, const char* name, const Where& where) const {
    if (!object.is_object()) {
        refuse(where, "expected an object");
    }
    element out;
    if (!find(object, name, out)) {
        refuse(Where{&where, name}, "missing");
    }
    return out;
}

template <class T>
T LineReader::integer(element value, const Where& where) const {
    std::int64_t signed_value = 0;
    std::uint64_t unsigned_value = 0;
    if (value.get_int64().get(signed_value) == simdjson::SUCCESS) {
        if (std::in_range<T>(signed_value)) {
            return static_cast<T>(signed_value);
        }
        refuse(where, std::to_string(signed_value) + " is out of range here");
    }
    if (value.get_uint64().get(unsigned_value) == simdjson::SUCCESS) {
        if (std::in_range<T>(unsigned_value)) {
            return static_cast<T>(unsigned_value);
        }
        refuse(where, std::to_string(unsigned_value) + " is out of range here");
    }
    refuse(where, "expected a whole number");
}

template std::int32_t LineReader::integer<std::int32_t>(element, const Where&) const;
template std::uint32_t LineReader::integer<std::uint32_t>(element, const Where&) const;
template std::int64_t LineReader::integer<std::int64_t>(element, const Where&) const;
template std::uint64_t LineReader::integer<std::uint64_t>(element, const Where&) const;

bool real_of(element value, double& out) noexcept {
    std::string_view word;
    // A number, whole ones included (simdjson gives any number as a double).
    if (value.get_double().get(out) == simdjson::SUCCESS) {
        return true;
    }
    if (value.get_string().get(word) != simdjson::SUCCESS) {
        return false;
    }
    if (word == "inf" || word == "-inf") {
        out = word == "inf" ? std::numeric_limits<double>::infinity()
                            : -std::numeric_limits<double>::infinity();
        return true;
    }
    if (word == "nan") {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (word.size() != 20 || word.substr(0, 4) != "nan:") {
        return false;
    }
    std::uint64_t bits = 0;
    for (const char c : word.substr(4)) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) {
            return false;
        }
        bits = bits << 4 | static_cast<std::uint64_t>(digit);
    }
    out = std::bit_cast<double>(bits);
    return out != out;  // the bits of a NaN, and of nothing else
}

double LineReader::real(element value, const Where& where) const {
    double out = 0;
    if (!real_of(value, out)) {
        refuse(where, "expected a number, \"inf\", \"-inf\", \"nan\" or \"nan:\" and 16 hex digits");
    }
    return out;
}

bool LineReader::boolean(element value, const Where& where) const {
    bool out = false;
    if (value.get_bool().get(out) != simdjson::SUCCESS) {
        refuse(where, "expected true or false");
    }
    return out;
}

bool LineReader::is_given(element value) noexcept {
    std::string_view text;
    return value.get_string().get(text) == simdjson::SUCCESS && text == "given";
}

std::string_view LineReader::text(element value, const Where& where, std::string& storage) const {
    std::string_view out;
    if (value.get_string().get(out) == simdjson::SUCCESS) {
        return out;
    }
    simdjson::dom::object object;
    element encoded;
    std::string_view digits;
    if (value.get_object().get(object) == simdjson::SUCCESS && object.size() == 1 &&
        object.at_key("base64").get(encoded) == simdjson::SUCCESS &&
        encoded.get_string().get(digits) == simdjson::SUCCESS) {
        if (!base64_decode(digits, storage)) {
            refuse(Where{&where, "base64"}, "not base64");
        }
        return storage;
    }
    refuse(where, "expected a text (a string, or {\"base64\": ...})");
}

namespace {

// Each byte's six bits as a base64 digit, or 64 for a byte that is none.
constexpr auto kDigitValues = [] {
    std::array<unsigned char, 256> values{};
    values.fill(64);
    for (int i = 0; i < 64; ++i) {
        values[static_cast<unsigned char>(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[i])] =
            static_cast<unsigned char>(i);
    }
    return values;
}();

}  // namespace

// Four digits at a time into three bytes; the group at the end may be cut
// short by padding, whose bits must be zero (one text per value).
bool base64_decode(std::string_view text, std::string& out) {
    std::size_t n = text.size();
    while (n > 0 && text[n - 1] == '=' && text.size() - n < 2) {
        --n;
    }
    const std::size_t padding = text.size() - n;
    if ((padding != 0 && text.size() % 4 != 0) || n % 4 == 1) {
        return false;
    }
    const auto* digits = reinterpret_cast<const unsigned char*>(text.data());
    out.resize(n / 4 * 3 + (n % 4 == 0 ? 0 : n % 4 - 1));
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const unsigned a = kDigitValues[digits[i]];
        const unsigned b = kDigitValues[digits[i + 1]];
        const unsigned c = kDigitValues[digits[i + 2]];
        const unsigned d = kDigitValues[digits[i + 3]];
        if ((a | b | c | d) >= 64) {
            return false;
        }
        const unsigned chunk = a << 18 | b << 12 | c << 6 | d;
        *bytes++ = static_cast<unsigned char>(chunk >> 16);
        *bytes++ = static_cast<unsigned char>(chunk >> 8);
        *bytes++ = static_cast<unsigned char>(chunk);
    }
    if (i < n) {
        unsigned chunk = 0;
        const std::size_t left = n - i;
        for (std::size_t k = 0; k < left; ++k) {
            const unsigned value = kDigitValues[digits[i + k]];
            if (value >= 64) {
                return false;
            }
            chunk |= value << (18 - 6 * k);
        }
        if ((chunk & (left == 2 ? 0xffffU : 0xffU)) != 0) {
            return false;  // bits past the last byte
        }
        *bytes++ = static_cast<unsigned char>(chunk >> 16);
        if (left == 3) {
            *bytes++ = static_cast<unsigned char>(chunk >> 8);
        }
    }
    return true;
}

Journal::Journal(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        throw Trouble{"cannot read " + path + ": " + std::strerror(error)};
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        // Mapped where the file lies, over room that reaches past its end
        // by the padding the parser may read beyond each line (the bytes
        // of the file's last page past its end read as zeros).
        size_ = static_cast<std::size_t>(st.st_size);
        mapped_ = size_ + simdjson::SIMDJSON_PADDING;
        void* room = mmap(nullptr, mapped_, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        void* file = room == MAP_FAILED
                         ? MAP_FAILED
                         : mmap(room, size_, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0);
        const int error = errno;
        ::close(fd);
        if (file == MAP_FAILED) {
            if (room != MAP_FAILED) {
                munmap(room, mapped_);
            }
            throw Trouble{"cannot read " + path + ": " + std::strerror(error)};
        }
        text_ = static_cast<const char*>(file);
        index(path);
        return;
    }
    // A pipe or an empty file: as much as comes.
    std::string content;
    char chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw Trouble{"cannot read " + path + ": " + std::strerror(error)};
        }
        if (n == 0) {
            break;
        }
        content.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    keep(content);
    index(path);
}

Journal::~Journal() {
    if (mapped_ != 0) {
        munmap(const_cast<char*>(text_), mapped_);
    }
}

Journal::Journal(std::string_view text, const std::string& name) {
    keep(text);
    index(name);
}

void Journal::keep(std::string_view content) {
    size_ = content.size();
    buffer_ = std::make_unique_for_overwrite<char[]>(size_ + simdjson::SIMDJSON_PADDING);
    std::memcpy(buffer_.get(), content.data(), size_);
    std::memset(buffer_.get() + size_, ' ', simdjson::SIMDJSON_PADDING);
    text_ = buffer_.get();
}

namespace {

// The index reads only the members at the head of each line, with
// simdjson's On-Demand parser, which skips the rest unparsed: each line is
// parsed whole once, when its call is made (or drawn).
namespace od = simdjson::ondemand;

class HeadReader {
public:
    explicit HeadReader(std::size_t line) : line_(line) {}
    [[noreturn]] void refuse(const char* name, const std::string& why) const {
        const Where top;
        velkjournal::refuse(line_, name != nullptr ? Where{&top, name} : top, why);
    }
    void check(simdjson::error_code error, const char* name) const {
        if (error == simdjson::SUCCESS) {
            return;
        }
        if (error == simdjson::INCORRECT_TYPE) {
            refuse(name, "expected " + std::string(expected_));
        }
        if (error == simdjson::NUMBER_OUT_OF_RANGE) {
            refuse(name, "a number out of range here");
        }
        refuse(nullptr, std::string("not JSON: ") + simdjson::error_message(error));
    }
    template <class T>
    T integer(od::value value, const char* name) {
        expected_ = "a whole number";
        std::int64_t signed_value = 0;
        std::uint64_t unsigned_value = 0;
        od::json_type kind{};
        check(value.type().get(kind), name);
        if (kind != od::json_type::number) {
            refuse(name, "expected a whole number");
        }
        od::number_type type{};
        check(value.get_number_type().get(type), name);
        if (type == od::number_type::signed_integer) {
            check(value.get_int64().get(signed_value), name);
            if (std::in_range<T>(signed_value)) {
                return static_cast<T>(signed_value);
            }
            refuse(name, std::to_string(signed_value) + " is out of range here");
        }
        if (type == od::number_type::unsigned_integer) {
            check(value.get_uint64().get(unsigned_value), name);
            if (std::in_range<T>(unsigned_value)) {
                return static_cast<T>(unsigned_value);
            }
            refuse(name, std::to_string(unsigned_value) + " is out of range here");
        }
        refuse(name, "expected a whole number");
    }
    std::string text(od::value value, const char* name) {
        expected_ = "a text";
        std::string_view out;
        od::json_type type{};
        check(value.type().get(type), name);
        if (type == od::json_type::string) {
            check(value.get_string().get(out), name);
            return std::string(out);
        }
        // Bytes that are not UTF-8: {"base64": ...}.
        od::object object;
        check(value.get_object().get(object), name);
        std::string_view digits;
        check(object["base64"].get_string().get(digits), name);
        std::string bytes;
        if (!base64_decode(digits, bytes)) {
            refuse(name, "not base64");
        }
        return bytes;
    }
    bool boolean(od::value value, const char* name) {
        expected_ = "true or false";
        bool out = false;
        check(value.get_bool().get(out), name);
        return out;
    }
    bool is_null(od::value value, const char* name) {
        bool null = false;
        check(value.is_null().get(null), name);
        return null;
    }

private:
    std::size_t line_;
    const char* expected_ = "";
};

}  // namespace

void Journal::index(const std::string& path) {
    od::parser heads;
    std::string head_buffer;
    std::size_t number = 0;
    bool header = false;
    for (std::size_t at = 0; at < size_;) {
        const char* begin = text_ + at;
        const void* newline = std::memchr(begin, '\n', size_ - at);
        const std::size_t length = newline != nullptr
                                       ? static_cast<std::size_t>(static_cast<const char*>(newline) - begin)
                                       : size_ - at;
        at += length + 1;
        ++number;
        HeadReader reader(number);
        // A call's line, as the journal writes it, begins with the members
        // the index reads, up to "fault": that head, closed, is parsed in
        // place of the whole line (which is parsed when its call is made).
        // A line of any other shape is read whole.
        const char* head = begin;
        std::size_t head_length = length;
        constexpr std::string_view kFault = ", \"fault\": ";
        if (header && std::string_view(begin, length).rfind("{\"seq\": ", 0) == 0) {
            const std::string_view start(begin, std::min<std::size_t>(length, 1024));
            if (const std::size_t cut = start.find(kFault); cut != std::string_view::npos) {
                head_buffer.assign(begin, cut);
                head_buffer += '}';
                head_buffer.append(simdjson::SIMDJSON_PADDING, ' ');
                head = head_buffer.data();
                head_length = cut + 1;
            }
        }
        enum Kind { kUnknown, kCall, kProcess, kHeader } kind = kUnknown;
        CallLine call;
        Process process;
        std::string journal;
        std::int64_t version = 0;
        std::string values;
        bool seq = false;
        bool has_process = false;
        bool thread = false;
        bool handle = false;
        bool start = false;
        bool duration = false;
        bool within = false;
        bool pid = false;
        // The head's members, read from `text`: a Trouble for a line that
        // is not one.
        const auto read = [&](const char* text, std::size_t text_length) {
            od::document document;
            reader.check(heads
                             .iterate(simdjson::padded_string_view(text, text_length,
                                                                   text_length + simdjson::SIMDJSON_PADDING))
                             .get(document),
                         nullptr);
            od::object line;
            od::json_type type{};
            reader.check(document.type().get(type), nullptr);
            if (type != od::json_type::object) {
                reader.refuse(nullptr, "expected an object");
            }
            reader.check(document.get_object().get(line), nullptr);
            for (auto member : line) {
                std::string_view key;
                reader.check(member.unescaped_key().get(key), nullptr);
                od::value value;
                reader.check(member.value().get(value), nullptr);
                if (!header) {
                    // The first line is the header, whose counters are not the
                    // members of a call.
                    if (key == "journal") {
                        kind = kHeader;
                        journal = reader.text(value, "journal");
                    } else if (key == "version") {
                        version = reader.integer<std::int64_t>(value, "version");
                    } else if (key == "values") {
                        values = reader.text(value, "values");
                    }
                } else if (key == "journal") {
                    reader.refuse("journal",
                                  "a second journal's header: a journal that is a pipe or a terminal holds "
                                  "one program (and its forked children), whose calls alone it numbers");
                } else if (key == "call") {
                    kind = kCall;
                    const std::string name = reader.text(value, "call");
                    const int fn = velkfault::find_function(name);
                    if (fn < 0) {
                        reader.refuse("call", "'" + name + "' is none of the 28 functions");
                    }
                    call.fn = static_cast<velkfault::Fn>(fn);
                } else if (key == "seq") {
                    call.seq = reader.integer<std::uint64_t>(value, "seq");
                    seq = true;
                } else if (key == "process") {
                    if (kind == kUnknown && !seq) {
                        kind = kProcess;
                    }
                    const auto n = reader.integer<std::uint32_t>(value, "process");
                    call.process = n;
                    process.number = n;
                    has_process = true;
                } else if (key == "pid") {
                    process.pid = reader.integer<std::int64_t>(value, "pid");
                    pid = true;
                } else if (key == "thread") {
                    call.thread = reader.integer<std::uint32_t>(value, "thread");
                    thread = true;
                } else if (key == "handle") {
                    call.handle = reader.text(value, "handle");
                    handle = true;
                } else if (key == "start_us") {
                    call.start_us = reader.integer<std::uint64_t>(value, "start_us");
                    start = true;
                } else if (key == "duration_us") {
                    call.duration_us = reader.integer<std::uint64_t>(value, "duration_us");
                    duration = true;
                } else if (key == "within") {
                    within = true;
                    if (!reader.is_null(value, "within")) {
                        call.within = reader.integer<std::uint64_t>(value, "within");
                    }
                } else if (key == "evicted") {
                    call.evicted = reader.boolean(value, "evicted");
                } else if (key == "program") {
                    if (!reader.is_null(value, "program")) {
                        process.program = reader.text(value, "program");
                    }
                } else if (key == "parent") {
                    if (!reader.is_null(value, "parent")) {
                        process.parent = reader.integer<std::uint32_t>(value, "parent");
                    }
                } else if (key == "forked_after") {
                    if (!reader.is_null(value, "forked_after")) {
                        process.forked_after = reader.integer<std::uint64_t>(value, "forked_after");
                    }
                } else if (kind == kCall && seq && has_process && thread && handle && start && duration &&
                           within) {
                    break;  // the rest is the call's own, read when it is made
                }
            }
        };
        // What the head does not hold whole (a line of another shape), the
        // whole line tells.
        const auto reset = [&] {
            kind = kUnknown;
            call = CallLine();
            process = Process();
            seq = has_process = thread = handle = start = duration = within = pid = false;
        };
        if (head != begin) {
            try {
                read(head, head_length);
            } catch (const Trouble&) {
                reset();
                read(begin, length);
            }
        } else {
            read(begin, length);
        }
        if (!header) {
            if (kind != kHeader || journal != "velkfault") {
                throw Trouble{path +
                              " is no journal of libvelkfault's (its first line is no journal header)"};
            }
            if (version != 2) {
                throw Trouble{path + cat(" is a journal of version ", version) +
                              ", which this velk-journal does not read: record it again"};
            }
            values_ = values;
            header = true;
            continue;
        }
        if (kind == kProcess) {
            if (!pid) {
                reader.refuse("pid", "missing");
            }
            // A process is numbered at its first call, after the one it was
            // forked from.
            if (process.parent >= process.number && process.parent != 0) {
                reader.refuse("parent", "a process is forked only from one numbered before it");
            }
            if (process.number == 0 || !processes_.emplace(process.number, process).second) {
                reader.refuse("process", cat("process ", process.number) +
                                             (process.number == 0 ? " cannot be" : " has two lines"));
            }
            continue;
        }
        if (kind != kCall) {
            reader.refuse(nullptr, "neither a call's line nor a process's");
        }
        const std::pair<bool, const char*> required[] = {
            {seq, "seq"},        {has_process, "process"},  {thread, "thread"}, {handle, "handle"},
            {start, "start_us"}, {duration, "duration_us"}, {within, "within"}};
        for (const auto& [present, name] : required) {
            if (!present) {
                reader.refuse(name, "missing");
            }
        }
        if (call.evicted && call.within == 0) {
            reader.refuse("evicted", "the cache mode evicts within a put, and this call is within none");
        }
        if (call.within != 0 && call.within >= call.seq) {
            reader.refuse("within", "a call can only be made within one that began before it");
        }
        call.line = number;
        call.text = std::string_view(begin, length);
        calls_.push_back(std::move(call));
    }
    if (!header) {
        throw Trouble{path + " is empty: no journal header"};
    }
    std::stable_sort(calls_.begin(), calls_.end(),
                     [](const CallLine& a, const CallLine& b) { return a.seq < b.seq; });
    const Where top;
    // How deep each call lies within others: a library nests its own calls
    // a few levels at most, and the replay follows them by recursion.
    constexpr std::uint32_t kDeepest = 64;
    std::vector<std::uint32_t> depth(calls_.size(), 0);
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        const CallLine& call = calls_[i];
        const LineReader reader(call.line);
        if (i > 0 && calls_[i - 1].seq == call.seq) {
            reader.refuse(Where{&top, "seq"},
                          cat("call ", call.seq) + " is also on line " + std::to_string(calls_[i - 1].line));
        }
        if (processes_.count(call.process) == 0) {
            reader.refuse(Where{&top, "process"}, cat("process ", call.process) + " has no line of its own");
        }
        if (call.within != 0) {
            const std::ptrdiff_t outer = find(call.within);
            if (outer < 0) {
                reader.refuse(Where{&top, "within"}, cat("the journal holds no call ", call.within));
            }
            if (calls_[static_cast<std::size_t>(outer)].process != call.process) {
                reader.refuse(Where{&top, "within"}, "a call of another process");
            }
            depth[i] = depth[static_cast<std::size_t>(outer)] + 1;
            if (depth[i] > kDeepest) {
                reader.refuse(Where{&top, "within"}, cat("calls nested more than ", kDeepest, " deep"));
            }
            const velkfault::Fn put = calls_[static_cast<std::size_t>(outer)].fn;
            if (call.evicted && (call.fn != velkfault::kBatchDeleteItems ||
                                 (put != velkfault::kBatchPut && put != velkfault::kLlBatchPut))) {
                reader.refuse(Where{&top, "evicted"},
                              "the cache mode evicts with velk_batch_delete_items, within a put");
            }
            calls_[static_cast<std::size_t>(outer)].inner.push_back(i);
        }
    }
}

std::ptrdiff_t Journal::find(std::uint64_t seq) const {
    const auto it = std::lower_bound(calls_.begin(), calls_.end(), seq,
                                     [](const CallLine& call, std::uint64_t s) { return call.seq < s; });
    return it != calls_.end() && it->seq == seq ? it - calls_.begin() : -1;
}

element Journal::parse(const CallLine& call) {
    element line;
    if (const auto error = parser_.parse(call.text.data(), call.text.size(), false).get(line);
        error != simdjson::SUCCESS) {
        refuse(call.line, Where{}, no_json(error));
    }
    return line;
}

namespace {

// The items the cache mode kept from a put, in order, merged with the one
// the plan dropped.
void refused_items(const LineReader& reader, element list, const Where& at, velkfault::Fn fn, Planned& out) {
    if (fn != velkfault::kBatchPut && fn != velkfault::kLlBatchPut) {
        reader.refuse(at, std::string("the cache mode refuses items of puts, not of ") +
                              velkfault::kFunctions[fn].name);
    }
    if (out.decision.kind == velkfault::Decision::FailCall) {
        reader.refuse(at, "a call the plan answered was given no items to refuse");
    }
    simdjson::dom::array items;
    if (list.get_array().get(items) != simdjson::SUCCESS) {
        reader.refuse(at, "expected an array of items");
    }
    std::vector<velkfault::Drop> refused;
    std::int64_t index = 0;
    for (const element item : items) {
        const Where here{&at, nullptr, index++};
        const auto number = reader.integer<std::int32_t>(item, here);
        if (number < 0 || (!refused.empty() && number <= refused.back().item)) {
            reader.refuse(here, "the refused items are distinct indexes, in order");
        }
        if (out.dropped() && number == out.drops.front().item) {
            reader.refuse(here, cat("item ", number) + " is the one the plan dropped");
        }
        refused.push_back(velkfault::Drop{number, VELK_ERR_NO_MEMORY});
    }
    std::vector<velkfault::Drop> merged(out.drops.size() + refused.size());
    std::merge(out.drops.begin(), out.drops.end(), refused.begin(), refused.end(), merged.begin(),
               [](const velkfault::Drop& a, const velkfault::Drop& b) { return a.item < b.item; });
    out.drops = std::move(merged);
}

}  // namespace

Planned planned(const LineReader& reader, element line, velkfault::Fn fn) {
    using velkfault::Decision;
    const Where top;
    const Where at{&top, "plan"};
    Planned out;
    element plan;
    if (!LineReader::find(line, "plan", plan) || plan.is_null()) {
        return out;
    }
    element member;
    if (LineReader::find(plan, "delay_us", member)) {
        out.decision.delay_us = reader.integer<std::uint32_t>(member, Where{&at, "delay_us"});
    }
    const velkfault::Returns returns = velkfault::kFunctions[fn].returns;
    if (LineReader::find(plan, "code", member)) {
        if (returns == velkfault::Returns::Nothing || returns == velkfault::Returns::Text) {
            reader.refuse(at, std::string(velkfault::kFunctions[fn].name) + " cannot fail");
        }
        out.decision.kind = Decision::FailCall;
        out.decision.code = reader.integer<std::int32_t>(member, Where{&at, "code"});
        if (returns == velkfault::Returns::Handle &&
            out.decision.code == std::numeric_limits<std::int32_t>::min()) {
            reader.refuse(Where{&at, "code"}, "a create cannot fail with a code that has no errno");
        }
    } else if (LineReader::find(plan, "item", member)) {
        if (!velkfault::kFunctions[fn].per_item) {
            reader.refuse(at, std::string(velkfault::kFunctions[fn].name) + " takes no per-item failures");
        }
        out.decision.kind = Decision::FailItem;
        out.decision.item = reader.integer<std::int32_t>(member, Where{&at, "item"});
        out.decision.code =
            reader.integer<std::int32_t>(reader.member(plan, "status", at), Where{&at, "status"});
        if (out.decision.item < 0) {
            reader.refuse(Where{&at, "item"}, "an item's index is not negative");
        }
        out.drops.push_back(velkfault::Drop{out.decision.item, out.decision.code});
    }
    if (LineReader::find(plan, "refused", member)) {
        refused_items(reader, member, Where{&at, "refused"}, fn, out);
    }
    return out;
}

}  // namespace velkjournal
