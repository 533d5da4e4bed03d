// SPDX-License-Identifier: MIT
#include "shared/endpoint.hpp"

#include <sys/un.h>

#include <charconv>
#include <cstdlib>

namespace velkshared {
namespace {

constexpr const char* kDefaultUrl = "redis://127.0.0.1:6379";
constexpr const char* kDefaultStore = "default";
constexpr long kDefaultTimeoutMs = 5000;
constexpr std::string_view kUnix = "unix://";
constexpr std::string_view kRedis = "redis://";

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

bool refuse(std::string* why, const char* text) {
    if (why != nullptr) {
        *why = text;
    }
    return false;
}

// "[USER]:PASSWORD" before an "@". A user alone is refused: it reads as a
// password that lost its colon, and sending it as a user name would fail
// later with a less helpful answer.
bool parse_user_info(std::string_view info, Endpoint& endpoint, std::string* why) {
    const auto colon = info.find(':');
    if (colon == std::string_view::npos) {
        return refuse(why, "the part before \"@\" has no \":\": write USER:PASSWORD@ or :PASSWORD@");
    }
    endpoint.user = info.substr(0, colon);
    endpoint.password = info.substr(colon + 1);
    if (endpoint.password.empty()) {
        return refuse(why, "the password before \"@\" is empty");
    }
    return true;
}

// HOST[:PORT] or [IPV6][:PORT].
bool parse_host(std::string_view text, Endpoint& endpoint, std::string* why) {
    std::string_view host = text;
    std::string_view port;
    if (!text.empty() && text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            return refuse(why, "an IPv6 address has no closing \"]\"");
        }
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') {
            return refuse(why, "an IPv6 address is followed by something other than \":PORT\"");
        }
        port = rest.empty() ? std::string_view() : rest.substr(1);
        if (!rest.empty() && port.empty()) {
            return refuse(why, "the port is not a number from 1 to 65535");
        }
    } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (port.empty()) {
            return refuse(why, "the port is not a number from 1 to 65535");
        }
    }
    if (host.empty()) {
        return refuse(why, "the URL names no host");
    }
    if (!port.empty() && !parse_number(port, 1, 65535, endpoint.port)) {
        return refuse(why, "the port is not a number from 1 to 65535");
    }
    endpoint.host = host;
    return true;
}

// unix://[[USER]:PASSWORD@]/PATH[?db=N]
bool parse_unix(std::string_view rest, Endpoint& endpoint, std::string* why) {
    endpoint.unix_socket = true;
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
        if (!parse_user_info(rest.substr(0, at), endpoint, why)) {
            return false;
        }
        rest = rest.substr(at + 1);
    }
    if (const auto query = rest.find('?'); query != std::string_view::npos) {
        const std::string_view option = rest.substr(query + 1);
        if (option.substr(0, 3) != "db=" || !parse_number(option.substr(3), 0, 1 << 20, endpoint.db)) {
            return refuse(why, "the only query a unix:// URL takes is ?db=N, N a database number");
        }
        rest = rest.substr(0, query);
    }
    if (rest.size() < 2 || rest[0] != '/') {
        return refuse(why, "the socket path is not an absolute path (unix:///PATH)");
    }
    if (rest.size() >= sizeof(sockaddr_un{}.sun_path)) {
        // Cut to fit, it would name another socket.
        return refuse(why, "the socket path is longer than a socket address holds (107 bytes)");
    }
    endpoint.path = rest;
    return true;
}

}  // namespace

