// SPDX-License-Identifier: MIT
#include "journal/journal.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace velkfault::journal {
namespace {

// Counters that every process of one journal shares: four groups of eight
// hex digits, each in an aligned 64-bit word of the header as the file
// holds it (mapped into every process), so that they count up together and
// the header stays a line of JSON. A journal that is no regular file (a
// pipe, a terminal) keeps them in a shared page of its own, which forked
// children still share.
enum Counter { kSeq, kProcesses, kBusy, kStarts, kCounters };
constexpr const char* kCounterNames[kCounters] = {"seq", "processes", "busy", "starts"};
constexpr std::uint32_t kLastSeq = 0xffffffffU;

std::uint64_t* counter_slots[kCounters] = {};

constexpr std::uint64_t encode(std::uint32_t value) noexcept {
    constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t word = 0;
    for (int k = 0; k < 8; ++k) {  // the text's first digit is the word's first byte
        const auto digit = static_cast<unsigned char>(kHex[(value >> (4 * (7 - k))) & 15]);
        word |= static_cast<std::uint64_t>(digit) << (8 * k);
    }
    return word;
}

constexpr std::uint32_t decode(std::uint64_t word) noexcept {
    std::uint32_t value = 0;
    for (int k = 0; k < 8; ++k) {
        const auto c = static_cast<unsigned char>(word >> (8 * k));
        const std::uint32_t digit = c >= 'a' ? c - 'a' + 10U : c - '0';
        value = value << 4 | (digit & 15);
    }
    return value;
}

// Adds `delta` to a counter; returns what it held before.
std::uint32_t count(Counter counter, int delta) noexcept {
    std::atomic_ref<std::uint64_t> slot(*counter_slots[counter]);
    std::uint64_t old = slot.load(std::memory_order_relaxed);
    for (;;) {
        const std::uint32_t value = decode(old);
        if (delta == 0 || slot.compare_exchange_weak(old, encode(value + static_cast<std::uint32_t>(delta)),
                                                     std::memory_order_acq_rel)) {
            return value;
        }
    }
}

// The journal of this process. A write that fails stops it (one line on
// stderr): a call's answer never depends on its journal.
std::atomic<bool> journal_on{false};
std::atomic<int> journal_values{static_cast<int>(Values::Hash)};
int journal_fd = -1;
std::mutex write_lock;
std::uint64_t epoch_ns = 0;

// This process: its number, given at its first call, and where it came
// from when fork made it.
std::mutex process_lock;
std::atomic<std::uint32_t> process_number{0};
std::uint32_t forked_from = 0;
std::uint32_t forked_after = 0;
bool forked = false;

// How many forks made this process: a call begun before the last one is
// its parent's.
std::atomic<std::uint32_t> forks{0};

std::atomic<int> next_thread{1};
thread_local int thread_number = 0;
thread_local std::uint64_t current_call = 0;  // the seq of this thread's call in progress
thread_local int depth = 0;                   // this thread's calls in progress

std::mutex names_lock;
std::unordered_map<const void*, std::string> handles;  // address -> name
std::uint64_t next_handle = 1;
std::atomic<std::uint64_t> names_generation{1};
std::unordered_map<const void*, std::uint64_t> results_arrays;  // address -> the query's seq

std::uint64_t now_ns() noexcept {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// A journal that is a pipe or a device; a regular file raises no signal.
bool journal_is_stream = false;

// Around a write to a pipe whose reader may have gone: the SIGPIPE that
// write raises is taken back on this thread (unless one was pending
// already), so the program never sees it; the write fails with EPIPE.
class NoSigpipe {
public:
    explicit NoSigpipe(bool needed) noexcept : needed_(needed) {
        if (!needed_) {
            return;
        }
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        was_pending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~NoSigpipe() {
        if (!needed_) {
            return;
        }
        const int saved = errno;
        if (!was_pending_) {
            const timespec none{};
            while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
        errno = saved;
    }
    NoSigpipe(const NoSigpipe&) = delete;
    NoSigpipe& operator=(const NoSigpipe&) = delete;

private:
    bool needed_;
    bool was_pending_ = false;
    sigset_t pipe_{};
    sigset_t old_{};
};

void stop(const char* why, int error) {
    if (journal_on.exchange(false)) {
        const NoSigpipe quiet(true);  // stderr may be the pipe that broke
        std::fprintf(stderr, "libvelkfault: the journal stopped: %s: %s\n", why, std::strerror(error));
    }
}

bool write_all(int fd, std::string_view text) {
    const NoSigpipe quiet(journal_is_stream);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

const char* mode_name(Values mode) {
    return mode == Values::Full ? "full" : mode == Values::Hash ? "hash" : "none";
}

// The header of a new journal, its counters at offsets that are multiples
// of eight; `offsets` receives where each group of digits begins.
std::string header_text(Values mode, std::size_t offsets[kCounters]) {
    Json header;
    header.open_object();
    header.key("journal");
    header.bytes("velkfault");
    header.key("version");
    header.number(2);
    header.key("values");
    header.bytes(mode_name(mode));
    header.key("epoch_ns");
    header.unsigned_number(epoch_ns);
    header.key("pid");
    header.number(getpid());
    std::string text = header.text;
    for (int c = 0; c < kCounters; ++c) {
        text += ", \"";
        text += kCounterNames[c];
        text += "\": ";
        text.append((8 - (text.size() + 1) % 8) % 8, ' ');  // JSON allows the spaces
        text += '"';
        offsets[c] = text.size();
        text += "00000000\"";
    }
    text += "}\n";
    return text;
}

// Finds the counters in an existing journal's header and its epoch; an
// empty text when it is one of this version, else why not.
std::string read_header(std::string_view header, std::size_t offsets[kCounters]) {
    if (header.rfind("{\"journal\": \"velkfault\", \"version\": 2,", 0) != 0) {
        return "it is not a journal of this version of libvelkfault (remove it, or name another file)";
    }
    const std::size_t epoch = header.find("\"epoch_ns\": ");
    if (epoch == std::string_view::npos) {
        return "its header has no epoch_ns";
    }
    const char* digits = header.data() + epoch + 12;
    std::from_chars(digits, header.data() + header.size(), epoch_ns);
    for (int c = 0; c < kCounters; ++c) {
        const std::string name = std::string("\"") + kCounterNames[c] + "\": ";
        std::size_t at = header.find(name);
        if (at == std::string_view::npos) {
            return std::string("its header has no ") + kCounterNames[c];
        }
        at = header.find('"', at + name.size());
        if (at == std::string_view::npos || (at + 1) % 8 != 0 || at + 9 >= header.size()) {
            return std::string("its header's ") + kCounterNames[c] + " is not where it must be";
        }
        offsets[c] = at + 1;
    }
    return {};
}

// A page of counters of this process's own (and its forked children's).
bool own_counters() {
    void* page = mmap(nullptr, 64, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) {
        return false;
    }
    for (int c = 0; c < kCounters; ++c) {
        auto* slot = static_cast<std::uint64_t*>(page) + c;
        *slot = encode(0);
        counter_slots[c] = slot;
    }
    return true;
}

// A child made by fork starts its own counters, threads and handle names;
// the handles it inherited keep their maker's name, with its process in
// front. The locks were taken before the fork, so that no other thread of
// the parent held one in the child's copy.
void number_this_process();

void prepare_fork() {
    // A forked child that forks again before its first call (a daemon's
    // second fork) is numbered now: its own child is then known to come
    // from it, and the handles that child inherited keep their chain back
    // to the process that made them.
    if (journal_on && forked && process_number.load(std::memory_order_acquire) == 0) {
        number_this_process();
    }
    // Read here, in the parent: once forked, the parent's next call may
    // take the next number before the child has looked.
    forked_after = journal_on ? count(kSeq, 0) : 0;
    process_lock.lock();
    names_lock.lock();
    write_lock.lock();
}

void after_fork_in_parent() {
    write_lock.unlock();
    names_lock.unlock();
    process_lock.unlock();
}

void after_fork_in_child() {
    forks.fetch_add(1, std::memory_order_relaxed);
    const std::uint32_t parent = process_number.load(std::memory_order_relaxed);
    process_number = 0;
    forked = parent != 0;
    forked_from = parent;
    next_thread = 1;
    thread_number = 0;
    if (parent != 0) {
        for (auto& [address, name] : handles) {
            if (name.find('/') == std::string::npos) {
                std::string inherited = std::to_string(parent);
                inherited += '/';
                inherited += name;
                name = std::move(inherited);
            }
        }
    }
    next_handle = 1;
    names_generation.fetch_add(1);
    write_lock.unlock();
    names_lock.unlock();
    process_lock.unlock();
}

// The process line, written once, before the first line of a call.
void number_this_process() {
    const std::lock_guard guard(process_lock);
    if (process_number.load(std::memory_order_relaxed) != 0) {
        return;
    }
    const std::uint32_t number = count(kProcesses, 1) + 1;
    Json line;
    line.open_object();
    line.key("process");
    line.unsigned_number(number);
    line.key("pid");
    line.number(getpid());
    line.key("ppid");
    line.number(getppid());
    line.key("program");
    line.string(program_invocation_name);
    line.key("parent");
    if (forked) {
        line.unsigned_number(forked_from);
    } else {
        line.null();
    }
    line.key("forked_after");
    if (forked) {
        line.unsigned_number(forked_after);
    } else {
        line.null();
    }
    line.close_object();
    process_number.store(number, std::memory_order_release);
    write_line(line);
}

// The name of the handle at `client`, as this thread last saw it: a call
// names its handle without the lock while no handle is made or destroyed.
struct NameCache {
    const velk_client* client = nullptr;
    std::uint64_t generation = 0;
    std::string name;
};
thread_local NameCache name_cache;

}  // namespace

bool on() noexcept {
    return journal_on.load(std::memory_order_relaxed);
}

Values values() noexcept {
    return static_cast<Values>(journal_values.load(std::memory_order_relaxed));
}

std::string handle_name(const velk_client* client) {
    if (client == nullptr) {
        return "";
    }
    const std::uint64_t generation = names_generation.load(std::memory_order_acquire);
    if (name_cache.client == client && name_cache.generation == generation) {
        return name_cache.name;
    }
    const std::lock_guard guard(names_lock);
    const auto it = handles.find(client);
    // A handle the journal did not see made (made before it opened, or a
    // stray pointer): named by its address.
    if (it == handles.end()) {
        char text[32];
        std::snprintf(text, sizeof text, "%p", static_cast<const void*>(client));
        name_cache.name = text;
    } else {
        name_cache.name = it->second;
    }
    name_cache.client = client;
    name_cache.generation = names_generation.load(std::memory_order_relaxed);
    return name_cache.name;
}

void name_handle(const velk_client* client) {
    const std::lock_guard guard(names_lock);
    // Appended rather than added up: GCC 12 warns wrongly of an overlap
    // in "h" + text at -O3.
    std::string name = "h";
    name += std::to_string(next_handle++);
    handles[client] = std::move(name);
    names_generation.fetch_add(1, std::memory_order_release);
}

void forget_handle(const velk_client* client) {
    const std::lock_guard guard(names_lock);
    handles.erase(client);
    names_generation.fetch_add(1, std::memory_order_release);
}

std::string results_name(const void* results) {
    const std::lock_guard guard(names_lock);
    const auto it = results_arrays.find(results);
    if (it == results_arrays.end()) {
        return {};
    }
    std::string name = "r";
    name += std::to_string(it->second);
    return name;
}

void name_results(const void* results, std::uint64_t seq) {
    const std::lock_guard guard(names_lock);
    results_arrays[results] = seq;
}

Call::Call(Fn fn) : fn_(fn), errno_before_(errno) {
    if (!on()) {
        return;
    }
    if (process_number.load(std::memory_order_acquire) == 0) {
        number_this_process();
    }
    const std::uint32_t seq = count(kSeq, 1) + 1;
    if (seq == kLastSeq) {
        stop("it holds as many calls as it can number", EOVERFLOW);
        return;
    }
    active_ = true;
    forks_ = forks.load(std::memory_order_relaxed);
    seq_ = seq;
    if (thread_number == 0) {
        thread_number = next_thread.fetch_add(1, std::memory_order_relaxed);
    }
    within_ = current_call;
    current_call = seq_;
    outermost_ = depth++ == 0;
    start_ns_ = now_ns();
    // Another thread's (or process's) call in progress, or one that begins
    // before this one ends, overlaps it; a call this thread makes inside
    // its own does not.
    if (outermost_) {
        overlapped_ = count(kBusy, 1) != 0;
        starts_ = count(kStarts, 1) + 1;
    } else {
        overlapped_ = count(kBusy, 0) > 1;
        starts_ = count(kStarts, 0);
    }
}

Call::~Call() {
    if (active_) {
        --depth;
        current_call = within_;
        if (outermost_ && active()) {
            count(kBusy, -1);  // in a child forked during the call, the parent counts it down
        }
    }
}

bool Call::active() const noexcept {
    return active_ && forks_ == forks.load(std::memory_order_relaxed);
}

void Call::begin_line(Json& json, std::string_view handle, const Decision& decision,
                      std::span<const Drop> drops) const {
    const std::uint64_t end_ns = now_ns();
    const auto micros = [](std::uint64_t ns) {
        return ns > epoch_ns ? (ns - epoch_ns) / 1000 : 0;
    };
    json.open_object();
    json.key("seq");
    json.unsigned_number(seq_);
    json.key("process");
    json.unsigned_number(process_number.load(std::memory_order_relaxed));
    json.key("pid");
    json.number(getpid());
    json.key("thread");
    json.number(thread_number);
    json.key("handle");
    json.bytes(handle);
    json.key("call");
    json.bytes(kFunctions[fn_].name);
    json.key("start_us");
    json.unsigned_number(micros(start_ns_));
    json.key("duration_us");
    json.unsigned_number(micros(end_ns) - micros(start_ns_));
    json.key("overlapped");
    json.boolean(overlapped_ || count(kStarts, 0) != starts_);
    json.key("within");
    if (within_ != 0) {
        json.unsigned_number(within_);
    } else {
        json.null();
    }
    if (evicted_) {
        json.key("evicted");
        json.boolean(true);
    }
    // The plan's effect, for people ("fault") and for the replay ("plan"),
    // with the items the cache mode refused.
    const bool plan_drops = decision.kind == Decision::FailItem;
    const bool refused = drops.size() > (plan_drops ? 1U : 0U);
    std::string fault;
    if (decision.kind == Decision::FailCall) {
        fault = "failed";
    } else if (plan_drops) {
        fault = "item ";
        fault += std::to_string(decision.item);
    }
    if (decision.delay_us != 0) {
        fault += fault.empty() ? "delayed" : ", delayed";
    }
    json.key("fault");
    if (fault.empty()) {
        json.null();
    } else {
        json.bytes(fault);
    }
    json.key("plan");
    if (decision.kind == Decision::Pass && decision.delay_us == 0 && !refused) {
        json.null();
    } else {
        json.open_object();
        if (decision.kind == Decision::FailCall) {
            json.key("code");
            json.number(decision.code);
        } else if (decision.kind == Decision::FailItem) {
            json.key("item");
            json.number(decision.item);
            json.key("status");
            json.number(decision.code);
        }
        if (decision.delay_us != 0) {
            json.key("delay_us");
            json.unsigned_number(decision.delay_us);
        }
        if (refused) {
            json.key("refused");
            json.open_array();
            for (const Drop& drop : drops) {
                if (!plan_drops || drop.item != decision.item) {
                    json.number(drop.item);
                }
            }
            json.close_array();
        }
        json.close_object();
    }
}

void write_line(Json& json) {
    // The caller's errno stays as it was, whether the line went out or not.
    const int saved = errno;
    json.text += '\n';
    {
        const std::lock_guard guard(write_lock);
        if (on() && !write_all(journal_fd, json.text)) {
            stop("cannot write it", errno);
        }
    }
    errno = saved;
}

Json& line_buffer() {
    thread_local Json buffer;
    buffer.clear();
    return buffer;
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
    const std::string cannot = std::string("VELKFAULT_JOURNAL: cannot open ") + path + ": ";
    struct stat st {};
    const bool stream = ::stat(path, &st) == 0 && !S_ISREG(st.st_mode);
    if (stream) {
        // A pipe or a device: lines go on as they come, numbered by this
        // process and its forked children.
        journal_fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
        if (journal_fd < 0) {
            return cannot + std::strerror(errno);
        }
        journal_is_stream = true;
        epoch_ns = now_ns();
        std::size_t offsets[kCounters];
        if (!own_counters()) {
            return cannot + std::strerror(errno);
        }
        journal_values = static_cast<int>(values);
        journal_on = true;
        Json header;
        header.text = header_text(values, offsets);
        header.text.pop_back();
        write_line(header);
    } else {
        journal_fd = ::open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (journal_fd < 0) {
            return cannot + std::strerror(errno);
        }
        // One process at a time makes or reads the header.
        while (flock(journal_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        std::size_t offsets[kCounters];
        std::string problem;
        if (fstat(journal_fd, &st) == 0 && st.st_size == 0) {
            epoch_ns = now_ns();
            const std::string header = header_text(values, offsets);
            if (!write_all(journal_fd, header)) {
                problem = std::string("cannot write it: ") + std::strerror(errno);
            }
        } else {
            char first[4096];
            const ssize_t n = pread(journal_fd, first, sizeof first, 0);
            const std::string_view text(first, n > 0 ? static_cast<std::size_t>(n) : 0);
            problem = read_header(text.substr(0, text.find('\n')), offsets);
        }
        void* page = MAP_FAILED;
        if (problem.empty()) {
            page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, journal_fd, 0);
            if (page == MAP_FAILED) {
                problem = std::string("cannot map its header: ") + std::strerror(errno);
            }
        }
        flock(journal_fd, LOCK_UN);
        if (!problem.empty()) {
            ::close(journal_fd);
            journal_fd = -1;
            return std::string("VELKFAULT_JOURNAL: ") + path + ": " + problem;
        }
        for (int c = 0; c < kCounters; ++c) {
            counter_slots[c] = reinterpret_cast<std::uint64_t*>(static_cast<char*>(page) + offsets[c]);
        }
        journal_values = static_cast<int>(values);
        journal_on = true;
    }
    pthread_atfork(prepare_fork, after_fork_in_parent, after_fork_in_child);
    return {};
}

}  // namespace velkfault::journal
