// SPDX-License-Identifier: MIT
// One connection to the server, as a handle owns it. Calls on one handle
// take turns on it (a lock, never held while a caller's code runs).
//
// Each call has one deadline, set when it starts: connecting, signing in,
// choosing the database, loading a script, following the cluster and trying
// again all take what is left of it, so no call waits for the server longer
// than the time-out in all. A call the server cannot complete answers a
// negative errno value, with a text in last_error():
//   -ENOTCONN  the server could not be reached; nothing was sent
//   -ETIMEDOUT no answer in time, or the connection broke after the request
//              went out: it may or may not have taken effect
//   -EPROTO    the server refused the request (its text)
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "client/store.hpp"
#include "shared/endpoint.hpp"
#include "shared/transport.hpp"

namespace velkshared {

enum class Script { Write, Read };

// The arguments of one command, pointing into memory that outlives the call.
class Command {
public:
    void reserve(std::size_t n) { argv_.reserve(n); }
    void add(std::string_view arg) { argv_.push_back(arg); }
    [[nodiscard]] std::size_t size() const noexcept { return argv_.size(); }
    [[nodiscard]] const std::vector<std::string_view>& arguments() const noexcept { return argv_; }

private:
    std::vector<std::string_view> argv_;
};

// The connection of one handle. On a cluster it follows the server: a call
// that meets MOVED goes to the node named, which the connection then keeps
// (a redirected request did not run, so sending it again is safe); ASK is
// followed for that one call, with ASKING first; TRYAGAIN and CLUSTERDOWN
// are tried again until the deadline (then -ETIMEDOUT). When the node it
// keeps cannot be reached, it starts again from the URL's nodes, in order.
// A standalone server never answers any of these.
class Connection {
public:
    Connection(std::vector<Endpoint> seeds, std::chrono::milliseconds timeout)
        : seeds_(std::move(seeds)), target_(seeds_.front()), timeout_(timeout) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects now (a create wants to know at once); 0 or a code.
    int open();

    // Runs a script with `keys` and `args`; 0 with the answer in `reply`, or
    // a code. A reply that is the server's error is -EPROTO.
    int run(Script script, const std::vector<std::string>& keys, const Command& args, Reply& reply);

    // A plain command; 0 with the answer, or a code.
    int command(const Command& args, Reply& reply);

    // The commands `build` writes into the connection's own request (kept
    // from call to call, so a call allocates nothing once it has grown),
    // with the lock held: calls on one handle take turns anyway. 0 with the
    // last command's answer in `reply`, or a code. `script`: the body of a
    // script the request runs by name (EVALSHA), loaded on NOSCRIPT.
    int call(velk::FunctionRef<void(Request&)> build, Reply& reply, const std::string* script = nullptr);

    // The largest argument the server takes (its proto-max-bulk-len), as
    // the last connection found it.
    [[nodiscard]] long long max_argument() const noexcept {
        return max_argument_.load(std::memory_order_relaxed);
    }
    [[nodiscard]] std::chrono::milliseconds timeout() const noexcept { return timeout_; }

private:
    // Sends `request` (whose last command's answer lands in `reply`) to
    // wherever the store is, following the cluster; with lock_ held. The
    // status is the first refusal among the answers. `script` is the body
    // of the script the request runs by digest, loaded again on NOSCRIPT.
    int perform(const Request& request, Reply& reply, const Deadline& deadline,
                const std::string* script = nullptr);
    // A connection to the node the store was found on; when that node is
    // gone, the URL's nodes in order (if `may_restart`). With lock_ held.
    int ensure(const Deadline& deadline, bool may_restart);
    // Connects `link` to `node`, signs in and chooses the database.
    int connect(Link& link, const Endpoint& node, const Deadline& deadline);
    // Takes the lock before the deadline, or says why not.
    [[nodiscard]] bool lock(const Deadline& deadline);

    std::vector<Endpoint> seeds_;  // the URL's nodes
    Endpoint target_;              // where the store was found last
    std::chrono::milliseconds timeout_;
    std::timed_mutex lock_;
    Link link_;
    Request request_;  // call()'s, reused
    std::atomic<long long> max_argument_{512LL * 1024 * 1024};
};

// Sends every command of `request` on `link` (after `first`, when given)
// and reads one answer per command: 0, or the first refusal (-EPROTO, its
// text in last_error()), or a failure of the link. `reply` keeps the last
// answer.
int exchange(Link& link, const Request* first, const Request& request, Reply& reply,
             const Deadline& deadline);

}  // namespace velkshared
