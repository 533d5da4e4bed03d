// SPDX-License-Identifier: MIT
// The replay's comparison, answer by answer: each kind of difference a
// library's answer can have from the recorded one is named, with its
// member and both sides, and what differs only by design (an ignored
// name, a listing's order) is not. And velk-journal's own 28 functions
// hand every call on to the library replayed against.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "journal/calls.hpp"
#include "journal/writer.hpp"
#include "velk_journal/comparer.hpp"
#include "velk_journal/made.hpp"
#include "velkmock.h"

namespace vj = velkfault::journal;
using velkjournal::Comparer;
using velkjournal::element;
using velkjournal::LineReader;
using velkjournal::Names;

namespace {

struct Case {
    const char* what;
    const char* recorded;                     // the recorded "out"
    std::function<void(Comparer&)> replayed;  // the replayed answer through the table
    std::vector<std::string> differences;     // each found (as the start of its text), in order
    Names ignore = {};
};

template <std::size_t N>
void text(char (&field)[N], const char* value) {
    std::memset(field, 0, N);
    std::strncpy(field, value, N - 1);
}

velk_put_result_t result(int32_t status, const char* location) {
    velk_put_result_t r{};
    r.status = status;
    text(r.location, location);
    return r;
}

velk_namespace_info_t info(const char* name, double param, int64_t capacity = 0) {
    velk_namespace_info_t i{};
    text(i.name, name);
    text(i.eviction_policy, "lru");
    i.policy_param = param;
    i.capacity_bytes = capacity;
    i.created_at_ms = 1700000000000;
    return i;
}

std::string json_of(const velk_namespace_info_t& i) {
    vj::Json json;
    vj::Writer writer(json, vj::Values::Full);
    json.open_object();
    vj::namespace_info(writer, i, 0);
    json.close_object();
    return json.text;
}

// What a get's callback was lent, for the comparer.
struct Lent {
    struct Call {
        int32_t count;
        std::vector<const void*> values;
        std::vector<uint64_t> lens;
        std::vector<int32_t> statuses;
    };
    std::vector<Call> calls;
    [[nodiscard]] bool called() const noexcept { return true; }
};

void put_out(Comparer& c, std::vector<velk_put_result_t> results) {
    vj::Calls<velkfault::kBatchPut>::out(c, VELK_OK, nullptr, "ns", nullptr,
                                         static_cast<int32_t>(results.size()), results.data(),
                                         static_cast<int32_t>(results.size()), nullptr);
}

// Each value in a buffer of its own size; `lens` as the library says, when
// it says otherwise.
void get_into_out(Comparer& c, std::vector<std::string> values, std::vector<int32_t> statuses,
                  std::vector<uint64_t> lens = {}) {
    std::vector<void*> buffers;
    std::vector<uint64_t> sizes;
    for (std::string& v : values) {
        buffers.push_back(v.data());
        sizes.push_back(v.size());
    }
    if (lens.empty()) {
        lens = sizes;
    }
    vj::Calls<velkfault::kBatchGetInto>::out(c, VELK_OK, nullptr, "ns", nullptr,
                                             static_cast<int32_t>(values.size()), buffers.data(),
                                             sizes.data(), statuses.data(), lens.data(), nullptr);
}

// A query's one result, for key "k", with the one pair given (or none).
void query_out(Comparer& c, velk_meta_pair_t* pair) {
    velk_query_result_t r{};
    text(r.key, "k");
    text(r.status, "ok");
    r.replica_count = 1;
    r.metadata = pair;
    r.metadata_count = pair != nullptr ? 1 : 0;
    vj::query_out(c, 1, &r);
}

void list_out(Comparer& c, std::vector<velk_namespace_info_t> infos, int total) {
    vj::Calls<velkfault::kListNamespaces>::out(c, static_cast<int>(infos.size()), nullptr, infos.data(),
                                               static_cast<int>(infos.size()), &total);
}

}  // namespace

