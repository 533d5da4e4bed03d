// SPDX-License-Identifier: MIT
// The shared store's wire, white-box: where a URL says the server is, and
// how an entry's attributes and a namespace's settings survive the server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "shared/codec.hpp"
#include "shared/endpoint.hpp"

using namespace velkshared;

TEST(SharedWire, UrlsSayWhereTheServerIs) {
    struct Case {
        const char* url;
        bool unix_socket;
        const char* host_or_path;
        int port;
        const char* password;
        int db;
    } valid[] = {
        {"redis://127.0.0.1", false, "127.0.0.1", 6379, "", 0},
        {"redis://cache.example:7000", false, "cache.example", 7000, "", 0},
        {"redis://:s3cret@host:1/15", false, "host", 1, "s3cret", 15},
        {"redis://:p@ss@host/2", false, "host", 6379, "p@ss", 2},
        {"redis://[::1]:6380/", false, "::1", 6380, "", 0},
        {"redis://[::1]", false, "::1", 6379, "", 0},
        {"unix:///run/redis.sock", true, "/run/redis.sock", 6379, "", 0},
        {"unix:///run/redis.sock?db=3", true, "/run/redis.sock", 6379, "", 3},
    };
    for (const Case& c : valid) {
        const auto endpoint = parse_url(c.url);
        ASSERT_TRUE(endpoint) << c.url;
        EXPECT_EQ(endpoint->unix_socket, c.unix_socket) << c.url;
        EXPECT_EQ(c.unix_socket ? endpoint->path : endpoint->host, c.host_or_path) << c.url;
        EXPECT_EQ(endpoint->port, c.port) << c.url;
        EXPECT_EQ(endpoint->password, c.password) << c.url;
        EXPECT_EQ(endpoint->db, c.db) << c.url;
    }
    for (const char* url : {"",
                            "redis:/host",
                            "http://host",
                            "redis://",
                            "redis://:pw@",
                            "redis://host:",
                            "redis://host:x",
                            "redis://host:0",
                            "redis://host:65536",
                            "redis://host/x",
                            "redis://host/-1",
                            "redis://user@host",
                            "redis://[::1",
                            "redis://[::1]x",
                            "redis://[::1]:0",
                            "unix://",
                            "unix://relative",
                            "unix:///",
                            "unix:///s?db=",
                            "unix:///s?database=1",
                            "unix:///s?db=1x"}) {
        EXPECT_FALSE(parse_url(url)) << url;
    }
}

TEST(SharedWire, TheEnvironmentGivesDefaultsAndRefusesABadTimeOut) {
    unsetenv("VELKSHARED_URL");
    unsetenv("VELKSHARED_STORE");
    unsetenv("VELKSHARED_TIMEOUT_MS");
    auto settings = settings_from_environment(nullptr, nullptr);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->url, "redis://127.0.0.1:6379");
    EXPECT_EQ(settings->store, "default");
    EXPECT_EQ(settings->timeout.count(), 5000);
    setenv("VELKSHARED_URL", "unix:///x", 1);
    setenv("VELKSHARED_STORE", "s", 1);
    setenv("VELKSHARED_TIMEOUT_MS", "250", 1);
    settings = settings_from_environment(nullptr, nullptr);
    EXPECT_EQ(settings->url, "unix:///x");
    EXPECT_EQ(settings->store, "s");
    EXPECT_EQ(settings->timeout.count(), 250);
    settings = settings_from_environment("redis://given", "given");  // arguments win
    EXPECT_EQ(settings->url, "redis://given");
    EXPECT_EQ(settings->store, "given");
    for (const char* bad : {"0", "-5", "ten", "99999999999"}) {
        setenv("VELKSHARED_TIMEOUT_MS", bad, 1);
        EXPECT_FALSE(settings_from_environment(nullptr, nullptr)) << bad;
    }
    unsetenv("VELKSHARED_URL");
    unsetenv("VELKSHARED_STORE");
    unsetenv("VELKSHARED_TIMEOUT_MS");
    // The hash tag holds any name, braces included.
    EXPECT_EQ(key_prefix("a{b}"), "velk:{617b627d}:");
}

TEST(SharedWire, AttributesAndSettingsSurviveTheRoundTrip) {
    const velk_meta_pair_t pairs[] = {{"k", "v"}, {nullptr, "dropped"}, {"", ""}, {"k", "v2"}};
    velk::PutRecord record{"key", {}, velk::MetaSource{pairs, 4}, 7, 3, true, 0};
    std::string bytes;
    encode_attributes(record, 1234, bytes);
    Attributes decoded;
    ASSERT_TRUE(decode_attributes(bytes, decoded));
    EXPECT_EQ(decoded.length, 1234u);
    EXPECT_EQ(decoded.tag, 7u);
    EXPECT_EQ(decoded.replica_count, 3);
    ASSERT_EQ(decoded.metadata.size(), 3u);
    EXPECT_EQ(decoded.metadata[2].value, "v2");
    // The common entry carries only its length.
    velk::PutRecord plain{"key", {}, {}, 0, 1, true, 0};
    bytes.clear();
    encode_attributes(plain, 0, bytes);
    EXPECT_EQ(bytes, "0:");
    ASSERT_TRUE(decode_attributes(bytes, decoded));
    EXPECT_EQ(decoded.replica_count, 1);
    // Bytes that are no attributes are refused, not read past their end.
    std::string full;
    encode_attributes(record, 5, full);
    for (const std::string& bad :
         {std::string(""), std::string(":"), std::string("x:"), std::string("5"), std::string("5:\x01"),
          full.substr(0, full.size() - 1), full + "extra", std::string("5:") + std::string(12, '\xff')}) {
        EXPECT_FALSE(decode_attributes(bad, decoded)) << bad.size();
    }
    Settings settings;
    const std::string encoded = encode_settings(-4, 0.25, "lfu");  // the policy is a view into it
    ASSERT_TRUE(decode_settings(encoded, settings));
    EXPECT_EQ(settings.capacity, -4);
    EXPECT_EQ(settings.param, 0.25);
    EXPECT_EQ(settings.policy, "lfu");
    EXPECT_FALSE(decode_settings("short", settings));
}
