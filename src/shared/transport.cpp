// SPDX-License-Identifier: MIT
#include "shared/transport.hpp"

#include <hiredis/hiredis.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

namespace velkshared {
namespace {

// Arguments shorter than this are copied into the request; longer ones are
// written from the caller's memory. A copy of a short one costs less than
// the extra piece of the write.
constexpr std::size_t kBorrowFrom = 4096;
// The pieces given to one sendmsg (at most IOV_MAX, 1024, on Linux).
constexpr int kPiecesPerWrite = 64;

thread_local char last_error_text[512];

// ": " and the system's text for an error number, in `buffer`.
std::string_view reason(int error, char (&buffer)[160]) noexcept {
    char text[128];
    // The GNU strerror_r: a text, not always in the buffer it is given.
    const int n = std::snprintf(buffer, sizeof buffer, ": %s", strerror_r(error, text, sizeof text));
    return {buffer, static_cast<std::size_t>(n)};
}

// " within N ms", N the call's whole time-out, in `buffer`.
std::string_view within(const Deadline& deadline, char (&buffer)[48]) noexcept {
    const int n = std::snprintf(buffer, sizeof buffer, " within %lld ms",
                                static_cast<long long>(deadline.budget().count()));
    return {buffer, static_cast<std::size_t>(n)};
}

// A protocol header: '*' and a command's argument count, or '$' and an
// argument's length.
void append_header(std::string& buffer, char kind, std::size_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    buffer += kind;
    buffer.append(digits, end);
    buffer += "\r\n";
}

}  // namespace

std::chrono::milliseconds Deadline::share_length() const noexcept {
    // A quarter, but never so little that a loaded machine misses it: the
    // least share is 200 ms (all of a shorter time-out).
    return std::max(budget_ / 4, std::min(budget_, std::chrono::milliseconds(200)));
}

Deadline Deadline::share() const noexcept {
    const auto part = share_length();
    const auto now = Clock::now();
    return now + part >= at_ ? *this : Deadline(now + part, part);
}

int Deadline::remaining_ms() const noexcept {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - Clock::now()).count();
    return static_cast<int>(std::max<decltype(left)>(left, 0));
}

void set_last_error(std::string_view text) noexcept {
    set_last_error(text, {}, {}, {});
}

void set_last_error(std::string_view first, std::string_view second, std::string_view third,
                    std::string_view fourth) noexcept {
    std::size_t at = 0;
    for (const std::string_view part : {first, second, third, fourth}) {
        const std::size_t n = std::min(part.size(), sizeof last_error_text - 1 - at);
        if (n != 0) {  // an unused part has no bytes, and no address to copy from
            std::memcpy(last_error_text + at, part.data(), n);
            at += n;
        }
    }
    last_error_text[at] = '\0';
}

const char* last_error() noexcept {
    return last_error_text;
}

void ReplyFree::operator()(redisReply* reply) const noexcept {
    freeReplyObject(reply);
}

void Request::begin(std::size_t arguments) {
    append_header(buffer_, '*', arguments);
    ++commands_;
}

void Request::begin_argument(std::size_t length) {
    append_header(buffer_, '$', length);
}

void Request::append(std::string_view piece) {
    if (piece.size() < kBorrowFrom) {
        buffer_.append(piece);
    } else {
        borrowed_.push_back({buffer_.size(), piece.data(), piece.size()});
    }
}

void Request::add(std::string_view argument) {
    begin_argument(argument.size());
    append(argument);
    end_argument();
}

void Request::add_copy(std::string_view argument) {
    begin_argument(argument.size());
    buffer_.append(argument);
    end_argument();
}

void Request::command(std::initializer_list<std::string_view> words) {
    begin(words.size());
    for (const std::string_view word : words) {
        add(word);
    }
}

