// SPDX-License-Identifier: MIT
// The edges a careful or hostile caller reaches: callbacks that never return
// normally, keys built to collide, a namespace emptied after being huge, and
// values past the 2^31-1 bytes a per-item status can say.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "alloc_hook.hpp"
#include "colliding_keys.hpp"
#include "velk_test.hpp"

extern "C" {
int velk_test_exit_in_callback(int32_t, const void* const*, const uint64_t*, const int32_t*, void*);
int velk_test_sleep_in_callback(int32_t, const void* const*, const uint64_t*, const int32_t*, void*);
}

using namespace velk_test;

namespace {

struct Caller {
    velk_client* client;
    velk_get_callback_t callback;
    void* user_data;
};

void* get_on_thread(void* arg) {
    const auto* caller = static_cast<const Caller*>(arg);
    velk_get_item_t item{};
    item.key = "k";
    velk_batch_get(caller->client, "ns", &item, 1, caller->callback, caller->user_data, nullptr);
    return nullptr;  // not reached: the callback ends the thread
}

// A put and a get from another thread finish in time: the lock is free. If
// it is not, the helper thread is left blocked and the test fails.
bool usable(velk_client* client) {
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> result = done->get_future();
    std::thread([client, done] {
        done->set_value(put_one(client, "ns", "after", "x") == 0 && get_value(client, "ns", "after") == "x");
    }).detach();
    return result.wait_for(std::chrono::seconds(20)) == std::future_status::ready && result.get();
}

}  // namespace

TEST(LeavingCallback, PthreadExitEndsTheThreadAndReleasesTheLock) {
    Client client = make_client();
    ASSERT_EQ(put_one(client.get(), "ns", "k", "v"), 0);
    int marker = 0;
    Caller caller{client.get(), velk_test_exit_in_callback, &marker};
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, get_on_thread, &caller), 0);
    void* exit_value = nullptr;
    ASSERT_EQ(pthread_join(thread, &exit_value), 0);
    EXPECT_EQ(exit_value, &marker);  // ended as the callback asked
    EXPECT_TRUE(usable(client.get()));
}

TEST(LeavingCallback, CancellationInTheCallbackReleasesTheLock) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "skipped under ThreadSanitizer: it does not record unlocks made while a thread cancelled "
                    "in a blocking call unwinds, and then reports the next lock as a double lock";
#endif
    Client client = make_client();
    ASSERT_EQ(put_one(client.get(), "ns", "k", "v"), 0);
    std::atomic<int> entered{0};
    Caller caller{client.get(), velk_test_sleep_in_callback, &entered};
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, get_on_thread, &caller), 0);
    while (entered.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(pthread_cancel(thread), 0);
    void* exit_value = nullptr;
    ASSERT_EQ(pthread_join(thread, &exit_value), 0);
    EXPECT_EQ(exit_value, PTHREAD_CANCELED);
    EXPECT_TRUE(usable(client.get()));
}

TEST(LeavingCallback, ACallbacksExceptionReachesItsCallerWithTheLockReleased) {
    Client client = make_client();
    ASSERT_EQ(put_one(client.get(), "ns", "k", "v"), 0);
    velk_get_item_t item{};
    item.key = "k";
    const auto throwing = [](int32_t, const void* const*, const uint64_t*, const int32_t*, void*) -> int {
        throw std::runtime_error("the caller's own failure");
    };
    EXPECT_THROW(velk_batch_get(client.get(), "ns", &item, 1, throwing, nullptr, nullptr),
                 std::runtime_error);
    const char* keys[] = {"k"};
    EXPECT_THROW(velk_ll_batch_get(client.get(), keys, 1, throwing, nullptr, nullptr, nullptr),
                 std::runtime_error);
    // Even the one exception the library itself turns into a code: thrown by
    // the callback, it is the caller's, and -4 would claim the callback was
    // never called.
    const auto out_of_memory = [](int32_t, const void* const*, const uint64_t*, const int32_t*,
                                  void*) -> int {
        throw std::bad_alloc();
    };
    EXPECT_THROW(velk_batch_get(client.get(), "ns", &item, 1, out_of_memory, nullptr, nullptr),
                 std::bad_alloc);
    EXPECT_THROW(velk_ll_batch_get(client.get(), keys, 1, out_of_memory, nullptr, nullptr, nullptr),
                 std::bad_alloc);
    EXPECT_TRUE(usable(client.get()));
}

