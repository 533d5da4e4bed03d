// SPDX-License-Identifier: MIT
// The journal's JSON: what velk-replay's reader accepts and refuses, and
// that any bytes the writer is given come back from the reader unchanged
// (texts in a journal are keys and namespace names, any bytes at all).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "faults/journal.hpp"
#include "faults/json_reader.hpp"

using velkfault::journal::Json;
using velkfault::journal::Values;
namespace json = velkfault::json;

namespace {

std::string round_trip_bytes(const std::string& bytes) {
    Json writer;
    writer.bytes(bytes);
    std::string why;
    const auto read = json::parse(writer.text, &why);
    EXPECT_TRUE(read.has_value()) << why << " in " << writer.text;
    return read ? read->text : std::string("<unreadable>");
}

}  // namespace

TEST(JsonReader, Accepts) {
    const struct {
        const char* text;
        const char* dumped;
    } cases[] = {
        {" {\"a\" : [1, -0.5e+3, 2E-2, 0, true, false, null], \"b\": {}} ",
         "{\"a\": [1, -0.5e+3, 2E-2, 0, true, false, null], \"b\": {}}"},
        {"[]", "[]"},
        {"\"\\n\\t\\r\\b\\f\\/\\\\\\\"\"", "\"\\u000a\\u0009\\u000d\\u0008\\u000c/\\\\\\\"\""},
        // \u00XX is one byte; higher code points are UTF-8, pairs included.
        {"\"\\u00ff\\u0041\"", "\"\\u00ffA\""},
        {"\"\\u00e9\\u20AC\"", "\"\\u00e9\\u00e2\\u0082\\u00ac\""},
        {"\"\\ud83d\\ude00\"", "\"\\u00f0\\u009f\\u0098\\u0080\""},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto value = json::parse(c.text, &why);
        ASSERT_TRUE(value.has_value()) << c.text << ": " << why;
        EXPECT_EQ(value->dump(), c.dumped) << c.text;
        EXPECT_TRUE(*json::parse(value->dump()) == *value) << c.text;
    }
}

TEST(JsonReader, RefusesSayingWhy) {
    const struct {
        std::string text;
        const char* why;
    } cases[] = {
        {"", "a value was expected at byte 0"},
        {"{\"a\" 1}", "':' was expected"},
        {"{\"a\": 1 \"b\": 2}", "',' or '}' was expected"},
        {"{1: 2}", "a member name was expected"},
        {"[1 2]", "',' or ']' was expected"},
        {"[1,]", "a value was expected"},
        {"tru", "an unknown word"},
        {"nul", "an unknown word"},
        {"01", "a malformed number"},
        {"-", "a malformed number"},
        {"1.", "a malformed number"},
        {"1e+", "a malformed number"},
        {"+1", "a value was expected"},
        {"1 2", "text after the value"},
        {"\"abc", "a string does not end"},
        {"\"abc\\", "a string does not end"},
        {"\"\\x\"", "an unknown escape"},
        {"\"\\u12\"", "four hex digits"},
        {"\"\\u12g4\"", "four hex digits"},
        {"\"\\ud83d\"", "half of a surrogate pair"},
        {"\"\\ude00\\ud83d\"", "half of a surrogate pair"},
        {"\"\\ud83d\\u0041\"", "half of a surrogate pair"},
        {"\"\\ud83d\\uzz\"", "half of a surrogate pair"},
        {"\"a\nb\"", "a control character in a string"},
        {std::string(300, '['), "values nested too deeply"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(json::parse(c.text, &why).has_value()) << c.text;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.text << ": " << why;
    }
}

TEST(JsonWriter, AnyBytesComeBackUnchanged) {
    std::string every_byte;
    for (int b = 0; b < 256; ++b) {
        every_byte += static_cast<char>(b);
    }
    const std::vector<std::string> texts = {
        every_byte,
        "plain text, \"quoted\" and back\\slashed",
        "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",                      // valid 2-, 3- and 4-byte sequences
        "\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xf5\x80",  // overlong, surrogate, beyond U+10FFFF
        "\xe2\x82",                                                  // a sequence cut short
        std::string("a\0b", 3),
    };
    for (const auto& text : texts) {
        EXPECT_EQ(round_trip_bytes(text), text);
    }
    // Valid UTF-8 is written as it is, so a journal stays readable.
    Json writer;
    writer.bytes("\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(writer.text, "\"\xc3\xa9\xe2\x82\xac\"");
}

TEST(JsonWriter, ValuesAreTheSameWhateverTheirParts) {
    const std::string whole = "foobar, the bytes of a value";
    for (const Values mode : {Values::Hash, Values::Full, Values::None}) {
        Json one;
        one.value(whole.data(), whole.size(), mode);
        for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
            const void* parts[] = {whole.data(), whole.data() + cut, nullptr};
            const std::uint64_t lens[] = {cut, whole.size() - cut, 0};
            Json split;
            split.value(parts, lens, 3, mode);
            ASSERT_EQ(split.text, one.text) << cut;
        }
    }
    Json hashed;
    hashed.value("a", 1, Values::Hash);
    EXPECT_EQ(hashed.text, "{\"length\": 1, \"fnv1a64\": \"af63dc4c8601ec8c\"}");
    for (const auto& [bytes, base64] : {std::pair{"", ""}, std::pair{"f", "Zg=="}, std::pair{"fo", "Zm8="},
                                        std::pair{"foo", "Zm9v"}, std::pair{"foob", "Zm9vYg=="}}) {
        Json full;
        full.value(bytes, std::char_traits<char>::length(bytes), Values::Full);
        EXPECT_EQ(*json::parse(full.text)->find("base64"), *json::parse('"' + std::string(base64) + '"'));
    }
}