TEST(ReplayComparison, NamesEachDifferenceAndNothingElse) {
    const velk_namespace_info_t a = info("a", 0.5);
    const velk_namespace_info_t b = info("b", 0.5);
    const std::string two = "{\"infos\": [" + json_of(a) + ", " + json_of(b) + "], \"total\": 2}";
    const std::string swapped = "{\"infos\": [" + json_of(b) + ", " + json_of(a) + "], \"total\": 2}";
    vj::Json zeros;
    zeros.value(std::string(70, '\0').data(), 70, vj::Values::Full);
    const std::string seventy =
        "{\"items\": [{\"status\": 70, \"length\": 70, \"value\": " + zeros.text + "}]}";
    const std::string cut = "{\"infos\": [" + json_of(a) + ", " + json_of(b) + "], \"total\": 3}";
    const Case cases[] = {
        {"the same",
         R"({"results": [{"status": 0, "location": "x"}]})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {}},
        {"a status",
         R"({"results": [{"status": 0, "location": "x"}]})",
         [](Comparer& c) { put_out(c, {result(-5, "x")}); },
         {"out.results[0].status: recorded 0, replayed -5"}},
        {"a text's bytes, recorded as base64",
         R"({"results": [{"status": 0, "location": {"base64": "/w=="}}]})",
         [](Comparer& c) { put_out(c, {result(0, "\xfe")}); },
         {"out.results[0].location: recorded \"\\xff\", replayed \"\\xfe\""}},
        {"fewer records",
         R"({"results": [{"status": 0, "location": "x"}, {"status": 0, "location": "y"}]})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out.results: recorded 2 records, replayed 1"}},
        {"a member only one side has",
         R"({"results": [{"status": 0, "location": "x", "extra": 1}]})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out.results[0].extra: recorded 1, replayed nothing"}},
        {"a member the recording lacks",
         R"({"results": [{"location": "x"}]})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out.results[0].status: recorded nothing, replayed a value"}},
        {"an ignored member",
         R"({"results": [{"status": 0, "location": "elsewhere"}]})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {},
         Names{"location"}},
        {"an answer where the recording has none",
         "null",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out: recorded nothing, replayed"}},
        {"no answer where the recording has one",
         R"({"results": []})",
         [](Comparer& c) {
             vj::Calls<velkfault::kBatchPut>::out(c, VELK_ERR_INVALID_ARGUMENT, nullptr, "ns", nullptr, 1,
                                                  nullptr, 1, nullptr);
         },
         {"out: recorded {\"results\":[]}, replayed nothing"}},
        {"a value's byte",
         R"({"items": [{"status": 5, "length": 5, "value": {"length": 5, "base64": "Zmlyc3Q="}}]})",
         [](Comparer& c) { get_into_out(c, {"firsu"}, {5}); },
         {"out.items[0].value: recorded \"first\" (5 bytes), replayed \"firsu\" (5 bytes; they differ from "
          "byte 4)"}},
        {"a binary value, cut",
         seventy.c_str(),
         [](Comparer& c) { get_into_out(c, {std::string(69, '\0') + "\x01"}, {70}); },
         {"out.items[0].value: recorded \"\\x00\\x00"}},
        {"a length past the buffer: the buffer's bytes, no further",
         R"({"items": [{"status": 5, "length": 5, "value": {"length": 5, "base64": "Zmlyc3Q="}}]})",
         [](Comparer& c) { get_into_out(c, {"first"}, {5}, {1000000}); },
         {"out.items[0].length: recorded 5, replayed 1000000"}},
        {"a value by its hash",
         R"({"items": [{"status": 1, "length": 1, "value": {"length": 1, "fnv1a64": "af63dc4c8601ec8c"}}]})",
         [](Comparer& c) { get_into_out(c, {"b"}, {1}); },
         {"out.items[0].value.fnv1a64: recorded \"af63dc4c8601ec8c\""}},
        {"a value's length, by its hash",
         R"({"items": [{"status": 1, "length": 1, "value": {"length": 1}}]})",
         [](Comparer& c) { get_into_out(c, {"ab"}, {1}); },
         {"out.items[0].length: recorded 1, replayed 2",
          "out.items[0].value.length: recorded 1, replayed 2"}},
        {"a value that is no value",
         R"({"items": [{"status": 1, "length": 1, "value": {"length": 1, "base64": "!"}}]})",
         [](Comparer& c) { get_into_out(c, {"a"}, {1}); },
         {"out.items[0].value: recorded {\"length\":1,\"base64\":\"!\"}"}},
        {"a number past 2^53",
         R"({"info": {"name": "a", "capacity_bytes": 9007199254740993, "used_bytes": 0, "eviction_policy": "lru", "policy_param": 0.5, "created_at_ms": 1700000000000}})",
         [](Comparer& c) {
             velk_namespace_info_t i = info("a", 0.5, 9007199254740992);
             vj::Calls<velkfault::kGetNamespace>::out(c, VELK_OK, nullptr, "a", &i);
         },
         {"out.info.capacity_bytes: recorded 9007199254740993, replayed 9007199254740992"}},
        {"a double's sign",
         R"({"info": {"name": "a", "capacity_bytes": 0, "used_bytes": 0, "eviction_policy": "lru", "policy_param": 0.0, "created_at_ms": 1700000000000}})",
         [](Comparer& c) {
             velk_namespace_info_t i = info("a", -0.0);
             vj::Calls<velkfault::kGetNamespace>::out(c, VELK_OK, nullptr, "a", &i);
         },
         {"out.info.policy_param: recorded 0.0, replayed -0.0"}},
        {"a NaN's bits",
         R"({"info": {"name": "a", "capacity_bytes": 0, "used_bytes": 0, "eviction_policy": "lru", "policy_param": "nan", "created_at_ms": 1700000000000}})",
         [](Comparer& c) {
             velk_namespace_info_t i = info("a", std::bit_cast<double>(0x7ff8000000000001ULL));
             vj::Calls<velkfault::kGetNamespace>::out(c, VELK_OK, nullptr, "a", &i);
         },
         {"out.info.policy_param: recorded \"nan\", replayed \"nan:7ff8000000000001\""}},
        {"a listing in another order",
         swapped.c_str(),
         [&](Comparer& c) {
             list_out(c, {a, b}, 2);
         },
         {"out.infos[0].name: recorded \"b\", replayed \"a\"",
          "out.infos[1].name: recorded \"a\", replayed \"b\""}},
        {"a listing in another order, order ignored",
         swapped.c_str(),
         [&](Comparer& c) {
             list_out(c, {a, b}, 2);
         },
         {},
         Names{"order"}},
        {"a listing without a record, order ignored",
         two.c_str(),
         [&](Comparer& c) { list_out(c, {a}, 1); },
         {"out.infos: recorded 2 records, replayed 1", "out.infos[\"b\"]: recorded",
          "out.total: recorded 2, replayed 1"},
         Names{"order"}},
        {"a listing its capacity cut holds any records of its size",
         cut.c_str(),
         [&](Comparer& c) {
             const velk_namespace_info_t c_info = info("c", 0.5);
             list_out(c, {a, c_info}, 3);
         },
         {},
         Names{"order"}},
        {"a listing its capacity cut, order ignored, still compares the records both hold",
         cut.c_str(),
         [&](Comparer& c) {
             const velk_namespace_info_t other = info("a", 0.25);
             list_out(c, {info("c", 0.5), other}, 3);
         },
         {"out.infos[\"a\"].policy_param: recorded 0.5, replayed 0.25"},
         Names{"order"}},
        {"metadata",
         R"({"results": [{"key": "k", "status": "ok", "replica_count": 1, "value_len": 0, "metadata": [["m", "1"]], "details": null}]})",
         [](Comparer& c) {
             velk_meta_pair_t pair{"m", "2"};
             query_out(c, &pair);
         },
         {"out.results[0].metadata[0][1]: recorded \"1\", replayed \"2\""}},
        // A recording of another shape than the answer is a difference, never
        // a pass: each member the table reads, of the wrong type.
        {"an answer that is no object",
         "[1]",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out: recorded [1], replayed an answer"}},
        {"a number recorded as text",
         R"({"results": [{"status": "0", "location": "x"}]})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out.results[0].status: recorded \"0\", replayed 0"}},
        {"a record that is no object",
         R"({"results": [1]})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out.results[0]: recorded 1, replayed a record"}},
        {"records that are no array",
         R"({"results": {"status": 0}})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out.results: recorded {\"status\":0}, replayed 1 records"}},
        {"a text recorded as a number",
         R"({"results": [{"status": 0, "location": 7}]})",
         [](Comparer& c) { put_out(c, {result(0, "x")}); },
         {"out.results[0].location: recorded 7, replayed \"x\""}},
        {"a value that is no object",
         R"({"items": [{"status": 1, "length": 1, "value": "a"}]})",
         [](Comparer& c) { get_into_out(c, {"a"}, {1}); },
         {"out.items[0].value: recorded \"a\", replayed \"a\""}},
        {"a flag",
         R"({"callbacks": [{"count": 1, "items": [{"status": 1, "length": 1, "null": true, "value": {"length": 1, "base64": "YQ=="}}]}]})",
         [](Comparer& c) {
             static const char a = 'a';
             Lent lent;
             lent.calls.push_back(Lent::Call{1, {&a}, {1}, {1}});
             vj::Calls<velkfault::kBatchGet>::out(c, VELK_OK, lent);
         },
         {"out.callbacks[0].items[0].null: recorded true, replayed false"}},
        {"a member the library leaves null",
         R"({"results": [{"key": "k", "status": "ok", "replica_count": 1, "value_len": 0, "metadata": null, "details": [{"x": 1}]}]})",
         [](Comparer& c) { query_out(c, nullptr); },
         {"out.results[0].details: recorded [{\"x\":1}], replayed null"}},
        {"a metadata pair that is no pair",
         R"({"results": [{"key": "k", "status": "ok", "replica_count": 1, "value_len": 0, "metadata": [["m"]], "details": null}]})",
         [](Comparer& c) {
             velk_meta_pair_t pair{"m", "1"};
             query_out(c, &pair);
         },
         {"out.results[0].metadata[0]: recorded [\"m\"], replayed a pair"}},
        {"a listing with another record, order ignored",
         two.c_str(),
         [&](Comparer& c) {
             list_out(c, {a, info("c", 0.5)}, 2);
         },
         {"out.infos[\"c\"]: recorded nothing, replayed a record", "out.infos[\"b\"]: recorded"},
         Names{"order"}},
        {"a listing's record without its name, order ignored",
         R"({"infos": [{"policy_param": 0.5}], "total": 1})",
         [&](Comparer& c) { list_out(c, {a}, 1); },
         {"out.infos[\"a\"]: recorded nothing, replayed a record",
          "out.infos[\"{\\\"policy_param\\\":0.5}\"]: recorded"},
         Names{"order"}},
        {"what a callback was lent",
         R"({"callbacks": [{"count": 1, "items": [{"status": 1, "length": 1, "null": false, "value": {"length": 1, "base64": "YQ=="}}]}]})",
         [](Comparer& c) {
             static const char b = 'b';
             Lent lent;
             lent.calls.push_back(Lent::Call{1, {&b}, {1}, {1}});
             vj::Calls<velkfault::kBatchGet>::out(c, VELK_OK, lent);
         },
         {"out.callbacks[0].items[0].value: recorded \"a\""}},
    };
    for (const Case& c : cases) {
        simdjson::dom::parser parser;
        element recorded;
        ASSERT_EQ(parser.parse(std::string(c.recorded)).get(recorded), simdjson::SUCCESS) << c.what;
        Comparer::Found found;
        Comparer comparer(LineReader(1), recorded, "out", c.ignore, found);
        c.replayed(comparer);
        ASSERT_EQ(found.size(), c.differences.size()) << c.what << ": " << ::testing::PrintToString(found);
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].rfind(c.differences[i], 0), 0u) << c.what << ": " << found[i];
        }
    }
}