void Request::clear() noexcept {
    // A request kept for the next call keeps its memory, up to a point: one
    // huge batch must not hold its copy for the handle's whole life.
    constexpr std::size_t kKept = std::size_t{1} << 20;
    if (buffer_.capacity() > kKept) {
        buffer_ = std::string();
    }
    if (borrowed_.capacity() > kKept / sizeof(Borrowed)) {
        borrowed_ = std::vector<Borrowed>();
    }
    buffer_.clear();
    borrowed_.clear();
    commands_ = 0;
}

void Link::close() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (reader_ != nullptr) {
        redisReaderFree(reader_);
        reader_ = nullptr;
    }
}

void Link::abandon() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    reader_ = nullptr;
    new (&where_) std::string();
}

int Link::fail(int status, std::string_view what, std::string_view detail, std::string_view more) noexcept {
    set_last_error(what, where_, detail, more);
    close();
    return status;
}

bool Link::wait_for(short events, const Deadline& deadline) noexcept {
    int ready = 0;
    do {
        pollfd one{fd_, events, 0};
        ready = poll(&one, 1, deadline.remaining_ms());
    } while (ready < 0 && errno == EINTR);  // the program's signal handlers end no wait
    return ready > 0;
}

int Link::connect(const Endpoint& endpoint, const Deadline& deadline) {
    close();
    where_ = describe(endpoint);
    owner_ = getpid();
    local_ = endpoint.unix_socket;
    reader_ = redisReaderCreate();
    if (reader_ == nullptr) {
        throw std::bad_alloc();
    }
    char text[160];
    char budget[48];
    // Every address the name has, in order, until one connects.
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(nullptr, freeaddrinfo);
    sockaddr_un unix_address{};
    addrinfo unix_info{};
    const addrinfo* candidates = &unix_info;
    if (endpoint.unix_socket) {
        unix_address.sun_family = AF_UNIX;
        // parse_url() refused paths that do not fit.
        std::memcpy(unix_address.sun_path, endpoint.path.data(),
                    std::min(endpoint.path.size(), sizeof unix_address.sun_path - 1));
        unix_info.ai_family = AF_UNIX;
        unix_info.ai_addr = reinterpret_cast<sockaddr*>(&unix_address);
        unix_info.ai_addrlen = sizeof unix_address;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const int resolved =
            getaddrinfo(endpoint.host.c_str(), std::to_string(endpoint.port).c_str(), &hints, &found);
        if (resolved != 0) {
            return fail(-ENOTCONN, "cannot find the server ", ": ", gai_strerror(resolved));
        }
        addresses.reset(found);
        candidates = found;
    }
    int error = ECONNREFUSED;
    for (const addrinfo* address = candidates; address != nullptr; address = address->ai_next) {
        fd_ = socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            error = errno;
            continue;
        }
        int connected = ::connect(fd_, address->ai_addr, address->ai_addrlen);
        // A Unix socket whose queue is full answers EAGAIN at once: wait a
        // little and try again, as a TCP connection would wait in the queue.
        while (connected != 0 && errno == EAGAIN && address->ai_family == AF_UNIX && !deadline.passed()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            connected = ::connect(fd_, address->ai_addr, address->ai_addrlen);
        }
        if (connected != 0 && errno == EINPROGRESS) {
            if (!wait_for(POLLOUT, deadline)) {
                return fail(-ENOTCONN, "no connection to ", within(deadline, budget));
            }
            // How the connection attempt ended (poll's own failure aside,
            // which leaves it unfinished: ENOTCONN then).
            socklen_t size = sizeof error;
            error = ENOTCONN;
            getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
            connected = error == 0 ? 0 : -1;
            errno = error;
        }
        if (connected == 0) {
            if (address->ai_family != AF_UNIX) {
                const int on = 1;
                setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            }
            return 0;
        }
        error = errno;
        ::close(fd_);
        fd_ = -1;
        if (deadline.passed()) {
            return fail(-ENOTCONN, "no connection to ", within(deadline, budget));
        }
    }
    return fail(-ENOTCONN, "cannot connect to ", reason(error, text));
}

bool Link::stale() const noexcept {
    pollfd probe{fd_, POLLIN, 0};
    return poll(&probe, 1, 0) != 0;
}