TEST(JsonWriter, NumbersJsonCannotHoldGoAsTexts) {
    Json writer;
    writer.open_array();
    writer.real(0.1);
    writer.real(INFINITY);
    writer.real(NAN);
    writer.string(nullptr);
    writer.field("abc\0def", 7);
    writer.close_array();
    const auto read = json::parse(writer.text);
    ASSERT_TRUE(read.has_value()) << writer.text;
    ASSERT_EQ(read->items.size(), 5u);
    EXPECT_EQ(read->items[0].real(), 0.1);
    EXPECT_EQ(read->items[1].kind, json::Value::String);
    EXPECT_EQ(read->items[2].kind, json::Value::String);
    EXPECT_TRUE(read->items[3].is_null());
    EXPECT_EQ(read->items[4].text, "abc");
}

// The journal's own file, from inside: what VELKFAULT_JOURNAL* refuse, and
// each line's "fault" and "within" as a plan and nesting make them.
TEST(JournalFile, OpensFromTheEnvironmentAndWritesWholeLines) {
    namespace journal = velkfault::journal;
    const std::string path = ::testing::TempDir() + "velkfault-journal-test.jsonl";
    unsetenv("VELKFAULT_JOURNAL");
    EXPECT_EQ(journal::open_from_environment(), "");
    EXPECT_FALSE(journal::on());
    setenv("VELKFAULT_JOURNAL", path.c_str(), 1);
    setenv("VELKFAULT_JOURNAL_VALUES", "some", 1);
    EXPECT_EQ(journal::open_from_environment(), "VELKFAULT_JOURNAL_VALUES is 'some', not full, hash or none");
    setenv("VELKFAULT_JOURNAL", "/nowhere/at/all.jsonl", 1);
    setenv("VELKFAULT_JOURNAL_VALUES", "none", 1);
    EXPECT_EQ(
        journal::open_from_environment().rfind("VELKFAULT_JOURNAL: cannot open /nowhere/at/all.jsonl: ", 0),
        0u);
    EXPECT_FALSE(journal::on());
    setenv("VELKFAULT_JOURNAL", path.c_str(), 1);
    ASSERT_EQ(journal::open_from_environment(), "");
    unsetenv("VELKFAULT_JOURNAL");
    unsetenv("VELKFAULT_JOURNAL_VALUES");
    ASSERT_TRUE(journal::on());
    EXPECT_EQ(journal::values(), Values::None);

    const struct {
        velkfault::Decision::Kind kind;
        bool delayed;
        const char* fault;  // the line's "fault", JSON
    } cases[] = {
        {velkfault::Decision::Pass, false, "null"},
        {velkfault::Decision::FailCall, false, "\"failed\""},
        {velkfault::Decision::FailItem, false, "\"item 3\""},
        {velkfault::Decision::Pass, true, "\"delayed\""},
        {velkfault::Decision::FailItem, true, "\"item 3, delayed\""},
    };
    for (const auto& c : cases) {
        const journal::Call outer(velkfault::kBatchPut);
        {
            // A call the library makes inside the outer one.
            const journal::Call inner(velkfault::kBatchGet);
            Json line;
            velkfault::Decision decision;
            decision.kind = c.kind;
            decision.item = 3;
            inner.begin_line(line, decision, c.delayed);
            line.close_object();
            journal::Call::write(line);
        }
        Json line;
        outer.begin_line(line, velkfault::Decision{}, false);
        line.close_object();
        journal::Call::write(line);
    }

    std::ifstream in(path);
    std::string text;
    ASSERT_TRUE(std::getline(in, text));
    EXPECT_EQ(json::parse(text)->find("values")->text, "none");
    for (const auto& c : cases) {
        ASSERT_TRUE(std::getline(in, text));
        const auto inner = json::parse(text);
        ASSERT_TRUE(std::getline(in, text));
        const auto outer = json::parse(text);
        ASSERT_TRUE(inner && outer) << text;
        EXPECT_EQ(inner->find("call")->text, "velk_batch_get");
        EXPECT_EQ(inner->find("fault")->dump(), c.fault);
        EXPECT_EQ(inner->find("within")->unsigned_integer(), outer->find("seq")->unsigned_integer());
        EXPECT_TRUE(outer->find("within")->is_null());
        EXPECT_TRUE(outer->find("fault")->is_null());
    }
    EXPECT_FALSE(std::getline(in, text));

    // Handles the journal saw made have names; any other is its address.
    int somewhere = 0;
    const auto* handle = reinterpret_cast<const velk_client*>(&somewhere);
    EXPECT_EQ(journal::handle_name(nullptr), "");
    EXPECT_EQ(journal::handle_name(handle).rfind("0x", 0), 0u);
    journal::name_handle(handle);
    EXPECT_EQ(journal::handle_name(handle).front(), 'h');
    journal::forget_handle(handle);
    EXPECT_EQ(journal::handle_name(handle).rfind("0x", 0), 0u);
    std::remove(path.c_str());
}
