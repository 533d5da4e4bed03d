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
// followed for that one call, with ASKING first (and the script loaded there
// when that node answers NOSCRIPT); TRYAGAIN and CLUSTERDOWN are tried again
// after a short pause that grows. None of these is counted: a call follows
// them until its deadline, then answers -ETIMEDOUT with what the cluster
// last said.
//
// Nodes fall ill rather than die: a paused machine still accepts
// connections and then says nothing. Each connection attempt therefore gets
// a share of the call's deadline (Deadline::share), and a node that did not
// answer is remembered for a second and tried after the others. When the
// node it keeps cannot be reached, the connection tries the URL's nodes and
// the nodes the cluster named (its CLUSTER SLOTS, asked at each connect),
// those that answered lately first. A standalone server says none of this.
//
// With `replicas` above 0 every call that writes ends with WAIT in the same
// round trip: it succeeds only once that many replicas of the master have
// the write, else it answers -ETIMEDOUT (the write may or may not survive
// the master), the text saying how many were asked and how many confirmed.
class Connection {
public:
    Connection(std::vector<Endpoint> seeds, std::chrono::milliseconds timeout, int replicas = 0)
        : seeds_(std::move(seeds)), target_(seeds_.front()), timeout_(timeout), replicas_(replicas) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects now (a create wants to know at once); 0 or a code.
    int open();

    // Runs a script with `keys` and `args`; 0 with the answer in `reply`, or
    // a code. A reply that is the server's error is -EPROTO. The write
    // script writes (see above).
    int run(Script script, const std::vector<std::string>& keys, const Command& args, Reply& reply);

    // A plain command that writes nothing; 0 with the answer, or a code.
    int command(const Command& args, Reply& reply);

    // The commands `build` writes into the connection's own request (kept
    // from call to call, so a call allocates nothing once it has grown),
    // with the lock held: calls on one handle take turns anyway. 0 with the
    // last command's answer in `reply`, or a code. `script`: the body of a
    // script the request runs by name (EVALSHA), loaded on NOSCRIPT.
    // `writes`: the request writes (see above).
    int call(velk::FunctionRef<void(Request&)> build, Reply& reply, const std::string* script = nullptr,
             bool writes = false);

    // The largest argument the server takes (its proto-max-bulk-len), as
    // the last connection found it.
    [[nodiscard]] long long max_argument() const noexcept {
        return max_argument_.load(std::memory_order_relaxed);
    }
    [[nodiscard]] std::chrono::milliseconds timeout() const noexcept { return timeout_; }

    // In a child after fork(), before anything else runs there: a thread of
    // the parent may have been inside a call, holding the lock and halfway
    // through the connection's state. The child has no such thread: the
    // lock is made anew, and what the call was using is let go unfreed
    // (it may be half changed), so the child's next call connects anew.
    void forget_after_fork() noexcept;

private:
    // Sends `request` (whose last command's answer lands in `reply`) to
    // wherever the store is, following the cluster; with lock_ held. The
    // status is the first refusal among the answers. `script` is the body
    // of the script the request runs by digest, loaded again on NOSCRIPT.
    int perform(const Request& request, Reply& reply, const Deadline& deadline,
                const std::string* script = nullptr, bool writes = false);
    // One try of `request` on `link` (ASKING first when `asking`, the script
    // loaded first when `load`, WAIT after it when `writes`).
    int attempt(Link& link, const Endpoint& node, bool asking, bool load, const Request& request,
                Reply& reply, const Deadline& deadline, const std::string* script, bool writes);
    // A connection to the node the store was found on; when that node is
    // gone, the others (if `may_restart`). With lock_ held.
    int ensure(const Deadline& deadline, bool may_restart);
    // Connects `link` to `node`, signs in and chooses the database, within
    // a share of the deadline (all of it when `whole`). A node that said
    // nothing in time is remembered (-ETIMEDOUT).
    int connect(Link& link, const Endpoint& node, const Deadline& deadline, bool whole);
    // Takes the lock before the deadline, or says why not.
    [[nodiscard]] bool lock(const Deadline& deadline);

    // Nodes that did not answer lately.
    [[nodiscard]] bool ill(const Endpoint& node) const;
    void fell_ill(const Endpoint& node) noexcept;
    void answered(const Endpoint& node) noexcept;
    // The cluster's nodes, from its CLUSTER SLOTS answer.
    void learn(const redisReply& slots) noexcept;

    struct Ill {
        Endpoint node;
        Clock::time_point until;
    };

    std::vector<Endpoint> seeds_;  // the URL's nodes
    Endpoint target_;              // where the store was found last
    std::chrono::milliseconds timeout_;
    int replicas_;
    std::timed_mutex lock_;
    Link link_;
    Request request_;              // call()'s, reused
    Request before_;               // ASKING and SCRIPT LOAD before a request, reused
    Request after_;                // WAIT after it, reused
    std::vector<Endpoint> known_;  // the cluster's nodes, as it last listed them
    std::vector<Ill> ill_;
    bool forked_ = false;  // forget_after_fork() ran: the next call starts from the URL
    std::atomic<long long> max_argument_{512LL * 1024 * 1024};
};

// Sends `first` (when given), `request` and `after` (when given) on `link`
// and reads one answer per command: 0, or the first refusal (-EPROTO, its
// text in last_error()), or a failure of the link. `reply` keeps the answer
// of the last command of `request`, `after_reply` that of `after`.
int exchange(Link& link, const Request* first, const Request& request, Reply& reply, const Deadline& deadline,
             const Request* after = nullptr, Reply* after_reply = nullptr);

}  // namespace velkshared