int Link::send(const Request& request, const Deadline& deadline) {
    // The request is the buffer with the borrowed arguments in their
    // places: piece 2i is buffer_ up to borrowed i, piece 2i+1 borrowed i.
    const std::string& buffer = request.buffer_;
    const auto& borrowed = request.borrowed_;
    const std::size_t pieces = 2 * borrowed.size() + 1;
    const auto piece = [&](std::size_t k) -> std::string_view {
        if (k % 2 == 1) {
            return {borrowed[k / 2].bytes, borrowed[k / 2].length};
        }
        const std::size_t from = k == 0 ? 0 : borrowed[k / 2 - 1].at;
        const std::size_t to = k / 2 < borrowed.size() ? borrowed[k / 2].at : buffer.size();
        return {buffer.data() + from, to - from};
    };
    // A piece may be empty (between two borrowed parts of one argument):
    // sendmsg() takes an empty piece as it is.
    std::size_t k = 0;
    std::size_t offset = 0;  // into piece k
    char text[160];
    char budget[48];
    while (k < pieces) {
        iovec out[kPiecesPerWrite];
        std::size_t n = 0;
        for (std::size_t j = k; j < pieces && n < kPiecesPerWrite; ++j) {
            const std::string_view bytes = piece(j).substr(j == k ? offset : 0);
            out[n++] = iovec{const_cast<char*>(bytes.data()), bytes.size()};
        }
        msghdr message{};
        message.msg_iov = out;
        message.msg_iovlen = n;
        // MSG_NOSIGNAL: a closed connection is an error here, never a
        // signal in the caller's process. The socket does not block, so
        // no signal interrupts the call itself.
        const ssize_t written = sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (written < 0) {
            if (k == 0 && offset == 0 && (errno == EPIPE || errno == ECONNRESET)) {
                return fail(-ENOTCONN, "the server at ", " had closed the connection", reason(errno, text));
            }
            if (errno != EAGAIN) {
                return fail(-ETIMEDOUT, "the connection to ", " broke while a request went out",
                            reason(errno, text));
            }
            // The server takes no more for now: wait until it does.
            if (!wait_for(POLLOUT, deadline)) {
                return fail(-ETIMEDOUT, "no answer from ", within(deadline, budget),
                            " (it took no more of the request)");
            }
            continue;
        }
        auto left = static_cast<std::size_t>(written);
        while (left > 0) {
            const std::size_t rest = piece(k).size() - offset;
            if (left < rest) {
                offset += left;
                break;
            }
            left -= rest;
            ++k;
            offset = 0;
        }
        while (k < pieces && piece(k).size() == offset) {
            ++k;
            offset = 0;
        }
    }
    return 0;
}

int Link::receive(Reply& reply, const Deadline& deadline) {
    char text[160];
    char budget[48];
    for (;;) {
        void* parsed = nullptr;
        if (redisReaderGetReply(reader_, &parsed) != REDIS_OK) {
            return reader_->err == REDIS_ERR_OOM
                       ? fail(-ETIMEDOUT, "out of memory while an answer from ",
                              " was read: the connection was closed")
                       : fail(-EPROTO, "the answer from ", " is not the server's protocol");
        }
        if (parsed != nullptr) {
            reply.reset(static_cast<redisReply*>(parsed));
            return 0;
        }
        char buffer[16384];
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            if (redisReaderFeed(reader_, buffer, static_cast<std::size_t>(got)) != REDIS_OK) {
                return fail(-ETIMEDOUT, "out of memory while an answer from ",
                            " was read: the connection was closed");
            }
            continue;
        }
        if (got == 0) {
            return fail(-ETIMEDOUT, "the server at ", " closed the connection before it answered");
        }
        if (errno != EAGAIN) {
            return fail(-ETIMEDOUT, "the connection to ", " broke before its answer came",
                        reason(errno, text));
        }
        if (!wait_for(POLLIN, deadline)) {
            return fail(-ETIMEDOUT, "no answer from ", within(deadline, budget));
        }
    }
}

}  // namespace velkshared
