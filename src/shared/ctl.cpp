// SPDX-License-Identifier: MIT
// velkshared-ctl: what is in a shared store, for when a test fails. It reads
// the layout that the library writes (scripts.hpp, codec.hpp) through the
// same connection code, so it follows a cluster as the library does.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/admin.hpp"
#include "shared/codec.hpp"
#include "shared/connection.hpp"
#include "shared/endpoint.hpp"

namespace {

using namespace velkshared;

constexpr int kOk = 0;
constexpr int kUnreachable = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: velkshared-ctl COMMAND [OPTIONS]\n"
    "\n"
    "  show   [--url URL] [--store NAME] [--keys NS [--values]]\n"
    "         every namespace of the store: settings, entries, used bytes; with\n"
    "         --keys, the keys of namespace NS: value length, tag, replica count,\n"
    "         metadata, and with --values the values (non-printable bytes as \\xNN)\n"
    "  clear  [--url URL] [--store NAME]\n"
    "         removes every namespace and entry of the store\n"
    "  stores [--url URL]\n"
    "         the stores on the server (on every master of a cluster), with\n"
    "         their numbers of namespaces\n"
    "\n"
    "URL and NAME default to VELKSHARED_URL and VELKSHARED_STORE (and to\n"
    "redis://127.0.0.1:6379 and \"default\"); VELKSHARED_TIMEOUT_MS applies.\n"
    "Exit status: 0 done, 1 the server or what was asked for could not be\n"
    "reached, 2 bad usage.\n";

// Printable as it is, or escaped: a store holds any bytes.
std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\' || byte == '"') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7f) {
            out += c;
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        }
    }
    return out;
}

std::optional<std::string> unhex(std::string_view text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const auto digit = [](char c) {
            return c >= 'a' && c <= 'f' ? c - 'a' + 10 : c - '0';
        };
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
            return std::nullopt;
        }
        out += static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1]));
    }
    return out;
}

struct Options {
    std::string command;
    const char* url = nullptr;
    const char* store = nullptr;
    const char* keys = nullptr;
    bool values = false;
};

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    if (argc < 2) {
        return std::nullopt;
    }
    options.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--url" && has_value) {
            options.url = argv[++i];
        } else if (arg == "--store" && has_value && options.command != "stores") {
            options.store = argv[++i];
        } else if (arg == "--keys" && has_value && options.command == "show") {
            options.keys = argv[++i];
        } else if (arg == "--values" && options.command == "show") {
            options.values = true;
        } else {
            return std::nullopt;
        }
    }
    if (options.values && options.keys == nullptr) {
        return std::nullopt;
    }
    return options;
}

// A command that must answer; on failure, one line and the exit status.
struct Failure {
    int status;
};

Reply ask(Connection& connection, std::initializer_list<std::string_view> words, const std::string& where) {
    Command command;
    for (const std::string_view word : words) {
        command.add(word);
    }
    Reply reply;
    if (const int status = connection.command(command, reply); status != 0) {
        std::fprintf(stderr, "velkshared-ctl: %s %s: %s\n",
                     status == -EPROTO ? "the server refused a request at" : "cannot reach the server at",
                     where.c_str(), last_error());
        throw Failure{kUnreachable};
    }
    return reply;
}

std::map<std::string, const redisReply*> as_map(const redisReply* flat) {
    std::map<std::string, const redisReply*> out;
    for (std::size_t i = 0; flat->type == REDIS_REPLY_ARRAY && i + 1 < flat->elements; i += 2) {
        out.emplace(std::string(flat->element[i]->str, flat->element[i]->len), flat->element[i + 1]);
    }
    return out;
}

