// SPDX-License-Identifier: MIT
// Where a shared store lives: the server's address, parsed from a URL, and
// the store's name, and how its keys are named on the server.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkshared {

struct Endpoint {
    bool unix_socket = false;
    std::string host;  // TCP
    int port = 6379;
    std::string path;  // Unix socket
    std::string user;  // empty: the server's default user
    std::string password;
    int db = 0;
};

// A URL names one server, or several nodes of one cluster to start from,
// tried in order:
//   redis://[[USER]:PASSWORD@]HOST[:PORT][,HOST[:PORT]...][/DB]
//   unix://[[USER]:PASSWORD@]/PATH[?db=N][,unix://...]
// In USER, PASSWORD and PATH "%HH" is the byte HH (a "%" without two hex
// digits after it is itself). A unix:// list is split only where a comma is
// followed by another URL ("SCHEME://"): any other comma is part of the
// password or path it is in. Nothing for a malformed URL; `why` then says
// which part is wrong (never with the password in it).
std::optional<std::vector<Endpoint>> parse_url(std::string_view url, std::string* why = nullptr);

// The URL with its password shown as "***": for every text a person or a
// log may see. Of bytes that are no URL, everything between a scheme-like
// prefix (or the start) and the last "@" is hidden.
std::string redacted(std::string_view url);

// A server's text with every trace of `secret` hidden: the secret and any
// piece of it that a server echoing what it refused may have cut short.
std::string without_secret(std::string_view text, std::string_view secret);

// Where one node is, for texts: "unix:///PATH" or "redis://HOST:PORT",
// without user or password.
std::string describe(const Endpoint& endpoint);

// What a create (or a control call) reads: the given values, else
// VELKSHARED_URL, VELKSHARED_STORE, VELKSHARED_TIMEOUT_MS and
// VELKSHARED_REPLICAS, else the defaults.
struct Environment {
    std::string url;
    std::string store;
    std::chrono::milliseconds timeout;
    int replicas = 0;  // of its master that must have each write (WAIT)
};
inline constexpr int kMostReplicas = 1000;
// Nothing when VELKSHARED_TIMEOUT_MS is not a positive number, or
// VELKSHARED_REPLICAS not a number from 0 to kMostReplicas (`why` says so).
// A given timeout of 0 means "not given"; a record's replicas the caller
// puts in place of the variable's.
std::optional<Environment> settings_from_environment(const char* url, const char* store,
                                                     std::chrono::milliseconds timeout = {},
                                                     std::string* why = nullptr);

// The keys of a store all begin "velk:{HEX}:", HEX being the store's name in
// hexadecimal: a hash tag that no name (braces included) can break out of,
// so a whole store sits in one cluster slot. The empty name, whose tag would
// be empty (and ignored by a cluster), is "velk:{-}:".
std::string key_prefix(std::string_view store);
std::string hex(std::string_view text);

}  // namespace velkshared