// Keys sharing one std::hash value, and ordinary keys beside them: all are
// stored, found and removed like any others.
TEST(HostileKeys, KeysCollidingUnderStdHashBehaveLikeOthers) {
    Client client = make_client();
    const auto colliding = colliding_keys(5000);
    std::vector<PutSpec> planned;
    for (size_t i = 0; i < colliding.size(); ++i) {
        planned.emplace_back(colliding[i], "c" + std::to_string(i));
        planned.emplace_back("plain-" + std::to_string(i), "p" + std::to_string(i));
    }
    std::vector<velk_put_result_t> results;
    ASSERT_EQ(put(client.get(), "ns", planned, &results), 0);
    for (size_t i = 0; i < colliding.size(); i += 7) {
        ASSERT_EQ(get_value(client.get(), "ns", colliding[i].c_str()), "c" + std::to_string(i));
        ASSERT_EQ(get_value(client.get(), "ns", ("plain-" + std::to_string(i)).c_str()),
                  "p" + std::to_string(i));
    }
    std::vector<const char*> halves;
    for (size_t i = 0; i < colliding.size(); i += 2) {
        halves.push_back(colliding[i].c_str());
    }
    std::vector<int32_t> statuses(halves.size(), 99);
    ASSERT_EQ(velk_batch_delete(client.get(), "ns", halves.data(), static_cast<int32_t>(halves.size()),
                                nullptr, statuses.data(), static_cast<int32_t>(statuses.size()), nullptr),
              0);
    for (const int32_t status : statuses) {
        ASSERT_EQ(status, VELK_OK);
    }
    for (size_t i = 0; i < colliding.size(); ++i) {
        ASSERT_EQ(get_value(client.get(), "ns", colliding[i].c_str()).has_value(), i % 2 == 1) << i;
    }
}

// The used bytes stay the exact sum through growth and a near-total delete;
// the table's shrinking is checked white-box.
TEST(EmptiedNamespace, DescribesTheOneKeyLeftExactly) {
    Client client = make_client();
    constexpr int kKeys = 1 << 16;
    std::vector<std::string> keys;
    std::vector<PutSpec> planned;
    for (int i = 0; i < kKeys; ++i) {
        keys.push_back("key-" + std::to_string(i));
        planned.emplace_back(keys.back(), std::string(static_cast<size_t>(i % 5), 'v'));
    }
    ASSERT_EQ(put(client.get(), "ns", planned), 0);
    std::vector<const char*> doomed;
    for (int i = 0; i < kKeys; ++i) {
        if (i != 3) {
            doomed.push_back(keys[static_cast<size_t>(i)].c_str());
        }
    }
    std::vector<int32_t> statuses(doomed.size());
    ASSERT_EQ(velk_batch_delete(client.get(), "ns", doomed.data(), static_cast<int32_t>(doomed.size()),
                                nullptr, statuses.data(), static_cast<int32_t>(statuses.size()), nullptr),
              0);
    velk_namespace_info_t info{};
    ASSERT_EQ(velk_get_namespace(client.get(), "ns", &info), 0);
    EXPECT_EQ(info.used_bytes, 3u);
    EXPECT_EQ(get_value(client.get(), "ns", "key-3"), "vvv");
    ASSERT_EQ(put_one(client.get(), "ns", "key-3", "longer value"), 0);
    ASSERT_EQ(velk_get_namespace(client.get(), "ns", &info), 0);
    EXPECT_EQ(info.used_bytes, 12u);
}

// A value of 2^31 bytes and more: the per-item status is clamped to
// INT32_MAX while value_lens carries the full length. Needs two copies of the
// value in memory (the store's and a get-into buffer).
TEST(HugeValue, StatusesClampAndLengthsDoNot) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "skipped under ThreadSanitizer: its shadow of 4 GiB of values would need 16 GiB more";
#endif
    constexpr uint64_t kPart = uint64_t{1} << 20;
    constexpr uint64_t kParts = 2049;  // 2^31 + 2^20 bytes
    constexpr uint64_t kSize = kPart * kParts;
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const uint64_t available =
        pages > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
    if (available < 3 * kSize) {
        GTEST_SKIP() << "needs about " << (3 * kSize >> 30) << " GiB of free memory, this machine has "
                     << (available >> 30) << " GiB";
    }
    Client client = make_client();
    std::vector<char> part(kPart, 'x');
    part.front() = 'a';
    std::vector<const void*> parts(kParts, part.data());
    std::vector<size_t> lens(kParts, kPart);
    velk_put_item_t item{};
    item.key = "huge";
    item.value_parts = parts.data();
    item.value_part_lens = lens.data();
    item.value_part_count = static_cast<int32_t>(kParts);
    velk_put_result_t result;
    ASSERT_EQ(velk_batch_put(client.get(), "ns", &item, 1, &result, 1, nullptr), 0);
    ASSERT_EQ(result.status, VELK_OK);

    struct Seen {
        int32_t status = 0;
        uint64_t length = 0;
        char first = 0;
        char last_part_first = 0;
    } seen;
    velk_get_item_t get_item{};
    get_item.key = "huge";
    const auto record = [](int32_t, const void* const* values, const uint64_t* value_lens,
                           const int32_t* statuses, void* user_data) -> int {
        auto* out = static_cast<Seen*>(user_data);
        out->status = statuses[0];
        out->length = value_lens[0];
        out->first = static_cast<const char*>(values[0])[0];
        out->last_part_first = static_cast<const char*>(values[0])[kSize - kPart];
        return 0;
    };
    ASSERT_EQ(velk_batch_get(client.get(), "ns", &get_item, 1, record, &seen, nullptr), 0);
    EXPECT_EQ(seen.status, INT32_MAX);
    EXPECT_EQ(seen.length, kSize);
    EXPECT_EQ(seen.first, 'a');
    EXPECT_EQ(seen.last_part_first, 'a');

    std::unique_ptr<char[]> buffer(new char[kSize]);
    void* buffers[] = {buffer.get()};
    const uint64_t sizes[] = {kSize};
    int32_t status = 0;
    uint64_t length = 0;
    ASSERT_EQ(
        velk_batch_get_into(client.get(), "ns", &get_item, 1, buffers, sizes, &status, &length, nullptr), 0);
    EXPECT_EQ(status, INT32_MAX);
    EXPECT_EQ(length, kSize);
    EXPECT_EQ(buffer[kSize - kPart], 'a');
    velk_namespace_info_t info{};
    ASSERT_EQ(velk_get_namespace(client.get(), "ns", &info), 0);
    EXPECT_EQ(info.used_bytes, kSize);
}

