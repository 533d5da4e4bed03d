// SPDX-License-Identifier: MIT
// The journal's format, writer to reader: any bytes a text or a value may
// hold, and any double's bits, come back as they went; and the marks of
// what a library did not read mean nothing else.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "journal/journal.hpp"
#include "journal/json.hpp"
#include "journal/writer.hpp"
#include "velk_journal/builder.hpp"
#include "velk_journal/input.hpp"

using velkfault::journal::Json;
using velkfault::journal::Values;
using velkjournal::element;
using velkjournal::LineReader;
using velkjournal::Where;

namespace {

// Parses one JSON value; the parser stays alive with the element.
struct Parsed {
    simdjson::dom::parser parser;
    element value;
    explicit Parsed(const std::string& text) {
        EXPECT_EQ(parser.parse(text).get(value), simdjson::SUCCESS) << text;
    }
};

std::string text_round_trip(const std::string& bytes) {
    Json json;
    json.bytes(bytes);
    const Parsed parsed(json.text);
    std::string storage;
    return std::string(LineReader(1).text(parsed.value, Where{}, storage));
}

}  // namespace

TEST(JournalFormat, AnyBytesOfATextComeBack) {
    std::string every_byte;
    for (int b = 1; b < 256; ++b) {
        every_byte += static_cast<char>(b);
    }
    const std::vector<std::string> texts = {
        every_byte,
        "plain text, \"quoted\", back\\slashed, \n\t\r\x01\x7f",
        "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",                      // valid 2-, 3- and 4-byte sequences
        "\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xf5\x80",  // overlong, surrogate, beyond U+10FFFF
        "\xe2\x82",                                                  // a sequence cut short
        "",
    };
    for (const auto& text : texts) {
        EXPECT_EQ(text_round_trip(text), text);
    }
    // Valid UTF-8 stays readable text; other bytes go as base64.
    Json readable;
    readable.bytes("\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(readable.text, "\"\xc3\xa9\xe2\x82\xac\"");
    Json binary;
    binary.bytes("\xff");
    EXPECT_EQ(binary.text, "{\"base64\": \"/w==\"}");
}

TEST(JournalFormat, DoublesComeBackBitForBit) {
    const double values[] = {0.0,
                             -0.0,
                             0.1,
                             1e300,
                             -2.5,
                             4.9e-324,  // the least subnormal
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN(),
                             std::bit_cast<double>(0x7ff0000000000001ULL),  // a signalling NaN's bits
                             9007199254740993.0};
    for (const double value : values) {
        Json json;
        json.real(value);
        const Parsed parsed(json.text);
        double back = 0;
        ASSERT_TRUE(velkjournal::real_of(parsed.value, back)) << json.text;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value)) << json.text;
    }
    // A whole number where a double is meant reads as that double.
    const Parsed whole("3");
    double three = 0;
    ASSERT_TRUE(velkjournal::real_of(whole.value, three));
    EXPECT_EQ(three, 3.0);
    for (const char* bad :
         {"\"nan:7ff8\"", "\"nan:0000000000000000\"", "\"nan:zzzzzzzzzzzzzzzz\"", "\"infinity\"", "true"}) {
        const Parsed parsed(bad);
        double ignored = 0;
        EXPECT_FALSE(velkjournal::real_of(parsed.value, ignored)) << bad;
    }
}

TEST(JournalFormat, AValueIsTheSameWhateverItsParts) {
    const std::string whole = "foobar, the bytes of a value";
    for (const Values mode : {Values::Hash, Values::Full, Values::None}) {
        Json one;
        one.value(whole.data(), whole.size(), mode);
        for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
            for (std::size_t second = cut; second <= whole.size(); second += 5) {
                const void* parts[] = {whole.data(), whole.data() + cut, nullptr, whole.data() + second};
                const std::uint64_t lens[] = {cut, second - cut, 0, whole.size() - second};
                Json split;
                split.value(parts, lens, 4, mode);
                ASSERT_EQ(split.text, one.text) << cut << " " << second;
            }
        }
    }
    Json hashed;
    hashed.value("a", 1, Values::Hash);
    EXPECT_EQ(hashed.text, "{\"length\": 1, \"fnv1a64\": \"af63dc4c8601ec8c\"}");
    for (const auto& [bytes, base64] : {std::pair{"", ""}, std::pair{"f", "Zg=="}, std::pair{"fo", "Zm8="},
                                        std::pair{"foo", "Zm9v"}, std::pair{"foob", "Zm9vYg=="}}) {
        Json full;
        full.value(bytes, std::strlen(bytes), Values::Full);
        EXPECT_EQ(full.text,
                  "{\"length\": " + std::to_string(std::strlen(bytes)) + ", \"base64\": \"" + base64 + "\"}");
        std::string decoded;
        ASSERT_TRUE(velkjournal::base64_decode(base64, decoded));
        EXPECT_EQ(decoded, bytes);
    }
    std::string decoded;
    for (const char* bad : {"Zg=", "Z===", "Zm8=Zm8=", "Zm9v!", "Zh=="}) {
        EXPECT_FALSE(velkjournal::base64_decode(bad, decoded)) << bad;
    }
}

