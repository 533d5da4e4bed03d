// SPDX-License-Identifier: MIT
#include "shared/connection.hpp"

#include <hiredis/hiredis.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <thread>

#include "shared/scripts.hpp"

namespace velkshared {
namespace {

bool begins(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The node of a MOVED or ASK answer ("MOVED 3999 127.0.0.1:6381"), reached
// with the credentials of `like`.
std::optional<Endpoint> redirection(std::string_view error, std::string_view kind, const Endpoint& like) {
    if (!begins(error, kind)) {
        return std::nullopt;
    }
    const std::string_view address = error.substr(error.rfind(' ') + 1);
    const auto colon = address.rfind(':');
    int port = 0;
    const std::string_view digits =
        colon == std::string_view::npos ? std::string_view() : address.substr(colon + 1);
    if (colon == 0 || digits.empty() ||
        std::from_chars(digits.data(), digits.data() + digits.size(), port).ptr !=
            digits.data() + digits.size()) {
        return std::nullopt;
    }
    Endpoint node = like;
    node.unix_socket = false;
    node.path.clear();
    node.host = address.substr(0, colon);
    node.port = port;
    node.db = 0;  // a cluster has only the one
    return node;
}

bool same_node(const Endpoint& a, const Endpoint& b) {
    return a.unix_socket == b.unix_socket && a.host == b.host && a.port == b.port && a.path == b.path;
}

void add_command(Request& request, const Command& command) {
    request.begin(command.size());
    for (const std::string_view argument : command.arguments()) {
        request.add(argument);
    }
}

// How long a node that did not answer is tried after the others.
constexpr auto kIllFor = std::chrono::seconds(1);
// The most nodes remembered of a cluster, and the most ill ones.
constexpr std::size_t kMostNodes = 64;

std::string_view digits(long long number, char (&buffer)[24]) {
    return {buffer,
            static_cast<std::size_t>(std::to_chars(buffer, buffer + sizeof buffer, number).ptr - buffer)};
}

}  // namespace

int exchange(Link& link, const Request* first, const Request& request, Reply& reply, const Deadline& deadline,
             const Request* after, Reply* after_reply) {
    for (const Request* part : {first, &request, after}) {
        if (part == nullptr) {
            continue;
        }
        if (const int sent = link.send(*part, deadline); sent != 0) {
            if (part == after && sent == -ENOTCONN) {
                // The request itself went out before the connection closed.
                set_last_error("the connection to ", link.where(), " closed after the request went out");
                return -ETIMEDOUT;
            }
            return sent;
        }
    }
    int status = 0;
    const std::size_t before = first != nullptr ? first->commands() : 0;
    const std::size_t own = before + request.commands();
    const std::size_t answers = own + (after != nullptr ? after->commands() : 0);
    for (std::size_t i = 0; i < answers; ++i) {
        Reply answer;
        if (const int received = link.receive(answer, deadline); received != 0) {
            return received;
        }
        if (status == 0 && answer->type == REDIS_REPLY_ERROR) {
            set_last_error(std::string_view(answer->str, answer->len));
            status = -EPROTO;
        }
        if (i >= before && i < own) {
            reply = std::move(answer);
        } else if (i >= own && after_reply != nullptr) {
            *after_reply = std::move(answer);
        }
    }
    return status;
}

bool Connection::lock(const Deadline& deadline) {
    // By the system clock: waiting until a steady-clock time takes
    // pthread_mutex_clocklock, which ThreadSanitizer does not see (it then
    // reports the unlock as one of a lock never taken). What is left of the
    // deadline is the same on either clock.
    if (lock_.try_lock_until(std::chrono::system_clock::now() + (deadline.at() - Clock::now()))) {
        return true;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%lld ms", static_cast<long long>(timeout_.count()));
    set_last_error("the handle's connection stayed busy with other calls of this process for ", text);
    return false;
}

void Connection::forget_after_fork() noexcept {
    // Nothing is destroyed: a half-changed object may not survive it, and
    // the few bytes left behind are the child's alone.
    new (&lock_) std::timed_mutex();
    link_.abandon();
    new (&request_) Request();
    new (&before_) Request();
    new (&after_) Request();
    new (&target_) Endpoint();
    new (&known_) std::vector<Endpoint>();
    new (&ill_) std::vector<Ill>();
    forked_ = true;
}

bool Connection::ill(const Endpoint& node) const {
    const auto now = Clock::now();
    return std::any_of(ill_.begin(), ill_.end(),
                       [&](const Ill& entry) { return entry.until > now && same_node(entry.node, node); });
}

void Connection::fell_ill(const Endpoint& node) noexcept {
    try {
        answered(node);
        const auto now = Clock::now();
        ill_.erase(
            std::remove_if(ill_.begin(), ill_.end(), [&](const Ill& entry) { return entry.until <= now; }),
            ill_.end());
        if (ill_.size() >= kMostNodes) {
            ill_.erase(ill_.begin());
        }
        ill_.push_back(Ill{node, now + kIllFor});
    } catch (const std::bad_alloc&) {
        // Only a hint for the order of the next attempts.
    }
}

void Connection::answered(const Endpoint& node) noexcept {
    ill_.erase(std::remove_if(ill_.begin(), ill_.end(),
                              [&](const Ill& entry) { return same_node(entry.node, node); }),
               ill_.end());
}

void Connection::learn(const redisReply& slots) noexcept {
    // Each range: first slot, last slot, then its master and replicas as
    // [host, port, id, ...]. Every node can say where a slot is.
    try {
        std::vector<Endpoint> nodes;
        for (std::size_t i = 0; i < slots.elements && nodes.size() < kMostNodes; ++i) {
            const redisReply* range = slots.element[i];
            for (std::size_t j = 2; range->type == REDIS_REPLY_ARRAY && j < range->elements; ++j) {
                const redisReply* node = range->element[j];
                if (node->type != REDIS_REPLY_ARRAY || node->elements < 2 ||
                    node->element[0]->type != REDIS_REPLY_STRING || node->element[0]->len == 0 ||
                    node->element[1]->type != REDIS_REPLY_INTEGER) {
                    continue;  // a node whose address the cluster does not know
                }
                Endpoint endpoint = seeds_.front();  // its credentials
                endpoint.unix_socket = false;
                endpoint.path.clear();
                endpoint.host.assign(node->element[0]->str, node->element[0]->len);
                endpoint.port = static_cast<int>(node->element[1]->integer);
                endpoint.db = 0;
                if (std::none_of(nodes.begin(), nodes.end(),
                                 [&](const Endpoint& known) { return same_node(known, endpoint); })) {
                    nodes.push_back(std::move(endpoint));
                }
            }
        }
        known_ = std::move(nodes);
    } catch (const std::bad_alloc&) {
        // The nodes known before stay.
    }
}

int Connection::open() {
    const KeepErrno kept;
    const Deadline deadline(timeout_);
    if (!lock(deadline)) {
        return -ETIMEDOUT;
    }
    const std::lock_guard guard(lock_, std::adopt_lock);
    return ensure(deadline, true);
}

int Connection::connect(Link& link, const Endpoint& node, const Deadline& deadline, bool whole) {
    const Deadline attempt = whole ? deadline : deadline.share();
    // A node is remembered as ill only if it had a share's time to answer:
    // not one tried when the call had little left.
    const bool fair = attempt.at() - Clock::now() >= deadline.share_length();
    const auto silent = [&] {
        if (fair) {
            fell_ill(node);
        }
    };
    if (const int status = link.connect(node, attempt); status != 0) {
        if (attempt.passed()) {
            silent();  // no handshake in time: a partition, or a machine that is off
        }
        return status;
    }
    // Sign in, choose the database, ask for the largest argument the server
    // takes and for the cluster's nodes, and make sure it serves us (PING),
    // in one round trip. A server that refuses the connection itself (at
    // its limit of clients, or in protected mode) says why once and closes:
    // the answers after that never come.
    Request setup;
    const std::string db = std::to_string(node.db);
    if (!node.password.empty()) {
        if (node.user.empty()) {
            setup.command({"AUTH", node.password});
        } else {
            setup.command({"AUTH", node.user, node.password});
        }
    }
    if (node.db != 0) {
        setup.command({"SELECT", db});
    }
    const std::size_t config = setup.commands();
    setup.command({"CONFIG", "GET", "proto-max-bulk-len"});
    const std::size_t slots = setup.commands();
    setup.command({"CLUSTER", "SLOTS"});
    setup.command({"PING"});
    if (const int sent = link.send(setup, attempt); sent != 0) {
        // Nothing of the caller's went out: the server was not reached, or
        // it took nothing in time.
        if (sent == -ETIMEDOUT && attempt.passed()) {
            silent();
            return -ETIMEDOUT;
        }
        return sent == -ETIMEDOUT ? -ENOTCONN : sent;
    }
    // The server's first word of refusal, and whether it refused more than
    // CONFIG or CLUSTER: a refused CONFIG (renamed away, a user without the
    // right) is no reason to give up, the default limit holds; a server
    // that is no cluster refuses CLUSTER.
    char refusal[256] = "";
    bool refused = false;
    for (std::size_t i = 0; i < setup.commands(); ++i) {
        Reply reply;
        if (const int received = link.receive(reply, attempt); received != 0) {
            if (received == -ETIMEDOUT && !attempt.passed()) {
                if (refusal[0] != '\0') {
                    set_last_error("the server at ", link.where(), " refused the connection: ", refusal);
                }
                return -ENOTCONN;
            }
            if (received == -ETIMEDOUT) {
                silent();
            }
            return received;
        }
        if (reply->type == REDIS_REPLY_ERROR) {
            if (refusal[0] == '\0') {
                // A server that does not know AUTH echoes its arguments.
                const std::string shown =
                    without_secret(std::string_view(reply->str, reply->len), node.password);
                std::snprintf(refusal, sizeof refusal, "%s", shown.c_str());
            }
            refused = refused || (i != config && i != slots);
        } else if (i == config && reply->type == REDIS_REPLY_ARRAY && reply->elements == 2 &&
                   reply->element[1]->type == REDIS_REPLY_STRING) {
            max_argument_.store(std::strtoll(reply->element[1]->str, nullptr, 10), std::memory_order_relaxed);
        } else if (i == slots && reply->type == REDIS_REPLY_ARRAY) {
            learn(*reply);
        }
    }
    if (refused) {
        set_last_error("the server at ", link.where(),
                       " refused to sign in or to choose the database: ", refusal);
        link.close();
        return -EPROTO;
    }
    answered(node);
    return 0;
}

int Connection::ensure(const Deadline& deadline, bool may_restart) {
    if (forked_) {
        target_ = seeds_.front();
        forked_ = false;
    }
    if (link_.is_open() && (link_.owner() != getpid() || (link_.probe_before_use() && link_.stale()))) {
        // A child after fork() leaves its parent's socket alone; a server
        // that closed its side since the last call (it restarted, or
        // dropped an idle client) is found now, not after a request has
        // gone out into nothing.
        link_.close();
    }
    if (link_.is_open()) {
        return 0;
    }
    if (!may_restart) {
        // The node the cluster named for this call, and no other.
        const int status = connect(link_, target_, deadline, true);
        if (status != 0 && !same_node(target_, seeds_.front())) {
            // The cluster has just named a node it cannot yet know is lost:
            // this call cannot be served; the next starts from the URL.
            target_ = seeds_.front();
        }
        return status;
    }
    // Where the store was found last, the URL's nodes in order, then the
    // cluster's: those that answered lately first, each with a share of
    // the deadline, the last one with all that is left. (Copies: a connect
    // learns the cluster's nodes anew.)
    std::vector<Endpoint> order;
    for (const auto* list : {&seeds_, &known_}) {
        for (const Endpoint& node : *list) {
            if (!same_node(node, target_) &&
                std::none_of(order.begin(), order.end(),
                             [&](const Endpoint& in) { return same_node(in, node); })) {
                order.push_back(node);
            }
        }
    }
    order.insert(order.begin(), target_);
    std::stable_partition(order.begin(), order.end(), [this](const Endpoint& node) { return !ill(node); });
    int status = -ENOTCONN;
    int silent = 0;
    char said[512] = "";  // what the first node that said nothing left, which the code names
    for (std::size_t i = 0; i < order.size() && (i == 0 || !deadline.passed()); ++i) {
        status = connect(link_, order[i], deadline, i + 1 == order.size());
        if (status == 0) {
            target_ = std::move(order[i]);
            return 0;
        }
        if (status == -ETIMEDOUT && silent == 0) {
            silent = status;
            std::snprintf(said, sizeof said, "%s", last_error());
        }
    }
    if (silent != 0) {
        set_last_error(said);
        return silent;
    }
    return status;
}

int Connection::attempt(Link& link, const Endpoint& node, bool asking, bool load, const Request& request,
                        Reply& reply, const Deadline& deadline, const std::string* script, bool writes) {
    before_.clear();
    if (load) {
        // The script did not run, so loading it and repeating is safe.
        before_.command({"SCRIPT", "LOAD", *script});
    }
    if (asking) {
        before_.command({"ASKING"});
    }
    const bool wait = writes && replicas_ > 0;
    char count[24];
    char within[24];
    after_.clear();
    if (wait) {
        // What is left, less a little, so that the answer comes before the
        // deadline; never 0, which would wait for ever.
        const int left = deadline.remaining_ms();
        after_.command(
            {"WAIT", digits(replicas_, count), digits(std::max(1, left - std::min(left / 10, 50)), within)});
    }
    Reply waited;
    const int status = exchange(link, before_.empty() ? nullptr : &before_, request, reply, deadline,
                                wait ? &after_ : nullptr, &waited);
    if (status != 0 || !wait) {
        return status;
    }
    if (waited->type != REDIS_REPLY_INTEGER) {
        set_last_error("unexpected answer from the server: WAIT");
        return -EPROTO;
    }
    if (waited->integer < replicas_) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the write was confirmed by %lld of the %d replicas asked for within %lld ms",
                      waited->integer, replicas_, static_cast<long long>(timeout_.count()));
        set_last_error(text, " (", describe(node), "): it may or may not survive the master");
        return -ETIMEDOUT;
    }
    return 0;
}

int Connection::perform(const Request& request, Reply& reply, const Deadline& deadline,
                        const std::string* script, bool writes) {
    auto pause = std::chrono::milliseconds(2);
    int redirections = 0;  // of any kind, in this call
    int hops = 0;          // redirections in a row
    bool resent = false;
    std::optional<Endpoint> asked;  // ASK: the next try goes there, once
    char answer[256] = "";          // what the cluster last said
    Link there;                     // to the node asked for, kept while it is asked for again
    Endpoint there_node;
    // The call's time went on following the cluster: what it said last.
    const auto gave_up = [&] {
        char text[64];
        std::snprintf(text, sizeof text,
                      " within %lld ms; it last answered: ", static_cast<long long>(timeout_.count()));
        set_last_error("the cluster did not serve the store", text, answer);
        return -ETIMEDOUT;
    };
    for (;;) {
        int status = 0;
        if (redirections == 0) {
            status = ensure(deadline, true);
        } else {
            // The node the cluster named, for the time that is left. When
            // too little was left for it to answer, the call ends for the
            // cluster's sake, not that node's.
            const Endpoint named = asked ? *asked : target_;
            if (!asked) {
                status = ensure(deadline, false);
            } else if (!there.is_open() || !same_node(there_node, named)) {
                there_node = named;
                status = connect(there, there_node, deadline, true);
            }
            if (status == -ETIMEDOUT && deadline.passed() && !ill(named)) {
                return gave_up();
            }
        }
        if (status != 0) {
            return status;
        }
        Link& link = asked ? there : link_;
        const Endpoint& node = asked ? *asked : target_;
        const bool fair = deadline.at() - Clock::now() >= deadline.share_length();
        status = attempt(link, node, asked.has_value(), false, request, reply, deadline, script, writes);
        if (status == -ENOTCONN && !resent && !asked) {
            // The server had closed the connection (it restarted, or dropped
            // an idle client) and took nothing of the request: it goes out
            // once more, on a new connection.
            resent = true;
            continue;
        }
        if (status == -EPROTO && script != nullptr && link.is_open() && begins(last_error(), "NOSCRIPT")) {
            // The server's script cache was flushed, or never had it (the
            // node a slot moves to).
            status = attempt(link, node, asked.has_value(), true, request, reply, deadline, script, writes);
        }
        if (status == -ETIMEDOUT && deadline.passed() && !link.is_open()) {
            // A node that had its share of time and said nothing is ill; one
            // the call reached with little left was late for the cluster.
            // (One that answered that too few replicas confirmed keeps its
            // connection: it is not ill.)
            if (fair) {
                fell_ill(node);
            } else if (answer[0] != '\0') {
                return gave_up();
            }
        }
        if (status != -EPROTO || !link.is_open()) {
            return status;
        }
        std::snprintf(answer, sizeof answer, "%s", last_error());
        const std::string_view error(answer);
        bool redirected = true;
        if (auto moved = redirection(error, "MOVED ", seeds_.front())) {
            target_ = std::move(*moved);
            link_.close();
            asked.reset();
        } else if (auto moving = redirection(error, "ASK ", seeds_.front())) {
            // The slot is moving: this one call goes to the node it moves to.
            asked = std::move(moving);
        } else if (begins(error, "TRYAGAIN") || begins(error, "CLUSTERDOWN")) {
            // The slot is half moved, or the cluster is electing a master:
            // from the top again (a slot that has moved answers MOVED now).
            asked.reset();
            redirected = false;
        } else {
            return status;
        }
        // A redirection is followed at once, unless it follows another
        // (the cluster may be going round in circles); the rest, a little
        // later each time, until the deadline.
        ++redirections;
        hops = redirected ? hops + 1 : 0;
        if (hops != 1) {
            if (Clock::now() + pause >= deadline.at()) {
                return gave_up();
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(100));
        }
    }
}

int Connection::run(Script script, const std::vector<std::string>& keys, const Command& args, Reply& reply) {
    const KeepErrno kept;
    const Deadline deadline(timeout_);
    const ScriptText& text = script == Script::Write ? write_script() : read_script();
    Request request;
    const std::string numkeys = std::to_string(keys.size());
    request.begin(3 + keys.size() + args.size());
    request.add("EVALSHA");
    request.add(text.sha1);
    request.add(numkeys);
    for (const std::string& key : keys) {
        request.add(key);
    }
    for (const std::string_view argument : args.arguments()) {
        request.add(argument);
    }
    if (!lock(deadline)) {
        return -ETIMEDOUT;
    }
    const std::lock_guard guard(lock_, std::adopt_lock);
    return perform(request, reply, deadline, &text.body, script == Script::Write);
}

int Connection::call(velk::FunctionRef<void(Request&)> build, Reply& reply, const std::string* script,
                     bool writes) {
    const KeepErrno kept;
    const Deadline deadline(timeout_);
    if (!lock(deadline)) {
        return -ETIMEDOUT;
    }
    const std::lock_guard guard(lock_, std::adopt_lock);
    request_.clear();
    build(request_);
    return perform(request_, reply, deadline, script, writes);
}

int Connection::command(const Command& args, Reply& reply) {
    const KeepErrno kept;
    const Deadline deadline(timeout_);
    Request request;
    add_command(request, args);
    if (!lock(deadline)) {
        return -ETIMEDOUT;
    }
    const std::lock_guard guard(lock_, std::adopt_lock);
    return perform(request, reply, deadline);
}

}  // namespace velkshared
