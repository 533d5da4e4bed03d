// SPDX-License-Identifier: MIT
// velkshared-ctl's commands. Those that look read the layout the library
// writes (scripts.hpp, codec.hpp) through the same connection code, so they
// follow a cluster as the library does; those that change a store go
// through the library's own calls, so that an entry put here is one the
// library put.
#pragma once

#include <string>
#include <vector>

#include "shared/connection.hpp"
#include "shared/endpoint.hpp"
#include "shared_ctl/arguments.hpp"

namespace velkctl {

inline constexpr int kOk = 0;
inline constexpr int kUnreachable = 1;
inline constexpr int kUsage = 2;

// Thrown when a command cannot go on, after its line was written.
struct Failure {
    int status;
};

// The store a command works on.
struct Place {
    std::string store;
    std::string url;  // as shown: no password
    std::string prefix;
    const velkshared::Environment* settings;
};

// The line for a call the server did not serve (`code`: -EPROTO, refused;
// anything else, not reached), then Failure.
[[noreturn]] void fail_at(int code, const std::string& where, const char* why);
// The lines for what is not there; they return kUnreachable.
int no_namespace(const Place& place, const std::string& ns);
int no_key(const Place& place, const std::string& ns, const std::string& key);

// Looking (look.cpp).
int show(velkshared::Connection& connection, const Place& place, const Options& options);
int get(velkshared::Connection& connection, const Place& place, const Options& options);
int stores(velkshared::Connection& connection, const velkshared::Endpoint& seed, const Place& place,
           const Options& options);

// Changing (change.cpp).
int put(const Place& place, const Options& options);
int del(const Place& place, const Options& options);
int clear(velkshared::Connection& connection, const Place& place);

}  // namespace velkctl