int show(Connection& connection, const Environment& place, const Options& options) {
    const std::string prefix = key_prefix(place.store);
    const Reply spaces = ask(connection, {"HGETALL", prefix + "ns"}, place.url);
    const Reply used = ask(connection, {"HGETALL", prefix + "used"}, place.url);
    const auto settings_of = as_map(spaces.get());
    const auto used_of = as_map(used.get());
    if (options.keys == nullptr) {
        std::printf("store \"%s\" at %s: %zu namespace%s\n", escaped(place.store).c_str(), place.url.c_str(),
                    settings_of.size(), settings_of.size() == 1 ? "" : "s");
        for (const auto& [name, bytes] : settings_of) {
            Settings settings;
            decode_settings(std::string_view(bytes->str, bytes->len), settings);
            const Reply entries = ask(connection, {"HLEN", prefix + "a:" + hex(name)}, place.url);
            const auto it = used_of.find(name);
            std::printf(
                "namespace \"%s\": %lld entries, %s bytes used, capacity %lld, policy \"%s\", parameter %g\n",
                escaped(name).c_str(), entries->integer, it != used_of.end() ? it->second->str : "0",
                static_cast<long long>(settings.capacity), escaped(settings.policy).c_str(), settings.param);
        }
        return kOk;
    }
    const std::string ns = options.keys;
    if (settings_of.count(ns) == 0) {
        std::fprintf(stderr, "velkshared-ctl: no namespace \"%s\" in store \"%s\" at %s\n",
                     escaped(ns).c_str(), escaped(place.store).c_str(), place.url.c_str());
        return kUnreachable;
    }
    // Every key with its attributes, a page at a time, then (if asked) the
    // values, in key order.
    std::map<std::string, std::string> attributes;
    std::string cursor = "0";
    do {
        const Reply page =
            ask(connection, {"HSCAN", prefix + "a:" + hex(ns), cursor, "COUNT", "1000"}, place.url);
        if (page->type != REDIS_REPLY_ARRAY || page->elements != 2) {
            std::fprintf(stderr, "velkshared-ctl: unexpected answer to HSCAN\n");
            return kUnreachable;
        }
        cursor.assign(page->element[0]->str, page->element[0]->len);
        for (const auto& [key, bytes] : as_map(page->element[1])) {
            attributes.emplace(key, std::string(bytes->str, bytes->len));
        }
    } while (cursor != "0");
    std::printf("namespace \"%s\" of store \"%s\": %zu key%s\n", escaped(ns).c_str(),
                escaped(place.store).c_str(), attributes.size(), attributes.size() == 1 ? "" : "s");
    for (const auto& [key, bytes] : attributes) {
        Attributes decoded;
        decode_attributes(bytes, decoded);
        std::string line = "  \"" + escaped(key) + "\": " + std::to_string(decoded.length) + " bytes, tag " +
                           std::to_string(decoded.tag) + ", replicas " +
                           std::to_string(decoded.replica_count);
        for (std::size_t i = 0; i < decoded.metadata.size(); ++i) {
            line += (i == 0 ? ", metadata " : ", ") + std::string("\"") + escaped(decoded.metadata[i].key) +
                    "\"=\"" + escaped(decoded.metadata[i].value) + "\"";
        }
        if (options.values) {
            const Reply value = ask(connection, {"HGET", prefix + "v:" + hex(ns), key}, place.url);
            line +=
                ", value \"" +
                (value->type == REDIS_REPLY_STRING ? escaped(std::string_view(value->str, value->len)) : "") +
                "\"";
        }
        std::printf("%s\n", line.c_str());
    }
    return kOk;
}

