// SPDX-License-Identifier: MIT
// One connection to the server, as a handle owns it. A hiredis context is
// not thread-safe, so every request holds the connection's lock; the lock
// is never held while a caller's code runs.
//
// A call the server cannot complete answers a negative errno value:
//   -ENOTCONN  the server could not be reached; nothing was sent
//   -ETIMEDOUT no answer in time, or the connection broke after the request
//              went out: it may or may not have taken effect
//   -EPROTO    the server refused the request (its text: last_error())
#pragma once

#include <hiredis/hiredis.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "shared/endpoint.hpp"

namespace velkshared {

struct ReplyFree {
    void operator()(redisReply* reply) const noexcept { freeReplyObject(reply); }
};
using Reply = std::unique_ptr<redisReply, ReplyFree>;

// The text of the last refusal seen by this thread (empty before any).
void set_last_error(std::string_view text);
const char* last_error() noexcept;

enum class Script { Write, Read };

// The arguments of one command, pointing into memory that outlives the call.
class Command {
public:
    void reserve(std::size_t n) {
        argv_.reserve(n);
        lens_.reserve(n);
    }
    void add(std::string_view arg) {
        argv_.push_back(arg.data() != nullptr ? arg.data() : "");
        lens_.push_back(arg.size());
    }
    [[nodiscard]] std::size_t size() const noexcept { return argv_.size(); }
    [[nodiscard]] const char** argv() noexcept { return argv_.data(); }
    [[nodiscard]] const std::size_t* lens() const noexcept { return lens_.data(); }

private:
    std::vector<const char*> argv_;
    std::vector<std::size_t> lens_;
};

// The connection of one handle. On a cluster it follows the server: a call
// that meets MOVED goes to the node named, which the connection then keeps
// (a redirected request did not run, so sending it again is safe); ASK is
// followed for that one call, with ASKING first; TRYAGAIN and CLUSTERDOWN
// are tried again until the time-out (then -ETIMEDOUT). When the node it
// keeps cannot be reached, it starts again from the URL's node. A
// standalone server never answers any of these.
class Connection {
public:
    Connection(Endpoint endpoint, std::chrono::milliseconds timeout) noexcept
        : seed_(endpoint), target_(std::move(endpoint)), timeout_(timeout) {}
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects now (a create wants to know at once); 0 or a code.
    int open();

    // Runs a script with `keys` and `args`; 0 with the answer in `reply`, or
    // a code. A reply that is the server's error is -EPROTO.
    int run(Script script, const std::vector<std::string>& keys, Command& args, Reply& reply);

    // A plain command; 0 with the answer, or a code.
    int command(Command& args, Reply& reply);

    // MULTI, the commands, EXEC, in one round trip: 0 with EXEC's answer
    // (one answer per command), or a code. A command the server refuses
    // while queueing aborts the whole transaction: nothing ran.
    int transaction(std::vector<Command>& commands, Reply& reply);

    // The largest argument the server takes (its proto-max-bulk-len).
    [[nodiscard]] long long max_argument() const noexcept { return max_argument_; }

private:
    // Sends `wire` to wherever the store is, following the cluster; with
    // lock_ held. `reply` is the answer to the last command.
    int perform(std::vector<Command>& wire, Reply& reply);
    // A connection to the node the store was found on; when that node is
    // gone, the URL's node (if `may_restart`). With lock_ held.
    int ensure(bool may_restart);
    redisContext* connect_to(const Endpoint& endpoint, int& status);
    int load_scripts(redisContext* context);
    void drop() noexcept;

    Endpoint seed_;    // the URL's node
    Endpoint target_;  // where the store was found last
    std::chrono::milliseconds timeout_;
    std::mutex lock_;
    redisContext* context_ = nullptr;
    pid_t owner_ = 0;  // the process whose connection context_ is
    std::string sha_[2];
    long long max_argument_ = 512LL * 1024 * 1024;
};

}  // namespace velkshared
