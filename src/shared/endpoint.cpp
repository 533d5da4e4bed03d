// SPDX-License-Identifier: MIT
#include "shared/endpoint.hpp"

#include <charconv>
#include <cstdlib>

namespace velkshared {
namespace {

constexpr const char* kDefaultUrl = "redis://127.0.0.1:6379";
constexpr const char* kDefaultStore = "default";
constexpr long kDefaultTimeoutMs = 5000;

bool parse_number(std::string_view text, int low, int high, int& out) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
        value > high) {
        return false;
    }
    out = value;
    return true;
}

}  // namespace

std::optional<Endpoint> parse_url(std::string_view url) {
    Endpoint endpoint;
    constexpr std::string_view kUnix = "unix://";
    constexpr std::string_view kRedis = "redis://";
    if (url.substr(0, kUnix.size()) == kUnix) {
        std::string_view rest = url.substr(kUnix.size());
        endpoint.unix_socket = true;
        if (const auto query = rest.find('?'); query != std::string_view::npos) {
            const std::string_view option = rest.substr(query + 1);
            if (option.substr(0, 3) != "db=" || !parse_number(option.substr(3), 0, 1 << 20, endpoint.db)) {
                return std::nullopt;
            }
            rest = rest.substr(0, query);
        }
        if (rest.size() < 2 || rest[0] != '/') {
            return std::nullopt;
        }
        endpoint.path = rest;
        return endpoint;
    }
    if (url.substr(0, kRedis.size()) != kRedis) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(kRedis.size());
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
        const std::string_view user_info = rest.substr(0, at);
        if (user_info.empty() || user_info[0] != ':') {
            return std::nullopt;
        }
        endpoint.password = user_info.substr(1);
        rest = rest.substr(at + 1);
    }
    if (const auto slash = rest.find('/'); slash != std::string_view::npos) {
        const std::string_view db = rest.substr(slash + 1);
        if (!db.empty() && !parse_number(db, 0, 1 << 20, endpoint.db)) {
            return std::nullopt;
        }
        rest = rest.substr(0, slash);
    }
    std::string_view host = rest;
    if (!rest.empty() && rest[0] == '[') {  // [IPv6]:PORT
        const auto close = rest.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || !parse_number(rest.substr(1), 1, 65535, endpoint.port))) {
            return std::nullopt;
        }
    } else if (const auto colon = rest.rfind(':'); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        if (!parse_number(rest.substr(colon + 1), 1, 65535, endpoint.port)) {
            return std::nullopt;
        }
    }
    if (host.empty()) {
        return std::nullopt;
    }
    endpoint.host = host;
    return endpoint;
}

std::optional<Environment> settings_from_environment(const char* url, const char* store) {
    const char* env_url = std::getenv("VELKSHARED_URL");
    const char* env_store = std::getenv("VELKSHARED_STORE");
    const char* env_timeout = std::getenv("VELKSHARED_TIMEOUT_MS");
    Environment settings{
        url != nullptr ? url : (env_url != nullptr && *env_url != '\0' ? env_url : kDefaultUrl),
        store != nullptr ? store : (env_store != nullptr ? env_store : kDefaultStore),
        std::chrono::milliseconds(kDefaultTimeoutMs)};
    if (env_timeout != nullptr && *env_timeout != '\0') {
        int ms = 0;
        if (!parse_number(env_timeout, 1, 86400000, ms)) {
            return std::nullopt;
        }
        settings.timeout = std::chrono::milliseconds(ms);
    }
    return settings;
}

std::string hex(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 15]);
    }
    return out;
}

std::string key_prefix(std::string_view store) {
    return "velk:{" + hex(store) + "}:";
}

}  // namespace velkshared
