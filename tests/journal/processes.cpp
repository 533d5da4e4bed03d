// SPDX-License-Identifier: MIT
// A program of several processes with a journal: a child made by fork that
// goes on with a handle it inherited and makes one of its own, a program
// started with exec that makes its own, and a parent that changes what it
// shared after the fork; and beside them the calls a journal must record
// exactly (numbers past 2^53, a double's last bit, items in an order, an
// item the library refuses without reading it). Every answer is checked;
// exits 0 when every one was right. Run with "helper" by itself; with
// "forks", forks at awkward moments (a double fork, a fork inside a call);
// with "errno", says what errno holds when main begins.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "velkmock.h"

extern char** environ;

namespace {

int wrong = 0;

void check(bool right, const char* what) {
    if (!right) {
        std::fprintf(stderr, "journal processes: wrong: %s\n", what);
        ++wrong;
    }
}

velk_client* make() {
    static const int config = 0;
    velk_client* client = velk_client_create(&config);
    check(client != nullptr, "a create");
    return client;
}

void put(velk_client* client, const char* key, const std::string& value) {
    const void* parts[] = {value.data()};
    const size_t lens[] = {value.size()};
    velk_put_item_t item;
    std::memset(&item, 0, sizeof item);
    item.key = key;
    item.value_parts = parts;
    item.value_part_lens = lens;
    item.value_part_count = 1;
    velk_put_result_t result;
    check(velk_batch_put(client, "shared", &item, 1, &result, 1, nullptr) == VELK_OK &&
              result.status == VELK_OK,
          "a put");
}

std::string get(velk_client* client, const char* key) {
    velk_get_item_t item;
    std::memset(&item, 0, sizeof item);
    item.key = key;
    char buffer[64] = {};
    void* buffers[] = {buffer};
    const uint64_t sizes[] = {sizeof buffer};
    int32_t status = 0;
    uint64_t length = 0;
    check(
        velk_batch_get_into(client, "shared", &item, 1, buffers, sizes, &status, &length, nullptr) == VELK_OK,
        "a get");
    return status > 0 ? std::string(buffer, length) : std::string();
}

// The calls whose answers have the most to compare.
void exact_answers(velk_client* client) {
    velk_namespace_options_t options{(int64_t{1} << 53) + 2, "lfu", 0.1};
    // A create that fails: what the library leaves in errno is compared.
    check(velk_client_create(nullptr) == nullptr, "a create without its configuration");
    check(velk_create_namespace(client, "exact", &options) == VELK_OK, "a create of a namespace");
    const std::string values[] = {"first", "second", "third"};
    velk_put_item_t items[3];
    const void* parts[3];
    size_t lens[3];
    const char* keys[] = {"a", "b", "c"};
    velk_meta_pair_t meta[] = {{"colour", "blue"}};
    for (int i = 0; i < 3; ++i) {
        std::memset(&items[i], 0, sizeof items[i]);
        parts[i] = values[i].data();
        lens[i] = values[i].size();
        items[i].key = keys[i];
        items[i].value_parts = &parts[i];
        items[i].value_part_lens = &lens[i];
        items[i].value_part_count = 1;
        items[i].replica_count = i + 1;
        items[i].metadata = meta;
        items[i].metadata_count = i == 1 ? 1 : 0;
    }
    velk_put_result_t results[3];
    check(velk_batch_put(client, "exact", items, 3, results, 3, nullptr) == VELK_OK, "a put of three");
    // An item the library refuses without reading it: a NULL key beside
    // pointers that lead nowhere, on purpose.
    // NOLINTBEGIN(performance-no-int-to-ptr)
    velk_put_item_t refused;
    std::memset(&refused, 0, sizeof refused);
    refused.value_parts = reinterpret_cast<const void* const*>(std::uintptr_t{8});
    refused.value_part_lens = reinterpret_cast<const size_t*>(std::uintptr_t{8});
    refused.value_part_count = 3;
    refused.metadata = reinterpret_cast<const velk_meta_pair_t*>(std::uintptr_t{8});
    refused.metadata_count = 2;
    // NOLINTEND(performance-no-int-to-ptr)
    velk_put_result_t refused_result;
    check(velk_batch_put(client, "exact", &refused, 1, &refused_result, 1, nullptr) == VELK_OK &&
              refused_result.status == VELK_ERR_INVALID_ARGUMENT,
          "a put of an item with a NULL key");
    velk_get_item_t gets[3];
    char buffers[3][16];
    void* pointers[3];
    uint64_t sizes[3];
    int32_t statuses[3];
    uint64_t value_lens[3];
    for (int i = 0; i < 3; ++i) {
        std::memset(&gets[i], 0, sizeof gets[i]);
        gets[i].key = keys[i];
        pointers[i] = buffers[i];
        sizes[i] = sizeof buffers[i];
    }
    check(velk_batch_get_into(client, "exact", gets, 3, pointers, sizes, statuses, value_lens, nullptr) ==
                  VELK_OK &&
              value_lens[2] == 5,
          "a get of three");
    velk_query_result_t found[3];
    check(velk_batch_query(client, "exact", keys, 3, nullptr, found, 3) == 3 && found[1].metadata_count == 1,
          "a query of three");
    velk_query_result_free(found, 3);
    velk_namespace_info_t info;
    check(velk_get_namespace(client, "exact", &info) == VELK_OK &&
              info.capacity_bytes == options.capacity_bytes,
          "a namespace's settings");
    // A flat delete goes through the delete with items: a call within a
    // call, on one thread, which overlaps nothing.
    const char* gone[] = {"a", "nothing"};
    int32_t deleted[2];
    check(velk_batch_delete(client, "exact", gone, 2, nullptr, deleted, 2, nullptr) == VELK_OK &&
              deleted[0] == VELK_OK && deleted[1] == VELK_ERR_NOT_FOUND,
          "a flat delete");
    velk_node_info_t nodes[2];
    check(velk_get_nodes(client, nullptr, nodes, 2) == 2, "the nodes");
}

extern "C" int lent(int32_t, const void* const*, const uint64_t*, const int32_t*, void*) {
    return 0;
}

int helper() {
    velk_client* own = make();
    put(own, "k", "from the helper");
    check(get(own, "k") == "from the helper", "the helper's own value");
    velk_client_destroy(own);
    return wrong == 0 ? 0 : 1;
}

// A child forked inside a get's callback, which returns through the call
// its parent began.
pid_t forked_in_callback = -1;
extern "C" int fork_here(int32_t, const void* const*, const uint64_t*, const int32_t*, void*) {
    forked_in_callback = fork();
    return 0;
}

// Forks at awkward moments: a daemon's double fork (the first child forks
// again before it makes a call of its own, and the grandchild goes on with
// the handle), and a fork inside a call.
int forks() {
    velk_client* client = make();
    put(client, "k", "before the forks");
    const pid_t child = fork();
    if (child == 0) {
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            check(get(client, "k") == "before the forks", "the grandchild's inherited value");
            _exit(wrong == 0 ? 0 : 1);
        }
        int status = 0;
        _exit(waitpid(grandchild, &status, 0) == grandchild && WIFEXITED(status) && WEXITSTATUS(status) == 0
                  ? 0
                  : 1);
    }
    int status = 0;
    check(waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0,
          "the grandchild");
    velk_get_item_t item;
    std::memset(&item, 0, sizeof item);
    item.key = "k";
    check(velk_batch_get(client, "shared", &item, 1, fork_here, nullptr, nullptr) == VELK_OK,
          "a get that forks");
    if (forked_in_callback == 0) {
        check(get(client, "k") == "before the forks", "the value of the child forked in a call");
        _exit(wrong == 0 ? 0 : 1);
    }
    check(waitpid(forked_in_callback, &status, 0) == forked_in_callback && WIFEXITED(status) &&
              WEXITSTATUS(status) == 0,
          "the child forked in a call");
    velk_client_destroy(client);
    std::printf("journal processes: %d wrong answers\n", wrong);
    return wrong == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "errno") == 0) {
        // What the program finds in errno when it starts, which a journal
        // opened at load must not change.
        std::printf("errno at the start: %d\n", errno);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "helper") == 0) {
        return helper();
    }
    if (argc > 1 && std::strcmp(argv[1], "forks") == 0) {
        return forks();
    }
    velk_client* client = make();
    put(client, "k", "before the fork");
    // Calls on the handle before the fork are made on the child's copy of
    // it too when the journal is replayed: reads of every kind among them.
    check(get(client, "k") == "before the fork", "a read before the fork");
    const char* keys[] = {"k"};
    velk_query_result_t found;
    check(velk_batch_query(client, "shared", keys, 1, nullptr, &found, 1) == 1, "a query before the fork");
    velk_query_result_free(&found, 1);
    check(velk_ll_batch_get(client, keys, 1, lent, nullptr, nullptr, nullptr) == VELK_OK, "a lending get");
    const pid_t child = fork();
    if (child == 0) {
        // The child's copy of the handle holds what the parent put before
        // the fork, and goes its own way.
        check(get(client, "k") == "before the fork", "the inherited value");
        put(client, "k", "the child's");
        check(get(client, "k") == "the child's", "the child's value");
        velk_client* own = make();
        put(own, "k", "the child's own handle");
        check(get(own, "k") == "the child's own handle", "the child's own handle");
        velk_client_destroy(own);
        velk_client_destroy(client);
        // exit, not _exit: the child has no handlers of its parent's to skip, and
        // its counts of what ran (a coverage build's) are written at exit.
        std::exit(wrong == 0 ? 0 : 1);
    }
    put(client, "k", "the parent's, after the fork");
    int status = 0;
    check(waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0, "the child");
    // A program started with the same variables appends to the journal.
    char* helper_argv[] = {argv[0], const_cast<char*>("helper"), nullptr};
    pid_t started = 0;
    check(posix_spawn(&started, argv[0], nullptr, nullptr, helper_argv, environ) == 0, "the helper's start");
    check(waitpid(started, &status, 0) == started && WIFEXITED(status) && WEXITSTATUS(status) == 0,
          "the helper");
    check(get(client, "k") == "the parent's, after the fork", "the parent's value");
    exact_answers(client);
    velk_client_destroy(client);
    std::printf("journal processes: %d wrong answers\n", wrong);
    return wrong == 0 ? 0 : 1;
}
