// SPDX-License-Identifier: MIT
#include "shared/connection.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "shared/scripts.hpp"

namespace velkshared {
namespace {

thread_local std::string last_error_text;

timeval as_timeval(std::chrono::milliseconds timeout) {
    return timeval{static_cast<time_t>(timeout.count() / 1000),
                   static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
}

bool is_error(const redisReply* reply, std::string_view prefix) {
    return reply != nullptr && reply->type == REDIS_REPLY_ERROR &&
           std::string_view(reply->str, reply->len).substr(0, prefix.size()) == prefix;
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
    return script;
}

void set_last_error(std::string_view text) {
    last_error_text.assign(text);
}
const char* last_error() noexcept {
    return last_error_text.c_str();
}

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
    return ensure();
}

int Connection::connect() {
    const timeval timeout = as_timeval(timeout_);
    context_ = endpoint_.unix_socket
                   ? redisConnectUnixWithTimeout(endpoint_.path.c_str(), timeout)
                   : redisConnectWithTimeout(endpoint_.host.c_str(), endpoint_.port, timeout);
    owner_ = getpid();
    if (context_ == nullptr) {
        throw std::bad_alloc();
    }
    if (context_->err != 0) {
        set_last_error(context_->errstr);
        drop();
        return -ENOTCONN;
    }
    // A program that runs another one keeps the socket to itself.
    fcntl(context_->fd, F_SETFD, fcntl(context_->fd, F_GETFD) | FD_CLOEXEC);
    if (redisSetTimeout(context_, timeout) != REDIS_OK) {
        drop();
        return -ENOTCONN;
    }
    Reply reply;
    if (!endpoint_.password.empty()) {
        Command auth;
        auth.add("AUTH");
        auth.add(endpoint_.password);
        if (const int status = exchange(auth, reply); status != 0) {
            drop();
            return status == -ETIMEDOUT ? -ENOTCONN : status;
        }
    }
    if (endpoint_.db != 0) {
        const std::string db = std::to_string(endpoint_.db);
        Command select;
        select.add("SELECT");
        select.add(db);
        if (const int status = exchange(select, reply); status != 0) {
            drop();
            return status == -ETIMEDOUT ? -ENOTCONN : status;
        }
    }
    // The largest value the server takes as one argument; a server that
    // does not tell (CONFIG renamed away) has the default.
    Command config;
    config.add("CONFIG");
    config.add("GET");
    config.add("proto-max-bulk-len");
    if (exchange(config, reply) == 0 && reply->type == REDIS_REPLY_ARRAY && reply->elements == 2 &&
        reply->element[1]->type == REDIS_REPLY_STRING) {
        max_argument_ = std::strtoll(reply->element[1]->str, nullptr, 10);
    }
    if (context_ == nullptr) {
        return -ENOTCONN;
    }
    if (const int status = load_scripts(); status != 0) {
        drop();
        return status == -ETIMEDOUT ? -ENOTCONN : status;
    }
    return 0;
}

int Connection::load_scripts() {
    const std::string* bodies[] = {&write_script(), &read_script()};
    for (int i = 0; i < 2; ++i) {
        Command load;
        load.add("SCRIPT");
        load.add("LOAD");
        load.add(*bodies[i]);
        Reply reply;
        if (const int status = exchange(load, reply); status != 0) {
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

int Connection::ensure() {
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
    return connect();
}

int Connection::exchange(Command& args, Reply& reply) {
    void* raw = redisCommandArgv(context_, static_cast<int>(args.size()), args.argv(), args.lens());
    reply.reset(static_cast<redisReply*>(raw));
    if (reply == nullptr) {
        // The request may have gone out: its outcome is unknown. The context
        // is spent; the next call connects anew.
        set_last_error(context_->errstr);
        const bool memory = context_->err == REDIS_ERR_OOM;
        drop();
        if (memory) {
            throw std::bad_alloc();
        }
        return -ETIMEDOUT;
    }
    if (reply->type == REDIS_REPLY_ERROR) {
        set_last_error(std::string_view(reply->str, reply->len));
        return -EPROTO;
    }
    return 0;
}

int Connection::run(Script script, const std::vector<std::string>& keys, Command& args, Reply& reply) {
    const std::lock_guard guard(lock_);
    if (const int status = ensure(); status != 0) {
        return status;
    }
    const std::string numkeys = std::to_string(keys.size());
    Command command;
    const auto build = [&] {
        command = Command();
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
    };
    build();
    int status = exchange(command, reply);
    if (status == -EPROTO && is_error(reply.get(), "NOSCRIPT")) {
        // The server's script cache was flushed: the script did not run, so
        // loading it again and repeating the call is safe.
        if (status = load_scripts(); status != 0) {
            return status;
        }
        build();
        status = exchange(command, reply);
    }
    return status;
}

int Connection::transaction(std::vector<Command>& commands, Reply& reply) {
    const std::lock_guard guard(lock_);
    if (const int status = ensure(); status != 0) {
        return status;
    }
    Command multi;
    multi.add("MULTI");
    Command exec;
    exec.add("EXEC");
    bool queued = redisAppendCommandArgv(context_, 1, multi.argv(), multi.lens()) == REDIS_OK;
    for (Command& command : commands) {
        queued = queued && redisAppendCommandArgv(context_, static_cast<int>(command.size()), command.argv(),
                                                  command.lens()) == REDIS_OK;
    }
    if (!queued || redisAppendCommandArgv(context_, 1, exec.argv(), exec.lens()) != REDIS_OK) {
        // Only hiredis's own buffer could not grow; nothing was sent.
        drop();
        throw std::bad_alloc();
    }
    // MULTI's answer, one per queued command, then EXEC's. The first
    // refusal while queueing is the one to report: EXEC then only says the
    // transaction was discarded.
    int status = 0;
    for (std::size_t i = 0; i < commands.size() + 2; ++i) {
        void* raw = nullptr;
        if (redisGetReply(context_, &raw) != REDIS_OK) {
            set_last_error(context_->errstr);
            drop();
            return -ETIMEDOUT;
        }
        reply.reset(static_cast<redisReply*>(raw));
        if (status == 0 && reply->type == REDIS_REPLY_ERROR) {
            set_last_error(std::string_view(reply->str, reply->len));
            status = -EPROTO;
        }
    }
    if (status == 0 && (reply->type != REDIS_REPLY_ARRAY || reply->elements != commands.size())) {
        set_last_error("the server answered a transaction with no result per command");
        return -EPROTO;
    }
    return status;
}

int Connection::command(Command& args, Reply& reply) {
    const std::lock_guard guard(lock_);
    if (const int status = ensure(); status != 0) {
        return status;
    }
    return exchange(args, reply);
}

}  // namespace velkshared
