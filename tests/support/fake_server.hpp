// SPDX-License-Identifier: MIT
// A misbehaving server for the shared store's edge tests, in a thread of the
// test: it listens on a Unix socket of its own (and on a free loopback port),
// answers a connection's set-up as a server does, and everything else as the
// test says: late, a byte at a time, never, with bytes that are no answer,
// or by closing the connection. It stops with the test, and reaches only
// what it made itself.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velk_test {

// The loopback address at `port` (0: bind picks a free port).
inline sockaddr_in loopback_address(std::uint16_t port = 0) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds `fd` to a free loopback port and says which.
inline std::uint16_t bind_free_loopback_port(int fd) {
    sockaddr_in address = loopback_address();
    (void)bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

class FakeServer {
public:
    using Command = std::vector<std::string>;
    // The bytes to send back for a command; nothing: never answer it; the
    // text kClose: close the connection instead.
    using Answer = std::function<std::optional<std::string>(const Command&)>;
    static constexpr const char* kClose = "\x01close";

    struct Behaviour {
        Answer answer;                              // for every command after the set-up
        bool close_at_once = false;                 // accept, send `greeting`, close
        std::string greeting;                       // sent as soon as a connection is accepted
        bool setup_too = false;                     // the set-up commands go to `answer` as well
        std::chrono::milliseconds late{0};          // each request answered this late
        std::chrono::milliseconds drip{0};          // and its bytes this far apart
        std::string max_argument = "536870912";     // what CONFIG GET proto-max-bulk-len says
        std::string cluster_slots;                  // CLUSTER SLOTS's answer; empty: no cluster
        bool never_read = false;                    // accept, then read nothing at all
        std::chrono::milliseconds accept_after{0};  // accept nothing before; its queue holds one
    };

    explicit FakeServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
        char dir[] = "/tmp/velkfake.XXXXXX";
        dir_ = mkdtemp(dir) != nullptr ? dir : "";
        path_ = dir_ + "/fake.sock";
        unix_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        (void)bind(unix_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        const int backlog = behaviour_.accept_after.count() > 0 ? 0 : 16;
        listen(unix_fd_, backlog);
        tcp_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        port_ = bind_free_loopback_port(tcp_fd_);
        listen(tcp_fd_, backlog);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeServer() {
        stop_ = true;
        thread_.join();
        for (std::thread& conversation : conversations_) {
            conversation.join();
        }
        close(unix_fd_);
        close(tcp_fd_);
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    [[nodiscard]] std::string url() const { return "unix://" + path_; }
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] int connections() const { return connections_; }
    // From now on it answers nothing, set-up included, on every connection,
    // while it still accepts them: a paused machine.
    void hang() { hung_ = true; }
    // Every command received after the set-up, in order.
    [[nodiscard]] std::vector<Command> seen() {
        const std::lock_guard guard(lock_);
        return seen_;
    }

private:
    void serve() {
        pause(behaviour_.accept_after);
        while (!stop_) {
            pollfd both[2] = {{unix_fd_, POLLIN, 0}, {tcp_fd_, POLLIN, 0}};
            if (poll(both, 2, 20) <= 0) {
                continue;
            }
            for (const pollfd& one : both) {
                if ((one.revents & POLLIN) != 0) {
                    const int fd = accept4(one.fd, nullptr, nullptr, SOCK_CLOEXEC);
                    if (fd >= 0) {
                        if (one.fd == tcp_fd_) {
                            const int on = 1;  // as a server does: each answer goes out at once
                            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                        }
                        ++connections_;
                        conversations_.emplace_back([this, fd] {
                            converse(fd);
                            close(fd);
                        });
                    }
                }
            }
        }
    }

    // Sleeps in small steps, so that the test never waits for a long one.
    bool pause(std::chrono::milliseconds how_long) {
        const auto until = std::chrono::steady_clock::now() + how_long;
        while (!stop_ && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return !stop_;
    }

    bool say(int fd, const std::string& bytes) {
        if (behaviour_.drip.count() == 0) {
            return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
        }
        for (const char byte : bytes) {
            if (!pause(behaviour_.drip) || send(fd, &byte, 1, MSG_NOSIGNAL) != 1) {
                return false;
            }
        }
        return true;
    }

    std::optional<std::string> setup_answer(const Command& command) const {
        if (command[0] == "AUTH" || command[0] == "SELECT") {
            return "+OK\r\n";
        }
        if (command[0] == "CONFIG") {
            const std::string& n = behaviour_.max_argument;
            return "*2\r\n$18\r\nproto-max-bulk-len\r\n$" + std::to_string(n.size()) + "\r\n" + n + "\r\n";
        }
        if (command[0] == "CLUSTER") {
            return behaviour_.cluster_slots.empty() ? "-ERR This instance has cluster support disabled\r\n"
                                                    : behaviour_.cluster_slots;
        }
        if (command[0] == "PING") {
            return "+PONG\r\n";
        }
        return std::nullopt;
    }

    // Reads commands and answers them until the client or the test ends.
    void converse(int fd) {
        if (!behaviour_.greeting.empty() && !say(fd, behaviour_.greeting)) {
            return;
        }
        if (behaviour_.close_at_once) {
            return;
        }
        if (behaviour_.never_read) {
            pause(std::chrono::hours(1));  // until the test ends
            return;
        }
        std::string input;
        bool fresh = false;  // the first command of what arrived together
        while (!stop_) {
            Command command;
            while (!parse(input, command)) {
                pollfd one{fd, POLLIN, 0};
                if (stop_ || (poll(&one, 1, 20) > 0 && !read_more(fd, input))) {
                    return;
                }
                fresh = true;
            }
            if (hung_) {
                continue;
            }
            std::optional<std::string> answer = behaviour_.setup_too ? std::nullopt : setup_answer(command);
            if (!answer) {
                {
                    const std::lock_guard guard(lock_);
                    seen_.push_back(command);
                }
                answer = behaviour_.answer ? behaviour_.answer(command) : std::nullopt;
                if (!answer) {
                    continue;  // never answered
                }
            }
            // A late server answers a pipeline of commands late once.
            if (*answer == kClose || (fresh && !pause(behaviour_.late)) || !say(fd, *answer)) {
                return;
            }
            fresh = false;
        }
    }

    static bool read_more(int fd, std::string& input) {
        char buffer[65536];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return false;
        }
        input.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    // One "*N\r\n$L\r\n...\r\n" command from the front of `input`.
    static bool parse(std::string& input, Command& command) {
        command.clear();
        std::size_t at = 0;
        const auto number = [&](char kind, long& out) {
            const std::size_t end = input.find("\r\n", at);
            if (at >= input.size() || input[at] != kind || end == std::string::npos) {
                return false;
            }
            out = std::strtol(input.c_str() + at + 1, nullptr, 10);
            at = end + 2;
            return true;
        };
        long count = 0;
        if (!number('*', count)) {
            return false;
        }
        for (long i = 0; i < count; ++i) {
            long length = 0;
            if (!number('$', length) || input.size() < at + static_cast<std::size_t>(length) + 2) {
                return false;
            }
            command.emplace_back(input, at, static_cast<std::size_t>(length));
            at += static_cast<std::size_t>(length) + 2;
        }
        input.erase(0, at);
        return true;
    }

    Behaviour behaviour_;
    std::string dir_;
    std::string path_;
    int unix_fd_ = -1;
    int tcp_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> hung_{false};
    std::atomic<int> connections_{0};
    std::mutex lock_;
    std::vector<Command> seen_;
    std::vector<std::thread> conversations_;  // one per connection, joined at the end
    std::thread thread_;
};

}  // namespace velk_test
