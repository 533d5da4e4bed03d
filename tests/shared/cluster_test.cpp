// SPDX-License-Identifier: MIT
// The shared store on a cluster of three masters with a replica each (the
// fixture's, on free loopback ports), always reached through the first
// master: a store's slot moved while another
// process puts, reads and makes namespaces in it, velkshared-ctl listing the stores of every
// master, and the failover of a store's master. Run in this order, in one
// process: the failover leaves a master stopped.
#include <gtest/gtest.h>
#include <hiredis/hiredis.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cluster_slots.hpp"
#include "redis_words.hpp"
#include "velk_test.hpp"
#include "velkshared.h"

using namespace velk_test;
using Clock = std::chrono::steady_clock;

namespace {

// The fixture's cluster: VELKSHARED_URL lists its masters' Unix sockets.
std::string seed_url() {
    const char* url = std::getenv("VELKSHARED_URL");
    return url != nullptr ? url : "";
}

// The loopback port of master `index` (0, 1, 2), which its socket tells.
int master_port(int index) {
    std::string sockets = seed_url();
    for (int i = 0; i < index; ++i) {
        sockets = sockets.substr(sockets.find(',') + 1);
    }
    const std::string path = sockets.substr(std::string("unix://").size(), sockets.find(',') - 7);
    redisContext* context = redisConnectUnix(path.c_str());
    auto* reply = context != nullptr && context->err == 0
                      ? static_cast<redisReply*>(redisCommand(context, "CONFIG GET port"))
                      : nullptr;
    const int port = reply != nullptr && reply->elements == 2 ? std::atoi(reply->element[1]->str) : -1;
    freeReplyObject(reply);
    redisFree(context);
    return port;
}

int base_port() {
    static const int port = master_port(0);
    return port;
}

// Administration of one node, through hiredis directly.
class Node {
public:
    explicit Node(int port) : port_(port), context_(redisConnect("127.0.0.1", port)) {}
    ~Node() {
        freeReplyObject(last_);
        redisFree(context_);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // The answer of a command given as words; empty text for an error.
    redisReply* ask(const std::vector<std::string>& words) {
        freeReplyObject(last_);
        last_ = ask_words(context_, words);
        return last_;
    }
    std::string id() { return ask({"CLUSTER", "MYID"})->str; }
    [[nodiscard]] int port() const { return port_; }

private:
    int port_;
    redisContext* context_;
    redisReply* last_ = nullptr;
};

int slot_of(const std::string& store) {
    return slot_of_store(store);
}

// The port of the master that serves a slot now.
int owner_of(int slot) {
    Node seed(base_port());
    const redisReply* slots = seed.ask({"CLUSTER", "SLOTS"});
    for (std::size_t i = 0; slots != nullptr && i < slots->elements; ++i) {
        const redisReply* range = slots->element[i];
        if (slot >= range->element[0]->integer && slot <= range->element[1]->integer) {
            return static_cast<int>(range->element[2]->element[1]->integer);
        }
    }
    return -1;
}

// A store name, from `base`, whose slot lies on the master at `port` (or,
// with `other_than`, on any master but that one).
std::string store_on(const std::string& base, int port, bool other_than = false) {
    for (int attempt = 0;; ++attempt) {
        std::string name = base + "~" + std::to_string(attempt);
        const int owner = owner_of(slot_of(name));
        if (other_than ? owner != port && owner > 0 : owner == port) {
            return name;
        }
    }
}

Client client_on(const std::string& store) {
    setenv("VELKSHARED_URL", seed_url().c_str(), 1);
    setenv("VELKSHARED_STORE", store.c_str(), 1);
    return make_client();
}

// Puts one version into every key, reads them back: false for a failed
// call, a lost or a torn batch.
bool round_trip(velk_client* client, const std::vector<std::string>& keys, int round) {
    const std::string value =
        "round-" + std::to_string(round) + std::string(static_cast<std::size_t>(round % 5), '+');
    std::vector<PutSpec> planned;
    for (const auto& key : keys) {
        planned.emplace_back(key, value);
    }
    if (put(client, "ns", planned) != VELK_OK) {
        return false;
    }
    for (const auto& key : keys) {
        if (get_value(client, "ns", key.c_str()) != value) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(Cluster, AStoresSlotMovesWhileAnotherProcessUsesIt) {
    const std::string store = store_on("reshard", base_port());
    ASSERT_EQ(velkshared_clear(seed_url().c_str(), store.c_str()), 0) << velkshared_last_error();
    const std::vector<std::string> keys = {"a", "b", "c", "d", "e", "f", "g", "h"};
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Client client = client_on(store);
        int rounds = 0;
        bool ok = client != nullptr;
        const auto until = Clock::now() + std::chrono::milliseconds(4000);
        while (ok && Clock::now() < until) {
            ok = round_trip(client.get(), keys, ++rounds);
            // The namespace calls too: a new namespace has no keys yet, so
            // while the slot moves its old node answers ASK and the new one
            // TRYAGAIN (and NOSCRIPT: it never ran the script).
            const std::string space = "space-" + std::to_string(rounds);
            velk_namespace_info_t info{};
            ok = ok && velk_create_namespace(client.get(), space.c_str(), nullptr) == VELK_OK &&
                 velk_get_namespace(client.get(), space.c_str(), &info) == VELK_OK &&
                 velk_delete_namespace(client.get(), space.c_str()) == VELK_OK;
            if (!ok) {
                std::fprintf(stderr, "round %d: %s\n", rounds, velkshared_last_error());
            }
        }
        _exit(ok && rounds > 10 ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Move the slot from its master to the next one, as redis-cli's reshard
    // does: importing, migrating, the keys one batch at a time, then the
    // slot's new owner told to every master.
    const int slot = slot_of(store);
    Node from(base_port());
    Node to(master_port(1));
    const std::string slot_text = std::to_string(slot);
    ASSERT_EQ(to.ask({"CLUSTER", "SETSLOT", slot_text, "IMPORTING", from.id()})->type, REDIS_REPLY_STATUS);
    ASSERT_EQ(from.ask({"CLUSTER", "SETSLOT", slot_text, "MIGRATING", to.id()})->type, REDIS_REPLY_STATUS);
    for (;;) {
        // One key at a time, slowly: for more than a second the store's keys
        // lie on both nodes, and every call that names several meets ASK,
        // then TRYAGAIN, again and again.
        const redisReply* batch = from.ask({"CLUSTER", "GETKEYSINSLOT", slot_text, "1"});
        ASSERT_EQ(batch->type, REDIS_REPLY_ARRAY);
        if (batch->elements == 0) {
            break;
        }
        std::vector<std::string> migrate = {"MIGRATE", "127.0.0.1", std::to_string(to.port()), "", "0",
                                            "5000",    "KEYS"};
        for (std::size_t i = 0; i < batch->elements; ++i) {
            migrate.emplace_back(batch->element[i]->str, batch->element[i]->len);
        }
        const redisReply* moved = from.ask(migrate);
        ASSERT_NE(moved->type, REDIS_REPLY_ERROR) << moved->str;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    // Every key has moved, and the slot is not yet the new node's: a call
    // naming a key that exists nowhere (a new namespace's entries) is sent
    // on by the old node (ASK) and held back by the new one (TRYAGAIN) until
    // the slot is handed over, here for longer than a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::string new_owner = to.id();
    for (int index = 0; index < 3; ++index) {
        Node master(master_port(index));
        master.ask({"CLUSTER", "SETSLOT", slot_text, "NODE", new_owner});
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a call failed, or a batch was lost or torn";
    EXPECT_EQ(owner_of(slot), to.port());
    // This process's handle, made before, follows the store too.
    Client client = client_on(store);
    EXPECT_TRUE(round_trip(client.get(), keys, 1000));
}

TEST(Cluster, CtlListsTheStoresOfEveryMaster) {
    std::vector<std::string> stores;
    std::vector<int> ports;
    for (int index = 0; index < 3; ++index) {
        ports.push_back(master_port(index));
        stores.push_back(store_on("listed-" + std::to_string(ports.back()), ports.back()));
    }
    for (const std::string& store : stores) {
        ASSERT_EQ(velkshared_clear(seed_url().c_str(), store.c_str()), 0);
        Client client = client_on(store);
        ASSERT_EQ(put_one(client.get(), "one", "k", "v"), VELK_OK);
    }
    const std::string command = std::string(VELKSHARED_TEST_CTL) + " stores --url '" + seed_url() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
    EXPECT_EQ(pclose(pipe), 0);
    // Each on the master that holds it.
    for (std::size_t i = 0; i < stores.size(); ++i) {
        const std::string line = "store \"" + stores[i] +
                                 "\": 1 namespace, on redis://127.0.0.1:" + std::to_string(ports[i]) + "\n";
        EXPECT_NE(out.find(line), std::string::npos) << line << " in\n" << out;
    }
}

// The empty name is a store like any other: its keys share one slot too.
TEST(Cluster, TheEmptyStoreNameWorks) {
    ASSERT_EQ(velkshared_clear(seed_url().c_str(), ""), 0) << velkshared_last_error();
    Client client = client_on("");
    ASSERT_TRUE(client);
    EXPECT_TRUE(round_trip(client.get(), {"a", "b", "c"}, 1));
    const char* keys[] = {"a", "b"};
    int32_t statuses[2] = {};
    EXPECT_EQ(velk_batch_delete(client.get(), "ns", keys, 2, nullptr, statuses, 2, nullptr), VELK_OK)
        << velkshared_last_error();
    EXPECT_EQ(statuses[0], VELK_OK);
    EXPECT_EQ(velkshared_clear(seed_url().c_str(), ""), 0);
}

TEST(Cluster, TheStoresMasterFailsOverAndTheHandleFollows) {
    // A store on a master other than the URL's node, which stays up.
    const std::string store = store_on("failover", base_port(), true);
    const int master = owner_of(slot_of(store));
    ASSERT_EQ(velkshared_clear(seed_url().c_str(), store.c_str()), 0);
    Client client = client_on(store);
    ASSERT_TRUE(client);
    ASSERT_EQ(put_one(client.get(), "ns", "k", "before"), VELK_OK);
    {
        // Written to the replica before its master goes.
        Node node(master);
        ASSERT_EQ(node.ask({"WAIT", "1", "5000"})->integer, 1);
        node.ask({"SHUTDOWN", "NOSAVE"});
    }
    // Until a replica has taken over, calls fail with -107 or -110, never
    // with a wrong answer; then they work again on the same handle.
    const auto until = Clock::now() + std::chrono::seconds(40);
    bool back = false;
    int failures = 0;
    while (!back && Clock::now() < until) {
        velk_get_item_t item{};
        item.key = "k";
        char buffer[16] = {};
        void* buffers[] = {buffer};
        const uint64_t sizes[] = {sizeof buffer};
        int32_t value_status = 0;
        uint64_t length = 0;
        const int rc = velk_batch_get_into(client.get(), "ns", &item, 1, buffers, sizes, &value_status,
                                           &length, nullptr);
        if (rc == VELK_OK) {
            EXPECT_EQ(std::string(buffer, length), "before");
            back = true;
        } else {
            EXPECT_TRUE(rc == -ENOTCONN || rc == -ETIMEDOUT) << rc << " " << velkshared_last_error();
            ++failures;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ASSERT_TRUE(back) << "no replica took over";
    EXPECT_GT(failures, 0);
    EXPECT_NE(owner_of(slot_of(store)), master);
    EXPECT_EQ(put_one(client.get(), "ns", "k", "after"), VELK_OK);
    EXPECT_EQ(get_value(client.get(), "ns", "k"), "after");
}
