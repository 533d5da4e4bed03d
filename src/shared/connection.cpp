// SPDX-License-Identifier: MIT
#include "shared/connection.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <thread>

#include "shared/scripts.hpp"

namespace velkshared {
namespace {

thread_local std::string last_error_text;

timeval as_timeval(std::chrono::milliseconds timeout) {
    return timeval{static_cast<time_t>(timeout.count() / 1000),
                   static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
}

}  // namespace

std::string assemble_script(const char* first_line, const char* body) {
    std::string script(first_line);
    for (const std::string_view part : {std::string_view(kScriptPrelude), std::string_view(body)}) {
        std::size_t at = 0;
        while (at < part.size()) {
            std::size_t end = part.find('\n', at);
            end = end == std::string_view::npos ? part.size() : end;
            const std::string_view line = part.substr(at, end - at);
            const std::size_t text = line.find_first_not_of(' ');
            if (text != std::string_view::npos && line.substr(text, 2) != "--") {
                script += '\n';
                script += line;
            }
            at = end + 1;
        }
    }
    return script + "\nend\nreturn redis.error_reply('velkshared: unknown operation')\n";
}

void set_last_error(std::string_view text) {
    last_error_text.assign(text);
}
const char* last_error() noexcept {
    return last_error_text.c_str();
}

namespace {

using Clock = std::chrono::steady_clock;

// Sends the commands back to back (ASKING first, when asked) and reads
// every answer. `reply` keeps the last answer; the status is the first
// refusal among them (-EPROTO, its text in last_error()), or -ETIMEDOUT when
// the connection broke on the way (the context is then spent).
int pipeline(redisContext* context, bool asking, std::vector<Command>& wire, Reply& reply) {
    const char* asking_argv[] = {"ASKING"};
    const std::size_t asking_len[] = {6};
    bool queued = !asking || redisAppendCommandArgv(context, 1, asking_argv, asking_len) == REDIS_OK;
    for (Command& command : wire) {
        queued = queued && redisAppendCommandArgv(context, static_cast<int>(command.size()), command.argv(),
                                                  command.lens()) == REDIS_OK;
    }
    if (!queued) {
        // Only hiredis's own buffer could not grow: nothing was sent.
        throw std::bad_alloc();
    }
    int status = 0;
    const std::size_t answers = wire.size() + (asking ? 1 : 0);
    for (std::size_t i = 0; i < answers; ++i) {
        void* raw = nullptr;
        if (redisGetReply(context, &raw) != REDIS_OK) {
            // The request may have gone out: its outcome is unknown.
            set_last_error(context->errstr);
            if (context->err == REDIS_ERR_OOM) {
                throw std::bad_alloc();
            }
            return -ETIMEDOUT;
        }
        reply.reset(static_cast<redisReply*>(raw));
        if (status == 0 && reply->type == REDIS_REPLY_ERROR) {
            set_last_error(std::string_view(reply->str, reply->len));
            status = -EPROTO;
        }
    }
    return status;
}

// The node of a MOVED or ASK answer ("MOVED 3999 127.0.0.1:6381").
std::optional<Endpoint> redirection(std::string_view error, std::string_view kind, const Endpoint& like) {
    if (error.substr(0, kind.size()) != kind) {
        return std::nullopt;
    }
    const std::string_view address = error.substr(error.rfind(' ') + 1);
    const auto colon = address.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    Endpoint node = like;
    node.unix_socket = false;
    node.host = address.substr(0, colon);
    node.port = std::atoi(std::string(address.substr(colon + 1)).c_str());
    node.db = 0;  // a cluster has only the one
    return node;
}

bool begins(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

Connection::~Connection() {
    drop();
}

void Connection::drop() noexcept {
    if (context_ != nullptr) {
        // In a child after fork() this closes only the child's copy of the
        // socket: the parent's connection is left as it is, nothing is sent.
        redisFree(context_);
        context_ = nullptr;
    }
}

int Connection::open() {
    const std::lock_guard guard(lock_);
    return ensure(true);
}

redisContext* Connection::connect_to(const Endpoint& endpoint, int& status) {
    const timeval timeout = as_timeval(timeout_);
    redisContext* context = endpoint.unix_socket
                                ? redisConnectUnixWithTimeout(endpoint.path.c_str(), timeout)
                                : redisConnectWithTimeout(endpoint.host.c_str(), endpoint.port, timeout);
    if (context == nullptr) {
        throw std::bad_alloc();
    }
    std::unique_ptr<redisContext, void (*)(redisContext*)> owned(context, redisFree);
    if (context->err != 0) {
        set_last_error(context->errstr);
        status = -ENOTCONN;
        return nullptr;
    }
    // A program that runs another one keeps the socket to itself.
    fcntl(context->fd, F_SETFD, fcntl(context->fd, F_GETFD) | FD_CLOEXEC);
    if (redisSetTimeout(context, timeout) != REDIS_OK) {
        status = -ENOTCONN;
        return nullptr;
    }
    std::vector<Command> setup;
    if (!endpoint.password.empty()) {
        setup.emplace_back().add("AUTH");
        setup.back().add(endpoint.password);
    }
    const std::string db = std::to_string(endpoint.db);
    if (endpoint.db != 0) {
        setup.emplace_back().add("SELECT");
        setup.back().add(db);
    }
    Reply reply;
    for (Command& command : setup) {
        std::vector<Command> one{command};
        if (status = pipeline(context, false, one, reply); status != 0) {
            // Nothing of the caller's was sent: the server was not reached.
            status = status == -ETIMEDOUT ? -ENOTCONN : status;
            return nullptr;
        }
    }
    // The largest value the server takes as one argument; a server that
    // does not tell (CONFIG renamed away) has the default.
    std::vector<Command> config(1);
    config[0].add("CONFIG");
    config[0].add("GET");
    config[0].add("proto-max-bulk-len");
    const int asked = pipeline(context, false, config, reply);
    if (asked == -ETIMEDOUT) {
        status = -ENOTCONN;
        return nullptr;
    }
    if (asked == 0 && reply->type == REDIS_REPLY_ARRAY && reply->elements == 2 &&
        reply->element[1]->type == REDIS_REPLY_STRING) {
        max_argument_ = std::strtoll(reply->element[1]->str, nullptr, 10);
    }
    if (status = load_scripts(context); status != 0) {
        status = status == -ETIMEDOUT ? -ENOTCONN : status;
        return nullptr;
    }
    return owned.release();
}

int Connection::load_scripts(redisContext* context) {
    const std::string* bodies[] = {&write_script(), &read_script()};
    for (int i = 0; i < 2; ++i) {
        std::vector<Command> load(1);
        load[0].add("SCRIPT");
        load[0].add("LOAD");
        load[0].add(*bodies[i]);
        Reply reply;
        if (const int status = pipeline(context, false, load, reply); status != 0) {
            return status;
        }
        if (reply->type != REDIS_REPLY_STRING) {
            set_last_error("SCRIPT LOAD answered no digest");
            return -EPROTO;
        }
        sha_[i].assign(reply->str, reply->len);
    }
    return 0;
}

int Connection::ensure(bool may_restart) {
    if (context_ != nullptr && owner_ != getpid()) {
        // A handle used in a child after fork(): the socket is the parent's.
        drop();
    }
    if (context_ != nullptr && context_->err == 0) {
        // A server that closed its side since the last call (it restarted,
        // or dropped an idle client) shows as a readable socket: find out
        // now, not after a request has gone out into nothing.
        pollfd probe{context_->fd, POLLIN, 0};
        if (poll(&probe, 1, 0) == 0) {
            return 0;
        }
    }
    drop();
    int status = 0;
    owner_ = getpid();
    context_ = connect_to(target_, status);
    const bool at_seed = target_.unix_socket == seed_.unix_socket && target_.host == seed_.host &&
                         target_.port == seed_.port && target_.path == seed_.path;
    if (context_ == nullptr && !at_seed) {
        // The node the store was last found on is gone (a failed master):
        // start again from the URL's node, which knows where it is now; at
        // once, unless the cluster has just named the lost node itself (it
        // has not noticed yet: this call cannot be served).
        target_ = seed_;
        if (may_restart) {
            context_ = connect_to(target_, status);
        }
    }
    return context_ != nullptr ? 0 : status;
}

int Connection::perform(std::vector<Command>& wire, Reply& reply) {
    constexpr int kMostRedirections = 16;
    const auto deadline = Clock::now() + timeout_;
    auto pause = std::chrono::milliseconds(2);
    int redirections = 0;
    for (;;) {
        if (const int status = ensure(redirections == 0); status != 0) {
            return status;
        }
        int status = pipeline(context_, false, wire, reply);
        if (status == -EPROTO && begins(last_error(), "NOSCRIPT")) {
            // The server's script cache was flushed: the script did not
            // run, so loading it again and repeating the call is safe.
            status = load_scripts(context_);
            status = status == 0 ? pipeline(context_, false, wire, reply) : status;
        }
        if (status == -ETIMEDOUT) {
            drop();
            return status;
        }
        const std::string error = status == -EPROTO ? std::string(last_error()) : std::string();
        if (const auto moved = redirection(error, "MOVED ", seed_);
            moved && redirections < kMostRedirections) {
            ++redirections;
            target_ = *moved;
            drop();
            continue;
        }
        if (const auto asked = redirection(error, "ASK ", seed_); asked && redirections < kMostRedirections) {
            // The slot is moving: this one call goes to the node it moves to.
            ++redirections;
            int connected = 0;
            redisContext* there = connect_to(*asked, connected);
            if (there == nullptr) {
                return connected;
            }
            status = pipeline(there, true, wire, reply);
            redisFree(there);
            if (status != -EPROTO || !begins(last_error(), "TRYAGAIN")) {
                return status;
            }
        } else if (!begins(error, "TRYAGAIN") && !begins(error, "CLUSTERDOWN")) {
            return status;
        }
        // The slot is half moved, or the cluster is electing a master: try
        // again a little later, until the time-out.
        if (Clock::now() + pause > deadline) {
            return -ETIMEDOUT;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
}

int Connection::run(Script script, const std::vector<std::string>& keys, Command& args, Reply& reply) {
    const std::lock_guard guard(lock_);
    const std::string numkeys = std::to_string(keys.size());
    // The digests come with the first connection (they are the same on
    // every node); perform() sees to the connection itself.
    if (sha_[static_cast<int>(script)].empty()) {
        if (const int status = ensure(true); status != 0) {
            return status;
        }
    }
    std::vector<Command> wire(1);
    Command& command = wire[0];
    command.reserve(3 + keys.size() + args.size());
    command.add("EVALSHA");
    command.add(sha_[static_cast<int>(script)]);
    command.add(numkeys);
    for (const std::string& key : keys) {
        command.add(key);
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        command.add(std::string_view(args.argv()[i], args.lens()[i]));
    }
    return perform(wire, reply);
}

int Connection::transaction(std::vector<Command>& commands, Reply& reply) {
    const std::lock_guard guard(lock_);
    std::vector<Command> wire;
    wire.reserve(commands.size() + 2);
    wire.emplace_back().add("MULTI");
    for (Command& command : commands) {
        wire.push_back(command);
    }
    wire.emplace_back().add("EXEC");
    const int status = perform(wire, reply);
    if (status == 0 && (reply->type != REDIS_REPLY_ARRAY || reply->elements != commands.size())) {
        set_last_error("the server answered a transaction with no result per command");
        return -EPROTO;
    }
    return status;
}

int Connection::command(Command& args, Reply& reply) {
    const std::lock_guard guard(lock_);
    std::vector<Command> wire{args};
    return perform(wire, reply);
}

}  // namespace velkshared
