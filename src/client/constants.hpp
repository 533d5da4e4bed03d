// SPDX-License-Identifier: MIT
// The fixed texts and numbers of the mock cluster, kept in one place so that
// every operation that reports them reports the same thing.
#pragma once

#include <cstdint>
#include <string_view>

namespace velk {

inline constexpr const char* kVersion = "0.0.0-mock";
inline constexpr const char* kRevision = "mockrev";
inline constexpr const char* kBuildTime = "1970-01-01T00:00:00Z";

// Every namespace is "created" at the same instant, and every query detail
// carries it as its timestamp, so tests that compare outputs stay stable.
inline constexpr std::int64_t kFixedTimeMs = 1700000000000;

inline constexpr std::string_view kDefaultPolicy = "lru";

inline constexpr const char* kNode0Endpoint = "mock://mock-node-0:9000";
inline constexpr const char* kNode1Endpoint = "mock://mock-node-1:9000";
// Node 0's endpoint followed by "/": where every stored item "lives".
inline constexpr std::string_view kLocationPrefix = "mock://mock-node-0:9000/";

inline constexpr const char* kLowLevelNamespace = "ll";

inline constexpr const char* kQueryFound = "ok";
inline constexpr const char* kQueryNotFound = "not_found";

}  // namespace velk
