// SPDX-License-Identifier: MIT
#include "shared/connection.hpp"

#include <hiredis/hiredis.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
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

}  // namespace

int exchange(Link& link, const Request* first, const Request& request, Reply& reply,
             const Deadline& deadline) {
    for (const Request* part : {first, &request}) {
        if (part != nullptr) {
            if (const int sent = link.send(*part, deadline); sent != 0) {
                return sent;
            }
        }
    }
    int status = 0;
    const std::size_t answers = request.commands() + (first != nullptr ? first->commands() : 0);
    for (std::size_t i = 0; i < answers; ++i) {
        if (const int received = link.receive(reply, deadline); received != 0) {
            return received;
        }
        if (status == 0 && reply->type == REDIS_REPLY_ERROR) {
            set_last_error(std::string_view(reply->str, reply->len));
            status = -EPROTO;
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

int Connection::open() {
    const Deadline deadline(timeout_);
    if (!lock(deadline)) {
        return -ETIMEDOUT;
    }
    const std::lock_guard guard(lock_, std::adopt_lock);
    return ensure(deadline, true);
}

int Connection::connect(Link& link, const Endpoint& node, const Deadline& deadline) {
    if (const int status = link.connect(node, deadline); status != 0) {
        return status;
    }
    // Sign in, choose the database, ask for the largest argument the server
    // takes, and make sure it serves us (PING), in one round trip. A server
    // that refuses the connection itself (at its limit of clients, or in
    // protected mode) says why once and closes: the answers after that
    // never come.
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
    setup.command({"PING"});
    if (const int sent = link.send(setup, deadline); sent != 0) {
        // Nothing of the caller's went out: the server was not reached.
        return sent == -ETIMEDOUT && !deadline.passed() ? -ENOTCONN : sent;
    }
    // The server's first word of refusal, and whether it refused more than
    // CONFIG: a refused CONFIG alone (renamed away, a user without the
    // right) is no reason to give up, the default limit holds.
    char refusal[256] = "";
    bool refused = false;
    for (std::size_t i = 0; i < setup.commands(); ++i) {
        Reply reply;
        if (const int received = link.receive(reply, deadline); received != 0) {
            if (received == -ETIMEDOUT && !deadline.passed()) {
                if (refusal[0] != '\0') {
                    set_last_error("the server at ", link.where(), " refused the connection: ", refusal);
                }
                return -ENOTCONN;
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
            refused = refused || i != config;
        } else if (i == config && reply->type == REDIS_REPLY_ARRAY && reply->elements == 2 &&
                   reply->element[1]->type == REDIS_REPLY_STRING) {
            max_argument_.store(std::strtoll(reply->element[1]->str, nullptr, 10), std::memory_order_relaxed);
        }
    }
    if (refused) {
        set_last_error("the server at ", link.where(),
                       " refused to sign in or to choose the database: ", refusal);
        link.close();
        return -EPROTO;
    }
    return 0;
}

int Connection::ensure(const Deadline& deadline, bool may_restart) {
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
    int status = connect(link_, target_, deadline);
    if (status == 0 || !may_restart) {
        if (status != 0 && !same_node(target_, seeds_.front())) {
            // The cluster has just named a node it cannot yet know is lost:
            // this call cannot be served; the next starts from the URL.
            target_ = seeds_.front();
        }
        return status;
    }
    // The node the store was last found on is gone (a failed master, or
    // the first seed): start again from the URL's nodes, which know where
    // the store is now.
    for (const Endpoint& seed : seeds_) {
        if (same_node(seed, target_) || deadline.passed()) {
            continue;
        }
        target_ = seed;
        if (status = connect(link_, target_, deadline); status == 0) {
            return 0;
        }
    }
    return status;
}

int Connection::perform(const Request& request, Reply& reply, const Deadline& deadline,
                        const std::string* script) {
    constexpr int kMostRedirections = 16;
    auto pause = std::chrono::milliseconds(2);
    int redirections = 0;
    bool resent = false;
    for (;;) {
        if (const int status = ensure(deadline, redirections == 0); status != 0) {
            return status;
        }
        int status = exchange(link_, nullptr, request, reply, deadline);
        if (status == -ENOTCONN && !resent) {
            // The server had closed the connection (it restarted, or dropped
            // an idle client) and took nothing of the request: it goes out
            // once more, on a new connection.
            resent = true;
            continue;
        }
        if (status == -EPROTO && script != nullptr && link_.is_open() && begins(last_error(), "NOSCRIPT")) {
            // The server's script cache was flushed (or never had it): the
            // script did not run, so loading it and repeating is safe.
            Request load;
            load.command({"SCRIPT", "LOAD", *script});
            status = exchange(link_, &load, request, reply, deadline);
        }
        if (status != -EPROTO || !link_.is_open()) {
            return status;
        }
        const std::string_view error = last_error();
        if (const auto moved = redirection(error, "MOVED ", seeds_.front());
            moved && redirections < kMostRedirections) {
            ++redirections;
            target_ = *moved;
            link_.close();
            continue;
        }
        if (const auto asked = redirection(error, "ASK ", seeds_.front());
            asked && redirections < kMostRedirections) {
            // The slot is moving: this one call goes to the node it moves to.
            ++redirections;
            Link there;
            if (const int connected = connect(there, *asked, deadline); connected != 0) {
                return connected;
            }
            Request asking;
            asking.command({"ASKING"});
            status = exchange(there, &asking, request, reply, deadline);
            if (status != -EPROTO || !begins(last_error(), "TRYAGAIN")) {
                return status;
            }
        } else if (!begins(error, "TRYAGAIN") && !begins(error, "CLUSTERDOWN")) {
            return status;
        }
        // The slot is half moved, or the cluster is electing a master: try
        // again a little later, until the deadline.
        if (Clock::now() + pause >= deadline.at()) {
            char text[64];
            std::snprintf(text, sizeof text, " within %lld ms: ", static_cast<long long>(timeout_.count()));
            const std::string last(error);
            set_last_error("the cluster did not serve the store", text, last);
            return -ETIMEDOUT;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
}

int Connection::run(Script script, const std::vector<std::string>& keys, const Command& args, Reply& reply) {
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
    return perform(request, reply, deadline, &text.body);
}

int Connection::call(velk::FunctionRef<void(Request&)> build, Reply& reply, const std::string* script) {
    const Deadline deadline(timeout_);
    if (!lock(deadline)) {
        return -ETIMEDOUT;
    }
    const std::lock_guard guard(lock_, std::adopt_lock);
    request_.clear();
    build(request_);
    return perform(request_, reply, deadline, script);
}

int Connection::command(const Command& args, Reply& reply) {
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