TEST(ReplayComparison, BytesAreShownAsAPersonReadsThem) {
    EXPECT_EQ(velkjournal::show_bytes("plain \"text\"\n"), "\"plain \\\"text\\\"\\n\"");
    EXPECT_EQ(velkjournal::show_bytes("\xc3\xa9t\xc3\xa9"), "\"\xc3\xa9t\xc3\xa9\"");
    EXPECT_EQ(velkjournal::show_bytes(std::string("\x01\xff", 2)), "\"\\x01\\xff\"");
    EXPECT_EQ(velkjournal::show_bytes(std::string(70, 'a'), 4), "\"aaaa\" and 66 bytes more");
}

// The calls a library makes of itself reach velk-journal's own 28
// functions, each of which hands the call on to the library replayed
// against (here with no plan recorded for it).
TEST(ReplayStandIns, HandEveryCallOnToTheLibrary) {
    static const velkjournal::Api mock = velkjournal::load_library(VELKMOCK_TEST_MOCK);
    velkjournal::library = &mock;
    EXPECT_STREQ(velk_version(), "0.0.0-mock");
    EXPECT_STREQ(velk_revision(), "mockrev");
    EXPECT_STREQ(velk_build_time(), "1970-01-01T00:00:00Z");
    const int config = 0;
    velk_client* client = velk_client_create(&config);
    ASSERT_NE(client, nullptr);
    velk_sdk_metrics_ctx_t ctx;
    velk_sdk_metrics_ctx_reset(&ctx);
    EXPECT_EQ(velk_client_get_metrics(client, &ctx), VELK_OK);
    char text[8];
    uint64_t length = 1;
    EXPECT_EQ(velk_sdk_metrics_serialize(&ctx, text, sizeof text, &length), VELK_OK);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(velk_create_namespace(client, "n", nullptr), VELK_OK);
    EXPECT_EQ(velk_update_namespace(client, "n", nullptr), VELK_OK);
    velk_namespace_info_t info;
    EXPECT_EQ(velk_get_namespace(client, "n", &info), VELK_OK);
    int total = 0;
    EXPECT_EQ(velk_list_namespaces(client, &info, 1, &total), 1);
    velk_node_info_t nodes[2];
    EXPECT_EQ(velk_get_nodes(client, nullptr, nodes, 2), 2);
    const char* keys[] = {"k"};
    const void* parts[] = {"v"};
    const size_t lens[] = {1};
    velk_put_item_t item{};
    item.key = "k";
    item.value_parts = parts;
    item.value_part_lens = lens;
    item.value_part_count = 1;
    velk_put_result_t put;
    EXPECT_EQ(velk_batch_put(client, "n", &item, 1, &put, 1, nullptr), VELK_OK);
    velk_get_item_t get{};
    get.key = "k";
    EXPECT_EQ(velk_batch_get(client, "n", &get, 1, nullptr, nullptr, nullptr), -EINVAL);
    char buffer[4];
    void* buffers[] = {buffer};
    const uint64_t sizes[] = {sizeof buffer};
    int32_t status = 0;
    uint64_t value_len = 0;
    EXPECT_EQ(velk_batch_get_into(client, "n", &get, 1, buffers, sizes, &status, &value_len, nullptr),
              VELK_OK);
    EXPECT_EQ(status, 1);
    velk_query_result_t found;
    EXPECT_EQ(velk_batch_query(client, "n", keys, 1, nullptr, &found, 1), 1);
    velk_query_result_free(&found, 1);
    velk_delete_item_t gone{};
    gone.key = "k";
    velk_delete_result_t deleted;
    EXPECT_EQ(velk_batch_delete_items(client, "n", &gone, 1, &deleted, 1, nullptr), VELK_OK);
    int32_t statuses[1];
    EXPECT_EQ(velk_batch_delete(client, "n", keys, 1, nullptr, statuses, 1, nullptr), VELK_OK);
    EXPECT_EQ(statuses[0], VELK_ERR_NOT_FOUND);
    EXPECT_EQ(velk_delete_namespace(client, "n"), VELK_OK);
    velk_client_destroy(client);
    const velk_ll_config_t ll_config{"ll"};
    velk_client* ll = velk_ll_create(&ll_config);
    ASSERT_NE(ll, nullptr);
    velk_ll_put_item_t ll_item{"k", parts, reinterpret_cast<const uint64_t*>(lens), 1};
    EXPECT_EQ(velk_ll_batch_put(ll, &ll_item, 1, &put, 1, nullptr, nullptr), VELK_OK);
    EXPECT_EQ(velk_ll_batch_get(ll, keys, 1, nullptr, nullptr, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(velk_ll_batch_get_into(ll, keys, 1, buffers, sizes, &status, &value_len, nullptr), VELK_OK);
    EXPECT_EQ(velk_ll_batch_query(ll, keys, 1, &found, 1, nullptr), 1);
    velk_query_result_free(&found, 1);
    EXPECT_EQ(velk_ll_batch_delete(ll, keys, 1, statuses, 1, nullptr, nullptr), VELK_OK);
    velk_ll_client_destroy(ll);
    velkjournal::library = nullptr;
}