// A text that reads "given" is a text: the builder gives it back as such,
// and the mark itself as a text the library never reads.
TEST(JournalFormat, TheMarkOfWhatWasNotReadIsNoText) {
    struct NoPlaces final : velkjournal::Places {
        velk_get_callback_t callback() override { return nullptr; }
        velk_query_result_t* results_for_query(std::size_t) override { return nullptr; }
        velk_query_result_t* results_named(std::string_view, std::size_t) override { return nullptr; }
    } places;
    velkjournal::Arena arena;
    for (const auto& [text, read, expected] :
         {std::tuple{"given", true, "given"}, std::tuple{"given", false, ""},
          std::tuple{"other", true, "other"}}) {
        Json json;
        velkfault::journal::Writer writer(json, Values::Full);
        json.open_object();
        const char* given = text;
        writer.text("key", given, read);
        json.close_object();
        const Parsed parsed(json.text);
        const Where top;
        velkjournal::Builder builder(LineReader(1), parsed.value, top, arena, places);
        const char* back = nullptr;
        builder.text("key", back, true);
        ASSERT_NE(back, nullptr) << json.text;
        EXPECT_STREQ(back, expected) << json.text;
    }
}

// What a program is stopped for at load, said here rather than by the
// program's exit: the journal's variables and the files it will not add to.
TEST(JournalFile, RefusesWhatItCannotUseSayingWhy) {
    namespace journal = velkfault::journal;
    const std::string dir = ::testing::TempDir();
    const auto write = [](const std::string& path, const std::string& text) {
        std::FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(text.c_str(), file);
        std::fclose(file);
    };
    const std::string version2 = "{\"journal\": \"velkfault\", \"version\": 2, \"values\": \"full\"";
    write(dir + "other.jsonl", "{\"something\": \"else\"}\n");
    write(dir + "no-epoch.jsonl", version2 + "}\n");
    write(dir + "no-seq.jsonl", version2 + ", \"epoch_ns\": 1}\n");
    write(dir + "moved.jsonl",
          version2 + ", \"epoch_ns\": 1, \"seq\": \"00000000\", \"processes\": \"00000000\"}\n");
    const struct {
        const char* path;    // relative to the test's folder, or absolute
        const char* values;  // VELKFAULT_JOURNAL_VALUES
        const char* why;     // what open_from_environment says
    } cases[] = {
        {"x.jsonl", "some", "VELKFAULT_JOURNAL_VALUES is 'some', not full, hash or none"},
        {"no/such/folder/x.jsonl", "hash", "cannot open"},
        {"other.jsonl", "none", "other.jsonl: it is not a journal of this version"},
        {"no-epoch.jsonl", "full", "no-epoch.jsonl: its header has no epoch_ns"},
        {"no-seq.jsonl", "full", "no-seq.jsonl: its header has no seq"},
        {"moved.jsonl", "full", "moved.jsonl: its header's"},
    };
    for (const auto& c : cases) {
        setenv("VELKFAULT_JOURNAL", (dir + c.path).c_str(), 1);
        setenv("VELKFAULT_JOURNAL_VALUES", c.values, 1);
        const std::string problem = journal::open_from_environment();
        EXPECT_NE(problem.find(c.why), std::string::npos) << c.path << ": " << problem;
        EXPECT_FALSE(journal::on()) << c.path;
    }
    setenv("VELKFAULT_JOURNAL", "", 1);
    EXPECT_EQ(journal::open_from_environment(), "");
    unsetenv("VELKFAULT_JOURNAL");
    unsetenv("VELKFAULT_JOURNAL_VALUES");
    EXPECT_EQ(journal::open_from_environment(), "");
    EXPECT_FALSE(journal::on());
}
