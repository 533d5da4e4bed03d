// SPDX-License-Identifier: MIT
// Journals a person or a program broke: each is refused with its line and
// the reason, never a crash and never a read outside the replay's own
// arrays (this test runs under the sanitizers too).
#include <gtest/gtest.h>

#include <string>

#include "velk_journal/input.hpp"
#include "velk_journal/replay.hpp"

namespace {

const std::string kHeader = "{\"journal\": \"velkfault\", \"version\": 2, \"values\": \"full\"}\n";
const std::string kProcess =
    "{\"process\": 1, \"pid\": 10, \"ppid\": 1, \"program\": \"p\", \"parent\": null, \"forked_after\": "
    "null}\n";

// A call's line with everything a line needs, the call's own members last.
std::string call(int seq, const std::string& function, const std::string& rest,
                 const std::string& within = "null") {
    return "{\"seq\": " + std::to_string(seq) +
           ", \"process\": 1, \"pid\": 10, \"thread\": 1, \"handle\": \"h1\", \"call\": \"" + function +
           "\", \"start_us\": 0, \"duration_us\": 0, \"overlapped\": false, \"within\": " + within +
           ", \"fault\": null, " + rest + "}\n";
}
const std::string kCreate =
    call(1, "velk_client_create",
         "\"plan\": null, \"args\": {\"config\": \"given\"}, \"rc\": \"h1\", \"out\": null");

std::string put(const std::string& args, const std::string& plan = "null") {
    return call(2, "velk_batch_put",
                "\"plan\": " + plan + ", \"args\": {\"ns\": \"n\", " + args + "}, \"rc\": 0, \"out\": null");
}
const std::string kItem =
    "{\"key\": \"k\", \"part_count\": 1, \"parts\": [true], \"part_lens\": [3], \"value\": {\"length\": 3, "
    "\"base64\": \"Zm9v\"}, \"tag\": 0, \"replica_count\": 1, \"metadata_count\": 0, \"metadata\": null}";

std::string items(const std::string& list, int count = 1) {
    return "\"count\": " + std::to_string(count) + ", \"result_capacity\": " + std::to_string(count) +
           ", \"results\": \"given\", \"items\": [" + list + "]";
}

std::string get_into(const std::string& filter) {
    return call(
        2, "velk_batch_get_into",
        "\"plan\": null, \"args\": {\"ns\": \"n\", \"count\": 1, \"statuses\": \"given\", \"value_lens\": "
        "\"given\", \"buffers\": [true], \"sizes\": [8], \"items\": [{\"key\": \"k\", \"filter_count\": 1, "
        "\"filter\": " +
            filter + "}]}, \"rc\": 0, \"out\": null");
}

// The text with its first `from` made `to`.
std::string with(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct Case {
    const char* what;
    std::string journal;
    std::string why;  // what the refusal says, after the line's number
};

}  // namespace

TEST(HostileJournals, AreRefusedWithTheirLineAndWhy) {
    // Each call within the one before: the replay would follow them down.
    std::string nested = kHeader + kProcess;
    for (int seq = 1; seq <= 66; ++seq) {
        nested += call(seq, "velk_version", "\"args\": {}", seq == 1 ? "null" : std::to_string(seq - 1));
    }
    const Case cases[] = {
        {"calls nested without end", nested, "line 68: within: calls nested more than 64 deep"},
        {"no JSON", kHeader + kProcess + "{\"seq\": 1,\n", "line 3: not JSON"},
        {"no object", kHeader + kProcess + "[1]\n", "line 3: expected an object"},
        {"neither call nor process", kHeader + kProcess + "{\"x\": 1}\n", "line 3: neither a call's line"},
        {"an unknown call", kHeader + kProcess + call(1, "velk_frobnicate", "\"args\": {}"),
         "line 3: call: 'velk_frobnicate' is none of the 28"},
        {"no seq", kHeader + kProcess + "{\"call\": \"velk_version\", \"process\": 1}\n",
         "line 3: seq: missing"},
        {"a seq that is a text", kHeader + kProcess + "{\"call\": \"velk_version\", \"seq\": \"1\"}\n",
         "line 3: seq: expected a whole number"},
        {"a negative seq", kHeader + kProcess + "{\"call\": \"velk_version\", \"seq\": -1}\n",
         "line 3: seq: -1 is out of range"},
        {"a number past 64 bits",
         kHeader + kProcess + "{\"call\": \"velk_version\", \"seq\": 123456789012345678901234}\n",
         "line 3: "},
        {"a call twice", kHeader + kProcess + kCreate + kCreate, "line 4: seq: call 1 is also on line 3"},
        {"within a call that is not there", kHeader + kProcess + call(2, "velk_version", "\"args\": {}", "1"),
         "line 3: within: the journal holds no call 1"},
        {"a process without its line", kHeader + kCreate,
         "line 2: process: process 1 has no line of its own"},
        {"a process line twice", kHeader + kProcess + kProcess, "line 3: process: process 1 has two lines"},
        {"no header", kProcess, "is no journal of libvelkfault's"},
        {"a second header (two programs on one pipe)", kHeader + kProcess + kHeader,
         "line 3: journal: a second journal's header"},
        {"a process forked from a later one",
         kHeader +
             with(kProcess, "\"parent\": null, \"forked_after\": null", "\"parent\": 1, \"forked_after\": 0"),
         "line 2: parent: a process is forked only from one numbered before it"},
        {"an older version", "{\"journal\": \"velkfault\", \"version\": 1, \"values\": \"full\"}\n",
         "journal of version 1"},
        {"empty", "", "is empty: no journal header"},
        {"invalid UTF-8", kHeader + kProcess + "{\"call\": \"velk_\xff\"}\n", "line 3: not JSON"},
        {"an unknown escape", kHeader + kProcess + "{\"call\": \"velk\\x\"}\n", "line 3: not JSON"},
        {"a count of the wrong type", kHeader + kProcess + kCreate + put(items(kItem).replace(9, 1, "true")),
         "line 4: args.count: expected a whole number"},
        {"a count past 32 bits", kHeader + kProcess + kCreate + put(items(kItem).replace(9, 1, "4294967296")),
         "line 4: args.count: 4294967296 is out of range here"},
        {"fewer items than the count", kHeader + kProcess + kCreate + put(items(kItem, 3)),
         "line 4: args.items: 1 items where the call's count says 3"},
        {"an array for a count of 0", kHeader + kProcess + kCreate + put(items(kItem, 0)),
         "line 4: args.items: 1 items where the call's count says 0"},
        {"more keys than listed",
         kHeader + kProcess + kCreate +
             call(2, "velk_batch_query",
                  "\"plan\": null, \"args\": {\"ns\": \"n\", \"count\": 5, \"result_capacity\": 5, "
                  "\"results\": "
                  "\"given\", \"options\": null, \"keys\": [\"a\", \"b\"]}, \"rc\": 5, \"out\": null"),
         "line 4: args.keys: 2 items where the call's count says 5"},
        {"a text with a NUL",
         with(kHeader + kProcess + kCreate + put(items(kItem)), "\"n\"", "\"a\\u0000b\""),
         "line 4: args.ns: a text holds a NUL"},
        {"an empty filter pair", kHeader + kProcess + kCreate + get_into("[[]]"),
         "line 4: args.items[0].filter[0]: expected a pair"},
        {"a filter pair of one", kHeader + kProcess + kCreate + get_into("[[\"a\"]]"),
         "line 4: args.items[0].filter[0]: expected a pair"},
        {"a text of bad base64", kHeader + kProcess + kCreate + get_into("[[{\"base64\": \"!!\"}, \"v\"]]"),
         "line 4: args.items[0].filter[0][0].base64: not base64"},
        {"a value shorter than its length",
         with(kHeader + kProcess + kCreate + put(items(kItem)), "\"length\": 3", "\"length\": 10"),
         "line 4: args.items[0].value.base64: not the base64 of 10 bytes"},
        {"parts longer than the value",
         with(kHeader + kProcess + kCreate + put(items(kItem)), "\"part_lens\": [3]", "\"part_lens\": [4]"),
         "line 4: args.items[0].parts[0]: the parts' lengths add up to more"},
        {"a value without its bytes",
         with(kHeader + kProcess + kCreate + put(items(kItem)), "\"base64\": \"Zm9v\"",
              "\"fnv1a64\": \"00\""),
         "record it again with VELKFAULT_JOURNAL_VALUES=full"},
        {"a given that is something else",
         with(kHeader + kProcess + kCreate + put(items(kItem)), "\"results\": \"given\"", "\"results\": 5"),
         "line 4: args.results: expected null or \"given\""},
        {"a buffer that is no flag", with(kHeader + kProcess + kCreate + get_into("null"), "[true]", "[1]"),
         "line 4: args.buffers[0]: expected true or false"},
        {"a mark where an item is", kHeader + kProcess + kCreate + put(items("\"given\"")),
         "line 4: args.items[0]: expected an object"},
        {"a plan for a call that cannot fail",
         kHeader + kProcess +
             call(1, "velk_version", "\"plan\": {\"code\": -4}, \"args\": {}, \"rc\": null, \"out\": null"),
         "line 3: plan: velk_version cannot fail"},
        {"a plan that drops an item past the count",
         kHeader + kProcess + kCreate + put(items(kItem), "{\"item\": 5, \"status\": -4}"),
         "line 4: plan: it drops item 5 of a call of 1 items"},
        {"a plan that drops an item of a call without items",
         kHeader + kProcess + kCreate +
             call(2, "velk_get_nodes",
                  "\"plan\": {\"item\": 0, \"status\": -4}, \"args\": {}, \"rc\": 0, \"out\": null"),
         "line 4: plan: velk_get_nodes takes no per-item failures"},
        {"a line whose head is whole but not the rest",
         kHeader + kProcess + kCreate + call(2, "velk_version", "\"plan\": null, \"args\": {"),
         "line 4: not JSON"},
        {"a line without its arguments",
         kHeader + kProcess + kCreate + call(2, "velk_version", "\"plan\": null"), "line 4: args: missing"},
        {"a fault inside the arguments, before the line's own",
         kHeader + kProcess +
             "{\"seq\": 1, \"args\": {\"x\": 1, \"fault\": 2}, \"call\": \"velk_version\"}\n",
         "line 3: process: missing"},
        {"a text that is a number", kHeader + kProcess + kCreate + with(put(items(kItem)), "\"n\"", "5"),
         "line 4: args.ns: expected a text"},
        {"a double that is a word",
         kHeader + kProcess + kCreate +
             call(2, "velk_create_namespace",
                  "\"plan\": null, \"args\": {\"ns\": \"n\", \"options\": {\"capacity_bytes\": 0, "
                  "\"eviction_policy\": null, \"policy_param\": \"many\"}}, \"rc\": 0, \"out\": null"),
         "line 4: args.options.policy_param: expected a number"},
        {"a process number past 32 bits",
         kHeader + with(kProcess, "\"process\": 1", "\"process\": 18446744073709551615"),
         "line 2: process: 18446744073709551615 is out of range here"},
        {"a handle's name as bytes, then an unknown handle",
         kHeader + kProcess + with(kCreate, "\"handle\": \"h1\"", "\"handle\": {\"base64\": \"aDE=\"}") +
             with(put(items(kItem)), "\"handle\": \"h1\"", "\"handle\": {\"base64\": \"!\"}"),
         "line 4: handle: not base64"},
        {"a process line without its pid", kHeader + with(kProcess, "\"pid\": 10, ", ""),
         "line 2: pid: missing"},
        {"a call within itself", kHeader + kProcess + call(2, "velk_version", "\"args\": {}", "2"),
         "line 3: within: a call can only be made within one that began before it"},
        {"a call within one of another process",
         kHeader + kProcess + with(kProcess, "\"process\": 1", "\"process\": 2") + kCreate +
             with(call(2, "velk_version", "\"args\": {}", "1"), "\"process\": 1", "\"process\": 2"),
         "line 5: within: a call of another process"},
        {"a create failed with a code that has no errno",
         kHeader + kProcess + with(kCreate, "\"plan\": null", "\"plan\": {\"code\": -2147483648}"),
         "line 3: plan.code: a create cannot fail with a code that has no errno"},
        {"a plan that drops an item before the first",
         kHeader + kProcess + kCreate + put(items(kItem), "{\"item\": -1, \"status\": -4}"),
         "line 4: plan.item: an item's index is not negative"},
        {"a refusal past the count",
         kHeader + kProcess + kCreate + put(items(kItem), "{\"refused\": [0, 1]}"),
         "line 4: plan: it drops item 1 of a call of 1 items"},
        {"refusals out of order",
         kHeader + kProcess + kCreate + put(items(kItem + ", " + kItem, 2), "{\"refused\": [1, 0]}"),
         "line 4: plan.refused[1]: the refused items are distinct indexes, in order"},
        {"a refusal of the item the plan dropped",
         kHeader + kProcess + kCreate + put(items(kItem), "{\"item\": 0, \"status\": -4, \"refused\": [0]}"),
         "line 4: plan.refused[0]: item 0 is the one the plan dropped"},
        {"a refusal of a call the plan answered",
         kHeader + kProcess + kCreate + put(items(kItem), "{\"code\": -4, \"refused\": [0]}"),
         "line 4: plan.refused: a call the plan answered was given no items to refuse"},
        {"a refusal of no put",
         kHeader + kProcess + kCreate +
             call(2, "velk_get_nodes",
                  "\"plan\": {\"refused\": [0]}, \"args\": {}, \"rc\": 0, \"out\": null"),
         "line 4: plan.refused: the cache mode refuses items of puts, not of velk_get_nodes"},
        {"an eviction within no call",
         kHeader + kProcess + kCreate +
             with(call(2, "velk_batch_delete_items", "\"plan\": null"), "\"within\": null",
                  "\"within\": null, \"evicted\": true"),
         "line 4: evicted: the cache mode evicts within a put"},
        {"an eviction within no put",
         kHeader + kProcess + kCreate +
             with(call(2, "velk_batch_delete_items", "\"plan\": null", "1"), "\"within\": 1",
                  "\"within\": 1, \"evicted\": true"),
         "line 4: evicted: the cache mode evicts with velk_batch_delete_items, within a put"},
        {"an eviction that is no flag",
         kHeader + kProcess + kCreate +
             with(call(2, "velk_batch_delete_items", "\"plan\": null", "1"), "\"within\": 1",
                  "\"within\": 1, \"evicted\": 1"),
         "line 4: evicted: expected true or false"},
        {"a missing member of the arguments",
         kHeader + kProcess + kCreate +
             call(2, "velk_get_namespace",
                  "\"plan\": null, \"args\": {\"ns\": \"n\"}, \"rc\": 0, \"out\": null"),
         "line 4: args.info: missing"},
    };
    const velkjournal::Api mock = velkjournal::load_library(VELKMOCK_TEST_MOCK);
    for (const Case& c : cases) {
        try {
            velkjournal::Journal journal(c.journal, "journal");
            velkjournal::replay(journal, mock, {}, false);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const velkjournal::Trouble& trouble) {
            EXPECT_NE(trouble.why.find(c.why), std::string::npos) << c.what << ": " << trouble.why;
        }
    }
}
