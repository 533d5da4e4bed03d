// SPDX-License-Identifier: MIT
// libvelkshared at its edges, against servers that misbehave (tests/support/
// fake_server.hpp): no signal in the caller's process, sockets that are
// close-on-exec from birth, one deadline per call, a code and a text for
// every failure, and answers that are not what a server says.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "fake_server.hpp"
#include "velk_test.hpp"
#include "velkshared.h"

using namespace velk_test;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// Every socket the library connects, and whether it was close-on-exec
// already: a program started by another thread in between would inherit
// one that was not.
std::atomic<int> connected{0};
std::atomic<int> connected_inheritable{0};

}  // namespace

// The library's connect() comes here first (the executable's definition
// takes its place), then goes to the C library's.
extern "C" int connect(int fd, const sockaddr* address, socklen_t size) {
    using Real = int (*)(int, const sockaddr*, socklen_t);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "connect"));
    ++connected;
    if ((fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0) {
        ++connected_inheritable;
    }
    return real(fd, address, size);
}

namespace {

// The environment a create reads, set for one test and put back after it.
class Place {
public:
    Place(const std::string& url, const char* timeout_ms = "1000") {
        setenv("VELKSHARED_URL", url.c_str(), 1);
        setenv("VELKSHARED_STORE", "edges", 1);
        setenv("VELKSHARED_TIMEOUT_MS", timeout_ms, 1);
    }
    ~Place() {
        unsetenv("VELKSHARED_URL");
        unsetenv("VELKSHARED_STORE");
        unsetenv("VELKSHARED_TIMEOUT_MS");
    }
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
};

std::string text() {
    return velkshared_last_error();
}

long long elapsed_ms(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// How late a call with a time-out of 1000 ms may return: the time-out,
// and room for a loaded machine (local work is a few milliseconds).
constexpr long long kLatest = 1400;

// A server that answers the set-up and then every command with `bytes`.
FakeServer::Behaviour answering(const std::string& bytes) {
    FakeServer::Behaviour behaviour;
    behaviour.answer = [bytes](const FakeServer::Command&) { return bytes; };
    return behaviour;
}

// velkshared-ctl's exit status, or -signal when a signal ended it.
int ctl_status(const std::string& arguments) {
    const int status = std::system((std::string(VELKSHARED_TEST_CTL) + " " + arguments + " > /dev/null 2>&1").c_str());
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace

// A server that accepts and closes (full, shutting down, in protected mode):
// the calls fail with a code, whatever the process does with SIGPIPE, which
// stays as it was.
TEST(Edges, AClosingServerRaisesNoSignal) {
    struct sigaction before {};
    struct sigaction deflt {};
    deflt.sa_handler = SIG_DFL;
    ASSERT_EQ(sigaction(SIGPIPE, &deflt, &before), 0);
    for (const char* greeting : {"", "-ERR max number of clients reached\r\n"}) {
        FakeServer::Behaviour closing;
        closing.close_at_once = true;
        closing.greeting = greeting;
        FakeServer server(closing);
        const Place place(server.url());
        for (int round = 0; round < 20; ++round) {
            errno = 0;
            EXPECT_EQ(make_client(), nullptr);
            EXPECT_EQ(errno, ENOTCONN);
            EXPECT_NE(text(), "");
            EXPECT_EQ(velkshared_clear(nullptr, nullptr), -ENOTCONN);
        }
        EXPECT_EQ(ctl_status("show --url " + server.url()), 1);
    }
    // A handle whose server closes as a request arrives.
    FakeServer::Behaviour hanging_up = answering(FakeServer::kClose);
    FakeServer server(hanging_up);
    const Place place(server.url());
    Client client = make_client();
    ASSERT_TRUE(client);
    for (int round = 0; round < 20; ++round) {
        const int rc = put_one(client.get(), "ns", "k", std::string(100000, 'v'));
        EXPECT_TRUE(rc == -ETIMEDOUT || rc == -ENOTCONN) << rc;
        EXPECT_NE(text(), "");
    }
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGPIPE, &before, &after), 0);
    EXPECT_EQ(after.sa_handler, SIG_DFL);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(Edges, EverySocketIsCloseOnExecFromItsBirth) {
    FakeServer server(answering("*0\r\n"));
    const Place place(server.url());
    connected = 0;
    connected_inheritable = 0;
    Client client = make_client();
    ASSERT_TRUE(client);
    EXPECT_EQ(velkshared_clear(nullptr, nullptr), -EPROTO);  // an answer that is no list of names
    EXPECT_GE(connected.load(), 2);
    EXPECT_EQ(connected_inheritable.load(), 0);
}

// The time-out bounds the whole call: set-up, script loading and retries
// included, not each read.
TEST(Edges, OneDeadlinePerCall) {
    {
        // One byte every 0.3 s: each read would finish in time.
        FakeServer::Behaviour dripping;
        dripping.drip = milliseconds(300);
        FakeServer server(dripping);
        const Place place(server.url());
        const auto start = Clock::now();
        errno = 0;
        EXPECT_EQ(make_client(), nullptr);
        EXPECT_EQ(errno, ETIMEDOUT);
        EXPECT_LT(elapsed_ms(start), kLatest);
        EXPECT_NE(text().find("no answer from unix://"), std::string::npos) << text();
        EXPECT_NE(text().find("within 1000 ms"), std::string::npos) << text();
    }
    {
        // Each answer 0.6 s late: a create (one round trip) is in time; a
        // delete whose script the server lost needs two, and is not.
        FakeServer::Behaviour late;
        late.late = milliseconds(600);
        late.answer = [](const FakeServer::Command& command) -> std::optional<std::string> {
            if (command[0] == "EVALSHA") {
                return std::string("-NOSCRIPT No matching script.\r\n");
            }
            return std::string("$40\r\n") + std::string(40, 'a') + "\r\n";
        };
        FakeServer server(late);
        const Place place(server.url());
        Client client = make_client();
        ASSERT_TRUE(client) << text();
        const char* keys[] = {"k"};
        int32_t status = 0;
        const auto start = Clock::now();
        EXPECT_EQ(velk_batch_delete(client.get(), "ns", keys, 1, nullptr, &status, 1, nullptr), -ETIMEDOUT);
        EXPECT_LT(elapsed_ms(start), kLatest);
        EXPECT_NE(text().find("within 1000 ms"), std::string::npos) << text();
    }
    {
        // Never an answer after the set-up; the cluster always busy; and a
        // call that waits for another one's turn on the same handle.
        FakeServer silent(FakeServer::Behaviour{});
        FakeServer busy(answering("-TRYAGAIN Multiple keys request during rehashing of slot\r\n"));
        for (FakeServer* server : {&silent, &busy}) {
            const Place place(server->url());
            Client client = make_client();
            ASSERT_TRUE(client);
            std::atomic<long long> slowest{0};
            std::vector<std::thread> callers;
            for (int t = 0; t < 3; ++t) {
                callers.emplace_back([&] {
                    const auto start = Clock::now();
                    EXPECT_EQ(get_value(client.get(), "ns", "k"), std::nullopt);
                    slowest = std::max(slowest.load(), elapsed_ms(start));
                });
            }
            for (std::thread& caller : callers) {
                caller.join();
            }
            EXPECT_LT(slowest.load(), kLatest);
            velk_get_item_t item{};
            item.key = "k";
            char buffer[4];
            void* buffers[] = {buffer};
            const uint64_t sizes[] = {sizeof buffer};
            int32_t status = 0;
            uint64_t length = 0;
            EXPECT_EQ(velk_batch_get_into(client.get(), "ns", &item, 1, buffers, sizes, &status, &length, nullptr),
                      -ETIMEDOUT);
            EXPECT_NE(text().find(server == &silent ? "no answer" : "did not serve"), std::string::npos) << text();
        }
    }
}

// Redirections to nowhere and without end: a code and a text, never a
// loop or a crash.
TEST(Edges, RedirectionsThatLeadNowhere) {
    FakeServer nowhere(answering("-MOVED 1 127.0.0.1:1\r\n"));
    FakeServer asked(answering("-ASK 1 127.0.0.1:1\r\n"));
    for (FakeServer* server : {&nowhere, &asked}) {
        const Place place(server->url());
        Client client = make_client();
        ASSERT_TRUE(client);
        EXPECT_EQ(put_one(client.get(), "ns", "k", "v"), -ENOTCONN);
        EXPECT_NE(text().find("cannot connect to redis://127.0.0.1:1"), std::string::npos) << text();
    }
    // Sent back to itself again and again.
    FakeServer::Behaviour circling;
    int port = 0;
    circling.answer = [&port](const FakeServer::Command&) -> std::optional<std::string> {
        return "-MOVED 1 127.0.0.1:" + std::to_string(port) + "\r\n";
    };
    FakeServer circle(circling);
    port = circle.port();
    const Place place(circle.url());
    Client client = make_client();
    ASSERT_TRUE(client);
    EXPECT_EQ(put_one(client.get(), "ns", "k", "v"), -EPROTO);
    EXPECT_NE(text().find("MOVED"), std::string::npos) << text();
}

// Answers that no server of the store gives: every call fails with -71 and
// a text (or reads them as nothing stored), writes no record, and the
// handle stays usable.
TEST(Edges, AnswersThatAreNotTheStoresAreRefused) {
    const char* answers[] = {":7\r\n",        "*0\r\n",           "$-1\r\n", "+OK\r\n",
                             "*1\r\n:1\r\n", "*2\r\n$1\r\nx\r\n:1\r\n", "-ERR no\r\n", "?not the protocol\r\n"};
    for (const char* answer : answers) {
        FakeServer server(answering(answer));
        const Place place(server.url());
        Client client = make_client();
        ASSERT_TRUE(client) << answer;
        velk_namespace_info_t info{};
        int total = -1;
        velk_query_result_t result{};
        const char* keys[] = {"k"};
        int32_t status = 99;
        const velk_meta_pair_t filter[] = {{"m", "1"}};
        velk_get_item_t filtered{};
        filtered.key = "k";
        filtered.meta_filter = filter;
        filtered.meta_filter_count = 1;
        const auto callback = [](int32_t, const void* const*, const uint64_t*, const int32_t*, void*) { return 0; };
        const std::vector<std::pair<const char*, int>> calls = {
            {"put", put(client.get(), "ns", {PutSpec{"k", "v", {{"m", "1"}}, 3, 2}})},
            {"get", get_value(client.get(), "ns", "k") ? 0 : -1},
            {"filtered get", velk_batch_get(client.get(), "ns", &filtered, 1, callback, nullptr, nullptr)},
            {"query", velk_batch_query(client.get(), "ns", keys, 1, nullptr, &result, 1)},
            {"delete", velk_batch_delete(client.get(), "ns", keys, 1, nullptr, &status, 1, nullptr)},
            {"create", velk_create_namespace(client.get(), "ns", nullptr)},
            {"update", velk_update_namespace(client.get(), "ns", nullptr)},
            {"drop", velk_delete_namespace(client.get(), "ns")},
            {"describe", velk_get_namespace(client.get(), "ns", &info)},
            {"list", velk_list_namespaces(client.get(), &info, 1, &total)},
        };
        for (const auto& [call, rc] : calls) {
            if (rc < 0 && rc != -1 && rc != VELK_ERR_NAMESPACE_NOT_FOUND) {
                EXPECT_TRUE(rc == -EPROTO || rc == -ETIMEDOUT) << answer << " " << call << ": " << rc;
                EXPECT_NE(text(), "") << answer << " " << call;
            }
        }
        if (calls[3].second == 1) {
            velk_query_result_free(&result, 1);
        }
        EXPECT_TRUE(status == 99 || status == VELK_ERR_NOT_FOUND || status == VELK_OK) << answer;
    }
}

// A URL that cannot be used: a create fails with EINVAL and a text that
// says which part is wrong, and never shows the password.
TEST(Edges, UrlsThatCannotBeUsedAreExplained) {
    const std::string long_path = "unix:///tmp/" + std::string(100, 'p') + ".sock";
    const struct {
        std::string url;
        const char* says;
    } cases[] = {
        {"http://:s3cret@host", "scheme is not supported"},
        {"redis://s3cret@host", "has no \":\""},
        {"redis://:s3cret@host:99999", "port"},
        {"redis://:s3cret@host/x", "database"},
        {long_path, "longer than a socket address"},
    };
    for (const auto& c : cases) {
        const Place place(c.url);
        errno = 0;
        EXPECT_EQ(make_client(), nullptr) << c.url;
        EXPECT_EQ(errno, EINVAL) << c.url;
        EXPECT_NE(text().find(c.says), std::string::npos) << c.url << ": " << text();
        EXPECT_EQ(text().find("s3cret"), std::string::npos) << text();
        EXPECT_EQ(velkshared_clear(nullptr, nullptr), -EINVAL);
        EXPECT_NE(text().find(c.says), std::string::npos) << c.url << ": " << text();
    }
    const Place place("redis://127.0.0.1", "soon");
    EXPECT_EQ(make_client(), nullptr);
    EXPECT_NE(text().find("VELKSHARED_TIMEOUT_MS"), std::string::npos) << text();
}