TEST(AllocFailure, PutThatCannotMakeItsNamespaceReportsTheFirstItem) {
    for (long n = 1;; ++n) {
        Client client = make_client();
        PutBatch batch({PutSpec{"a", "1"}, PutSpec{"b", "2"}});
        velk_put_result_t results[2];
        std::memset(results, 0x5C, sizeof results);
        alloc_hook::open(n);
        const int rc = velk_batch_put(client.get(), "a-namespace-name-longer-than-sso", batch.items.data(), 2,
                                      results, 2, nullptr);
        const alloc_hook::Window w = alloc_hook::pause();
        alloc_hook::close();
        if (!w.failed) {
            ASSERT_EQ(rc, VELK_OK);
            break;
        }
        ASSERT_EQ(rc, VELK_ERR_NO_MEMORY);
        // Whichever step failed, the first record not stored holds the code.
        const int at = results[0].status == VELK_OK ? 1 : 0;
        EXPECT_EQ(results[at].status, VELK_ERR_NO_MEMORY) << "failure at allocation " << n;
        EXPECT_TRUE(all_zero(results[at].location, sizeof results[at].location));
    }
}

// A namespace large enough that batches prefetch their keys' slots, nodes
// and values first: batches with repeated keys, NULL keys and missing keys
// still apply item by item, in order (the prefetch is a hint, and a put or
// delete earlier in the batch changes what later items find).
TEST(LargeNamespace, PrefetchingBatchesKeepTheirOrder) {
    Client client = make_client();
    constexpr int kKeys = 70000;  // past the 2^16-slot table that batching starts at
    std::vector<PutSpec> planned;
    for (int i = 0; i < kKeys; ++i) {
        planned.emplace_back("key-" + std::to_string(i), "v" + std::to_string(i));
    }
    ASSERT_EQ(put(client.get(), "ns", planned), 0);
    // One put batch: a key twice, the second write wins; a new key.
    ASSERT_EQ(put(client.get(), "ns",
                  {PutSpec{"key-5", "first"}, PutSpec{"key-9", "x"}, PutSpec{"key-5", "second"},
                   PutSpec{"new", "n"}}),
              0);
    EXPECT_EQ(get_value(client.get(), "ns", "key-5"), "second");
    // One delete batch: present, missing, NULL, the same key again.
    const char* keys[] = {"key-7", "absent", nullptr, "key-7", "new"};
    int32_t statuses[5];
    ASSERT_EQ(velk_batch_delete(client.get(), "ns", keys, 5, nullptr, statuses, 5, nullptr), 0);
    const int32_t want[] = {VELK_OK, VELK_ERR_NOT_FOUND, VELK_ERR_INVALID_ARGUMENT, VELK_ERR_NOT_FOUND,
                            VELK_OK};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(statuses[i], want[i]) << i;
    }
    // Gets and queries over a batch of found, missing and NULL keys.
    std::vector<velk_get_item_t> items(64);
    std::vector<std::string> names(64);
    for (size_t i = 0; i < items.size(); ++i) {
        names[i] = i % 3 == 0 ? "missing-" + std::to_string(i) : "key-" + std::to_string(i * 1000);
        items[i].key = i % 7 == 0 ? nullptr : names[i].c_str();
    }
    std::vector<char> storage(64 * 16);
    std::vector<void*> buffers(64);
    std::vector<uint64_t> sizes(64, 16);
    for (size_t i = 0; i < 64; ++i) {
        buffers[i] = &storage[i * 16];
    }
    std::vector<int32_t> got(64);
    std::vector<uint64_t> lens(64);
    ASSERT_EQ(velk_batch_get_into(client.get(), "ns", items.data(), 64, buffers.data(), sizes.data(),
                                  got.data(), lens.data(), nullptr),
              0);
    for (size_t i = 0; i < 64; ++i) {
        const bool found = items[i].key != nullptr && i % 3 != 0;
        const std::string value = "v" + std::to_string(i * 1000);
        EXPECT_EQ(got[i], found ? static_cast<int32_t>(value.size()) : 0) << i;
        if (found) {
            EXPECT_EQ(std::string(&storage[i * 16], lens[i]), value) << i;
        }
    }
}