// The masters of a cluster, or the one server.
std::vector<Endpoint> servers(Connection& connection, const Endpoint& seed, const std::string& url) {
    const Reply info = ask(connection, {"INFO", "cluster"}, url);
    if (info->type != REDIS_REPLY_STRING || std::strstr(info->str, "cluster_enabled:1") == nullptr) {
        return {seed};
    }
    const Reply nodes = ask(connection, {"CLUSTER", "NODES"}, url);
    std::vector<Endpoint> masters;
    std::string_view text(nodes->str, nodes->len);
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // <id> <ip:port@cport> <flags> ...
        const auto first = line.find(' ');
        const auto second = line.find(' ', first + 1);
        const auto third = line.find(' ', second + 1);
        if (third == std::string_view::npos) {
            continue;
        }
        const std::string_view address = line.substr(first + 1, second - first - 1);
        const std::string_view flags = line.substr(second + 1, third - second - 1);
        if (flags.find("master") == std::string_view::npos || flags.find("fail") != std::string_view::npos) {
            continue;
        }
        const auto colon = address.rfind(':', address.find('@'));
        Endpoint node = seed;
        node.unix_socket = false;
        node.host = address.substr(0, colon);
        node.port = std::atoi(std::string(address.substr(colon + 1, address.find('@') - colon - 1)).c_str());
        masters.push_back(node);
    }
    return masters;
}

int stores(Connection& connection, const Endpoint& seed, const Environment& place) {
    std::map<std::string, long long> found;
    for (const Endpoint& node : servers(connection, seed, place.url)) {
        Connection there({node}, place.timeout);
        const std::string where = node.unix_socket ? node.path : node.host + ":" + std::to_string(node.port);
        std::string cursor = "0";
        do {
            const Reply page = ask(there, {"SCAN", cursor, "MATCH", "velk:{*}:ns", "COUNT", "1000"}, where);
            if (page->type != REDIS_REPLY_ARRAY || page->elements != 2) {
                std::fprintf(stderr, "velkshared-ctl: unexpected answer to SCAN\n");
                return kUnreachable;
            }
            cursor.assign(page->element[0]->str, page->element[0]->len);
            const redisReply* keys = page->element[1];
            for (std::size_t i = 0; i < keys->elements; ++i) {
                const std::string key(keys->element[i]->str, keys->element[i]->len);
                const auto open = key.find('{');
                const auto close = key.find('}');
                const auto name = unhex(std::string_view(key).substr(open + 1, close - open - 1));
                if (name) {
                    found[*name] = ask(there, {"HLEN", key}, where)->integer;
                }
            }
        } while (cursor != "0");
    }
    std::printf("%zu store%s at %s\n", found.size(), found.size() == 1 ? "" : "s", place.url.c_str());
    for (const auto& [name, count] : found) {
        std::printf("store \"%s\": %lld namespace%s\n", escaped(name).c_str(), count, count == 1 ? "" : "s");
    }
    return kOk;
}

int run(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    const auto options = parse(argc, argv);
    if (!options ||
        (options->command != "show" && options->command != "clear" && options->command != "stores")) {
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    auto place = settings_from_environment(options->url, options->store);
    if (!place) {
        std::fprintf(stderr, "velkshared-ctl: VELKSHARED_TIMEOUT_MS is not a number of milliseconds\n");
        return kUsage;
    }
    std::string why;
    const auto seeds = parse_url(place->url, &why);
    if (!seeds) {
        std::fprintf(stderr, "velkshared-ctl: not a server URL: %s: %s\n", redacted(place->url).c_str(), why.c_str());
        return kUsage;
    }
    // From here on the URL is only shown, and a password never is.
    place->url = redacted(place->url);
    Connection connection(*seeds, place->timeout);
    if (options->command == "show") {
        return show(connection, *place, *options);
    }
    if (options->command == "stores") {
        return stores(connection, seeds->front(), *place);
    }
    if (const int status = clear_store(connection, key_prefix(place->store)); status != 0) {
        std::fprintf(stderr, "velkshared-ctl: cannot clear store \"%s\" at %s: %s\n",
                     escaped(place->store).c_str(), place->url.c_str(), last_error());
        return kUnreachable;
    }
    std::printf("cleared store \"%s\" at %s\n", escaped(place->store).c_str(), place->url.c_str());
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const Failure& failure) {
        return failure.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "velkshared-ctl: out of memory\n");
        return kUnreachable;
    }
}
