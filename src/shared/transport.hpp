// SPDX-License-Identifier: MIT
// The bytes between a handle and its server: requests written in the
// server's protocol, a socket of our own, and hiredis's parser for the
// answers. The library does its own socket work so that it stays a guest in
// its caller's process: every socket is born close-on-exec, a write to a
// closed connection never raises SIGPIPE (MSG_NOSIGNAL, whatever the
// process's disposition), and every wait takes what is left of one deadline
// per call, never a fresh time-out per read.
#pragma once

#include <hiredis/hiredis.h>
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shared/endpoint.hpp"

namespace velkshared {

using Clock = std::chrono::steady_clock;

// When a call must have its answer: set once when the call starts.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds budget) noexcept
        : at_(Clock::now() + budget), budget_(budget) {}
    // What one connection attempt may take of it (connecting, signing in,
    // the first answer): a share, so that a node that accepts and then
    // says nothing (a paused machine, a partition) leaves the rest for the
    // others; never past this deadline, and all of it when the share would
    // reach it anyway.
    [[nodiscard]] Deadline share() const noexcept;
    // How long a share is.
    [[nodiscard]] std::chrono::milliseconds share_length() const noexcept;
    // What is left for one wait, in whole milliseconds rounded up; 0 once
    // the deadline has passed.
    [[nodiscard]] int remaining_ms() const noexcept;
    [[nodiscard]] bool passed() const noexcept { return Clock::now() >= at_; }
    [[nodiscard]] Clock::time_point at() const noexcept { return at_; }
    [[nodiscard]] std::chrono::milliseconds budget() const noexcept { return budget_; }

private:
    Deadline(Clock::time_point at, std::chrono::milliseconds budget) noexcept : at_(at), budget_(budget) {}

    Clock::time_point at_;
    std::chrono::milliseconds budget_;
};

// Keeps errno as the caller had it, for as long as it lives: a call leaves
// the caller's errno alone unless its contract says otherwise (only a create
// that fails sets it), and the socket work below it leaves EAGAIN and the
// like behind.
class KeepErrno {
public:
    KeepErrno() noexcept : saved_(errno) {}
    ~KeepErrno() { errno = saved_; }
    KeepErrno(const KeepErrno&) = delete;
    KeepErrno& operator=(const KeepErrno&) = delete;

private:
    int saved_;
};

// The text of the last failure of this thread's calls (empty before any).
// Kept in a buffer of the thread's own: setting it never allocates, so it
// cannot fail and leaves nothing behind.
void set_last_error(std::string_view text) noexcept;
void set_last_error(std::string_view first, std::string_view second, std::string_view third = {},
                    std::string_view fourth = {}) noexcept;
const char* last_error() noexcept;

// One or more commands in the server's protocol, ready to go out in one
// write. Short arguments are copied into one buffer; long ones go out from
// where they lie, so a value is never copied on its way to the server. The
// memory of a long argument must outlive the request.
class Request {
public:
    // Starts a command of `arguments` arguments.
    void begin(std::size_t arguments);
    void add(std::string_view argument);
    // An argument of `length` bytes given in pieces: begin_argument(), then
    // append() until `length` bytes came, then end_argument().
    void begin_argument(std::size_t length);
    void append(std::string_view piece);
    void end_argument() { buffer_ += "\r\n"; }
    // An argument copied whole, whatever its length (for bytes that do not
    // outlive the call).
    void add_copy(std::string_view argument);
    // A whole command of the given words.
    void command(std::initializer_list<std::string_view> words);
    [[nodiscard]] std::size_t commands() const noexcept { return commands_; }
    [[nodiscard]] bool empty() const noexcept { return commands_ == 0; }
    // Empties it, keeping its memory for the next request.
    void clear() noexcept;

private:
    friend class Link;
    struct Borrowed {
        std::size_t at;  // where in buffer_ it goes
        const char* bytes;
        std::size_t length;
    };
    std::string buffer_;
    std::vector<Borrowed> borrowed_;
    std::size_t commands_ = 0;
};

struct ReplyFree {
    void operator()(redisReply* reply) const noexcept;
};
using Reply = std::unique_ptr<redisReply, ReplyFree>;

// One connection to one server: its socket and the parser of its answers.
// Failures come back as codes with a text in last_error():
//   -ENOTCONN  no connection (refused, unreachable, not within the deadline)
//   -ETIMEDOUT no answer before the deadline, or the connection closed or
//              broke while a request was out: its outcome is unknown
//   -EPROTO    the answer was not the server's protocol
// After any of them the link is closed. Only a std::bad_alloc is thrown,
// and only before anything was sent; memory that runs out while an answer
// is read closes the link too (-ETIMEDOUT, the answer is lost).
class Link {
public:
    Link() = default;
    ~Link() { close(); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    int connect(const Endpoint& endpoint, const Deadline& deadline);
    [[nodiscard]] bool is_open() const noexcept { return fd_ >= 0; }
    // Whether the server has closed its side (or sent something nobody
    // asked for) since the last answer: a link to drop before a request.
    [[nodiscard]] bool stale() const noexcept;
    // Whether stale() must be asked before each request. Over TCP a request
    // written to a closed connection goes out into nothing; a Unix socket
    // refuses it (send() answers -ENOTCONN below, nothing sent), so there a
    // system call per request is saved.
    [[nodiscard]] bool probe_before_use() const noexcept { return !local_; }
    // The process that opened it: after fork() the socket is the parent's.
    [[nodiscard]] pid_t owner() const noexcept { return owner_; }
    [[nodiscard]] const std::string& where() const noexcept { return where_; }
    // Closes the socket; in a child after fork() only the child's copy, so
    // the parent's connection is left as it is and nothing is sent.
    void close() noexcept;
    // In a child after fork(), when a thread the child does not have may
    // have been using it: closes the child's copy of the socket and lets go
    // of the parser (and its text) unfreed, since they may be half changed.
    void abandon() noexcept;

    // 0; -ENOTCONN when the server had closed the connection before any
    // byte of the request went out (so sending it again elsewhere is
    // safe); else a failure as above.
    int send(const Request& request, const Deadline& deadline);
    int receive(Reply& reply, const Deadline& deadline);

private:
    int fail(int status, std::string_view what, std::string_view detail = {},
             std::string_view more = {}) noexcept;
    // Until the socket is ready for `events` (true) or the deadline passes.
    bool wait_for(short events, const Deadline& deadline) noexcept;

    int fd_ = -1;
    bool local_ = false;  // a Unix socket
    pid_t owner_ = 0;
    redisReader* reader_ = nullptr;
    std::string where_;
};

}  // namespace velkshared
