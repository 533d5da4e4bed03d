// SPDX-License-Identifier: MIT
// Where a shared store lives: the server's address, parsed from a URL, and
// the store's name, and how its keys are named on the server.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velkshared {

struct Endpoint {
    bool unix_socket = false;
    std::string host;  // TCP
    int port = 6379;
    std::string path;  // Unix socket
    std::string password;
    int db = 0;
};

// redis://[:PASSWORD@]HOST[:PORT][/DB] or unix:///PATH[?db=N]; nothing for a
// malformed URL.
std::optional<Endpoint> parse_url(std::string_view url);

// What a create (or a control call given NULL) reads from the environment:
// VELKSHARED_URL, VELKSHARED_STORE and VELKSHARED_TIMEOUT_MS, with their
// defaults.
struct Environment {
    std::string url;
    std::string store;
    std::chrono::milliseconds timeout;
};
// Nothing when VELKSHARED_TIMEOUT_MS is not a positive number.
std::optional<Environment> settings_from_environment(const char* url, const char* store);

// The keys of a store all begin "velk:{HEX}:", HEX being the store's name in
// hexadecimal: a hash tag that no name (braces included) can break out of,
// so a whole store sits in one cluster slot.
std::string key_prefix(std::string_view store);
std::string hex(std::string_view text);

}  // namespace velkshared
