// SPDX-License-Identifier: MIT
#include "shared/endpoint.hpp"

#include <sys/un.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace velkshared {
namespace {

constexpr const char* kDefaultUrl = "redis://127.0.0.1:6379";
constexpr const char* kDefaultStore = "default";
constexpr long kDefaultTimeoutMs = 5000;
constexpr std::string_view kUnix = "unix://";
constexpr std::string_view kRedis = "redis://";
// A server that echoes what it refused may cut it short: a piece of a
// secret this long is hidden too.
constexpr std::size_t kSecretPiece = 4;

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

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// "%HH" is the byte HH; a "%" without two hex digits after it stands for
// itself, as it did before escapes were read.
std::string unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? hex_digit(text[i + 1]) : -1;
        const int low = high >= 0 ? hex_digit(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Where what follows a scheme-like prefix ("LETTER[LETTER|DIGIT|+|-|.]*:"
// and any slashes after it) begins; 0 when `text` has none.
std::size_t after_scheme(std::string_view text) {
    const auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    if (text.empty() || !letter(text[0])) {
        return 0;
    }
    std::size_t i = 1;
    while (i < text.size() && (letter(text[i]) || (text[i] >= '0' && text[i] <= '9') || text[i] == '+' ||
                               text[i] == '-' || text[i] == '.')) {
        ++i;
    }
    if (i == text.size() || text[i] != ':') {
        return 0;
    }
    ++i;
    while (i < text.size() && text[i] == '/') {
        ++i;
    }
    return i;
}

// Whether `text` begins as a URL does: a scheme and "//".
bool begins_a_url(std::string_view text) {
    const std::size_t scheme = text.find(':');
    return after_scheme(text) != 0 && text.substr(scheme, 3) == "://";
}

// The URLs of a unix:// list, as written. The list is split only where a
// comma is followed by another URL, so that a comma anywhere else belongs
// to a password or a path.
std::vector<std::string_view> list_items(std::string_view url) {
    std::vector<std::string_view> items;
    std::size_t start = 0;
    for (auto comma = url.find(','); comma != std::string_view::npos; comma = url.find(',', comma + 1)) {
        if (begins_a_url(url.substr(comma + 1))) {
            items.push_back(url.substr(start, comma - start));
            start = comma + 1;
        }
    }
    items.push_back(url.substr(start));
    return items;
}

// One URL with everything between its scheme-like prefix (or its start)
// and its last "@" hidden, but for a user before a ":" when `keep_user`.
std::string hide_credentials(std::string_view url, bool keep_user) {
    const std::size_t from = after_scheme(url);
    const auto at = url.rfind('@');
    if (at == std::string_view::npos || at < from) {
        return std::string(url);
    }
    const std::string_view info = url.substr(from, at - from);
    const auto colon = info.find(':');
    std::string out(url.substr(0, from));
    if (keep_user && colon != std::string_view::npos) {
        out.append(info.substr(0, colon + 1));
    }
    out += "***";
    out.append(url.substr(at));
    return out;
}

// "[USER]:PASSWORD" before an "@". A user alone is refused: it reads as a
// password that lost its colon, and sending it as a user name would fail
// later with a less helpful answer.
bool parse_user_info(std::string_view info, Endpoint& endpoint, std::string* why) {
    const auto colon = info.find(':');
    if (colon == std::string_view::npos) {
        return refuse(why, "the part before \"@\" has no \":\": write USER:PASSWORD@ or :PASSWORD@");
    }
    endpoint.user = unescaped(info.substr(0, colon));
    endpoint.password = unescaped(info.substr(colon + 1));
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
    endpoint.path = unescaped(rest);
    if (endpoint.path.size() < 2 || endpoint.path[0] != '/') {
        return refuse(why, "the socket path is not an absolute path (unix:///PATH)");
    }
    if (endpoint.path.find('\0') != std::string::npos) {
        // The system would read the path only up to it: another socket.
        return refuse(why, "the socket path holds a NUL byte (%00)");
    }
    if (endpoint.path.size() >= sizeof(sockaddr_un{}.sun_path)) {
        // Cut to fit, it would name another socket.
        return refuse(why, "the socket path is longer than a socket address holds (107 bytes)");
    }
    return true;
}

}  // namespace

std::optional<std::vector<Endpoint>> parse_url(std::string_view url, std::string* why) {
    std::vector<Endpoint> seeds;
    if (url.substr(0, kUnix.size()) == kUnix) {
        // Each seed is a whole unix:// URL.
        for (const std::string_view one : list_items(url)) {
            if (one.substr(0, kUnix.size()) != kUnix) {
                refuse(why, "each node of a unix:// list is a unix:// URL");
                return std::nullopt;
            }
            if (!parse_unix(one.substr(kUnix.size()), seeds.emplace_back(), why)) {
                return std::nullopt;
            }
        }
        return seeds;
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
    if (!parse_url(url)) {
        // No telling where a password ends in bytes that are no URL: all
        // of what may be credentials goes.
        return hide_credentials(url, false);
    }
    if (url.substr(0, kUnix.size()) != kUnix) {
        return hide_credentials(url, true);
    }
    std::string out;
    for (const std::string_view one : list_items(url)) {
        out += out.empty() ? "" : ",";
        out += hide_credentials(one, true);
    }
    return out;
}

std::string without_secret(std::string_view text, std::string_view secret) {
    if (secret.empty()) {
        return std::string(text);
    }
    const std::size_t enough = std::min(secret.size(), kSecretPiece);
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t same = 0;
        while (i + same < text.size() && same < secret.size() && text[i + same] == secret[same]) {
            ++same;
        }
        if (same >= enough) {
            out += "***";
            i += same;
        } else {
            out += text[i++];
        }
    }
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