std::optional<std::vector<Endpoint>> parse_url(std::string_view url, std::string* why) {
    std::vector<Endpoint> seeds;
    if (url.substr(0, kUnix.size()) == kUnix) {
        // Each seed is a whole unix:// URL.
        while (true) {
            const auto comma = url.find(',');
            const std::string_view one = url.substr(0, comma);
            if (one.substr(0, kUnix.size()) != kUnix) {
                refuse(why, "each node of a unix:// list is a unix:// URL");
                return std::nullopt;
            }
            if (!parse_unix(one.substr(kUnix.size()), seeds.emplace_back(), why)) {
                return std::nullopt;
            }
            if (comma == std::string_view::npos) {
                return seeds;
            }
            url = url.substr(comma + 1);
        }
    }
    if (url.substr(0, kRedis.size()) != kRedis) {
        refuse(why, url.find("://") == std::string_view::npos
                        ? "it is not a URL: write redis://HOST[:PORT] or unix:///PATH"
                        : "the scheme is not supported: only redis:// and unix:// are");
        return std::nullopt;
    }
    std::string_view rest = url.substr(kRedis.size());
    Endpoint first;
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
        if (!parse_user_info(rest.substr(0, at), first, why)) {
            return std::nullopt;
        }
        rest = rest.substr(at + 1);
    }
    if (const auto slash = rest.find('/'); slash != std::string_view::npos) {
        const std::string_view db = rest.substr(slash + 1);
        if (!db.empty() && !parse_number(db, 0, 1 << 20, first.db)) {
            refuse(why, "the database after \"/\" is not a number");
            return std::nullopt;
        }
        rest = rest.substr(0, slash);
    }
    // HOST[:PORT], then more nodes of the same cluster after commas, each
    // with the same user, password and database.
    while (true) {
        const auto comma = rest.find(',');
        Endpoint& seed = seeds.emplace_back(first);
        if (!parse_host(rest.substr(0, comma), seed, why)) {
            return std::nullopt;
        }
        if (comma == std::string_view::npos) {
            return seeds;
        }
        rest = rest.substr(comma + 1);
    }
}

std::string redacted(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return std::string(url);
    }
    const std::string_view rest = url.substr(scheme + 3);
    const auto at = rest.rfind('@');
    if (at == std::string_view::npos) {
        return std::string(url);
    }
    // USER:PASSWORD keeps the user; anything else before "@" may be a
    // password written without its colon.
    const std::string_view info = rest.substr(0, at);
    const auto colon = info.find(':');
    const std::string_view user =
        colon == std::string_view::npos ? std::string_view() : info.substr(0, colon);
    std::string out(url.substr(0, scheme + 3));
    out.append(user);
    out += user.empty() && colon == std::string_view::npos ? "***" : ":***";
    out.append(rest.substr(at));
    return out;
}

std::string describe(const Endpoint& endpoint) {
    if (endpoint.unix_socket) {
        return "unix://" + endpoint.path;
    }
    const bool ipv6 = endpoint.host.find(':') != std::string::npos;
    return "redis://" + (ipv6 ? "[" + endpoint.host + "]" : endpoint.host) + ":" +
           std::to_string(endpoint.port);
}

std::optional<Environment> settings_from_environment(const char* url, const char* store,
                                                     std::chrono::milliseconds timeout, std::string* why) {
    const char* env_url = std::getenv("VELKSHARED_URL");
    const char* env_store = std::getenv("VELKSHARED_STORE");
    const char* env_timeout = std::getenv("VELKSHARED_TIMEOUT_MS");
    const char* env_replicas = std::getenv("VELKSHARED_REPLICAS");
    Environment settings{
        url != nullptr ? url : (env_url != nullptr && *env_url != '\0' ? env_url : kDefaultUrl),
        store != nullptr ? store : (env_store != nullptr ? env_store : kDefaultStore),
        std::chrono::milliseconds(kDefaultTimeoutMs)};
    if (timeout.count() > 0) {
        settings.timeout = timeout;
    } else if (env_timeout != nullptr && *env_timeout != '\0') {
        int ms = 0;
        if (!parse_number(env_timeout, 1, 86400000, ms)) {
            refuse(why, "VELKSHARED_TIMEOUT_MS is not a number of milliseconds from 1 to 86400000");
            return std::nullopt;
        }
        settings.timeout = std::chrono::milliseconds(ms);
    }
    if (env_replicas != nullptr && *env_replicas != '\0' &&
        !parse_number(env_replicas, 0, kMostReplicas, settings.replicas)) {
        refuse(why, "VELKSHARED_REPLICAS is not a number of replicas from 0 to 1000");
        return std::nullopt;
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
    return "velk:{" + (store.empty() ? std::string("-") : hex(store)) + "}:";
}

}  // namespace velkshared
