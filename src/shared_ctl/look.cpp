// SPDX-License-Identifier: MIT
// velkshared-ctl's commands that look: show, get and stores.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/codec.hpp"
#include "shared/scripts.hpp"
#include "shared_ctl/ctl.hpp"
#include "shared_ctl/texts.hpp"

namespace velkctl {

using namespace velkshared;

namespace {

Reply ask(Connection& connection, std::initializer_list<std::string_view> words, const std::string& where) {
    Command command;
    for (const std::string_view word : words) {
        command.add(word);
    }
    Reply reply;
    if (const int status = connection.command(command, reply); status != 0) {
        fail_at(status, where, last_error());
    }
    return reply;
}

Reply ask_for(Connection& connection, std::initializer_list<std::string_view> words, const std::string& where,
              int type, const char* what) {
    Reply reply = ask(connection, words, where);
    if (reply->type != type) {
        std::fprintf(stderr, "velkshared-ctl: unexpected answer to %s from %s\n", what, where.c_str());
        throw Failure{kUnreachable};
    }
    return reply;
}

std::map<std::string, std::string> as_map(const redisReply* flat) {
    std::map<std::string, std::string> out;
    for (std::size_t i = 0; i + 1 < flat->elements; i += 2) {
        out.emplace(std::string(flat->element[i]->str, flat->element[i]->len),
                    std::string(flat->element[i + 1]->str, flat->element[i + 1]->len));
    }
    return out;
}

// One entry, as text or as JSON.
struct Entry {
    std::string key;
    Attributes attributes;
    std::optional<std::string> value;  // when shown
};

std::string cut(const std::string& value, std::size_t max_bytes, std::size_t& left) {
    left = value.size() > max_bytes ? value.size() - max_bytes : 0;
    return value.substr(0, std::min(value.size(), max_bytes));
}

std::string entry_text(const Entry& entry, std::size_t max_bytes) {
    std::string line = quoted(entry.key) + ": " +
                       counted(static_cast<long long>(entry.attributes.length), "byte", "bytes") + ", tag " +
                       number(entry.attributes.tag) + ", replicas " + number(entry.attributes.replica_count);
    for (std::size_t i = 0; i < entry.attributes.metadata.size(); ++i) {
        line += (i == 0 ? ", metadata " : ", ") + quoted(entry.attributes.metadata[i].key) + "=" +
                quoted(entry.attributes.metadata[i].value);
    }
    if (entry.value) {
        std::size_t left = 0;
        const std::string shown = cut(*entry.value, max_bytes, left);
        line += ", value " + quoted(shown);
        if (left != 0) {
            line += " (" + counted(static_cast<long long>(left), "more byte", "more bytes") + " not shown)";
        }
    }
    return line;
}

std::string entry_json(const Entry& entry, std::size_t max_bytes) {
    std::string out = "{" + json_field("key", entry.key) +
                      ", \"length\": " + number(static_cast<long long>(entry.attributes.length)) +
                      ", \"tag\": " + number(entry.attributes.tag) +
                      ", \"replicas\": " + number(entry.attributes.replica_count) + ", \"metadata\": [";
    for (std::size_t i = 0; i < entry.attributes.metadata.size(); ++i) {
        out += (i == 0 ? "{" : ", {") + json_field("key", entry.attributes.metadata[i].key) + ", " +
               json_field("value", entry.attributes.metadata[i].value) + "}";
    }
    out += "]";
    if (entry.value) {
        std::size_t left = 0;
        const std::string shown = cut(*entry.value, max_bytes, left);
        out += ", " + json_field("value", shown) +
               ", \"value_bytes_left\": " + number(static_cast<long long>(left));
    }
    return out + "}";
}

std::string place_json(const Place& place) {
    return json_field("store", place.store) + ", " + json_field("url", place.url);
}

Attributes decoded(const std::string& bytes, const std::string& key) {
    Attributes attributes;
    if (!decode_attributes(bytes, attributes)) {
        std::fprintf(stderr, "velkshared-ctl: the entry %s holds no attributes of this library's\n",
                     quoted(key).c_str());
        throw Failure{kUnreachable};
    }
    return attributes;
}

// The settings of every namespace of the store.
std::map<std::string, std::string> namespaces(Connection& connection, const Place& place) {
    return as_map(
        ask_for(connection, {"HGETALL", place.prefix + "ns"}, place.url, REDIS_REPLY_ARRAY, "HGETALL").get());
}

// The used bytes of namespace `name`, as the store keeps them (0 before the
// first put).
long long used_bytes(const std::map<std::string, std::string>& used_of, const std::string& name) {
    const auto it = used_of.find(name);
    if (it == used_of.end()) {
        return 0;
    }
    long long used = 0;
    const std::string& text = it->second;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), used);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        std::fprintf(stderr,
                     "velkshared-ctl: the used bytes of namespace %s are no number of this library's\n",
                     quoted(name).c_str());
        throw Failure{kUnreachable};
    }
    return used;
}

int show_namespaces(Connection& connection, const Place& place, const Options& options) {
    const auto settings_of = namespaces(connection, place);
    const auto used_of = as_map(
        ask_for(connection, {"HGETALL", place.prefix + "used"}, place.url, REDIS_REPLY_ARRAY, "HGETALL")
            .get());
    std::string json = "{" + place_json(place) + ", \"namespaces\": [";
    if (!options.json) {
        if (settings_of.empty()) {
            std::printf(
                "store %s at %s: no namespaces (a mistyped --store is the usual cause; "
                "velkshared-ctl stores lists the stores on the server)\n",
                quoted(place.store).c_str(), place.url.c_str());
            return kOk;
        }
        std::printf("store %s at %s: %s\n", quoted(place.store).c_str(), place.url.c_str(),
                    counted(static_cast<long long>(settings_of.size()), "namespace", "namespaces").c_str());
    }
    bool first = true;
    for (const auto& [name, bytes] : settings_of) {
        Settings settings;
        decode_settings(bytes, settings);
        // Every entry has its attributes; the hash also holds the field
        // that keeps it a hash table (scripts.hpp), once a put wrote it.
        const std::string attrs = place.prefix + "a:" + hex(name);
        const long long entries =
            ask_for(connection, {"HLEN", attrs}, place.url, REDIS_REPLY_INTEGER, "HLEN")->integer -
            ask_for(connection, {"HEXISTS", attrs, kTableField}, place.url, REDIS_REPLY_INTEGER, "HEXISTS")
                ->integer;
        const long long used = used_bytes(used_of, name);
        if (options.json) {
            json += std::string(first ? "" : ", ") + "{" + json_field("name", name) +
                    ", \"entries\": " + number(entries) + ", \"used_bytes\": " + number(used) +
                    ", \"capacity_bytes\": " + number(settings.capacity) + ", " +
                    json_field("eviction_policy", settings.policy) +
                    ", \"policy_param\": " + json_number(settings.param) + "}";
            first = false;
            continue;
        }
        std::printf("namespace %s: %s, %s used, capacity %lld, policy %s, parameter %g\n",
                    quoted(name).c_str(), counted(entries, "entry", "entries").c_str(),
                    counted(used, "byte", "bytes").c_str(), static_cast<long long>(settings.capacity),
                    quoted(settings.policy).c_str(), settings.param);
    }
    if (options.json) {
        std::printf("%s]}\n", json.c_str());
    }
    return kOk;
}

int show_keys(Connection& connection, const Place& place, const Options& options) {
    const std::string& ns = *options.keys;
    if (namespaces(connection, place).count(ns) == 0) {
        return no_namespace(place, ns);
    }
    // Every key with its attributes, a page at a time, then (if asked) the
    // values, in key order.
    std::map<std::string, std::string> attributes;
    std::string cursor = "0";
    do {
        const Reply page =
            ask_for(connection, {"HSCAN", place.prefix + "a:" + hex(ns), cursor, "COUNT", "1000"}, place.url,
                    REDIS_REPLY_ARRAY, "HSCAN");
        cursor.assign(page->element[0]->str, page->element[0]->len);
        attributes.merge(as_map(page->element[1]));
    } while (cursor != "0");
    attributes.erase(std::string(kTableField));
    std::vector<Entry> entries;
    for (const auto& [key, bytes] : attributes) {
        Entry& entry = entries.emplace_back(Entry{key, decoded(bytes, key), std::nullopt});
        if (options.values) {
            const Reply value = ask(connection, {"HGET", place.prefix + "v:" + hex(ns), key}, place.url);
            entry.value = value->type == REDIS_REPLY_STRING ? std::string(value->str, value->len) : "";
        }
    }
    if (options.json) {
        std::string json = "{" + place_json(place) + ", " + json_field("namespace", ns) + ", \"keys\": [";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            json += (i == 0 ? "" : ", ") + entry_json(entries[i], options.max_bytes);
        }
        std::printf("%s]}\n", json.c_str());
        return kOk;
    }
    std::printf("namespace %s of store %s: %s\n", quoted(ns).c_str(), quoted(place.store).c_str(),
                counted(static_cast<long long>(entries.size()), "key", "keys").c_str());
    for (const Entry& entry : entries) {
        std::printf("  %s\n", entry_text(entry, options.max_bytes).c_str());
    }
    return kOk;
}

}  // namespace

int show(Connection& connection, const Place& place, const Options& options) {
    return options.keys ? show_keys(connection, place, options) : show_namespaces(connection, place, options);
}

int get(Connection& connection, const Place& place, const Options& options) {
    const std::string& ns = options.words[0];
    const std::string& key = options.words[1];
    if (namespaces(connection, place).count(ns) == 0) {
        return no_namespace(place, ns);
    }
    const Reply attributes = ask(connection, {"HGET", place.prefix + "a:" + hex(ns), key}, place.url);
    const Reply value = ask(connection, {"HGET", place.prefix + "v:" + hex(ns), key}, place.url);
    if (attributes->type != REDIS_REPLY_STRING || value->type != REDIS_REPLY_STRING) {
        return no_key(place, ns, key);
    }
    if (options.raw) {
        std::fwrite(value->str, 1, value->len, stdout);
        return kOk;
    }
    const Entry entry{key, decoded(std::string(attributes->str, attributes->len), key),
                      std::string(value->str, value->len)};
    if (options.json) {
        std::string json = entry_json(entry, options.max_bytes);
        json.insert(1, place_json(place) + ", " + json_field("namespace", ns) + ", ");
        std::printf("%s\n", json.c_str());
        return kOk;
    }
    std::printf("namespace %s of store %s, key %s\n", quoted(ns).c_str(), quoted(place.store).c_str(),
                entry_text(entry, options.max_bytes).c_str());
    return kOk;
}

namespace {

// The masters of a cluster (sorted), or none for a server of its own.
std::vector<Endpoint> masters_of(Connection& connection, const Endpoint& seed, const std::string& url) {
    const Reply info = ask_for(connection, {"INFO", "cluster"}, url, REDIS_REPLY_STRING, "INFO");
    if (std::strstr(info->str, "cluster_enabled:1") == nullptr) {
        return {};
    }
    const Reply nodes = ask_for(connection, {"CLUSTER", "NODES"}, url, REDIS_REPLY_STRING, "CLUSTER NODES");
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
        const auto at = address.find('@');
        const auto colon = address.rfind(':', at);
        Endpoint node = seed;
        node.unix_socket = false;
        node.path.clear();
        node.db = 0;
        node.host = address.substr(0, colon);
        std::from_chars(address.data() + colon + 1, address.data() + at, node.port);
        masters.push_back(node);
    }
    std::sort(masters.begin(), masters.end(),
              [](const Endpoint& a, const Endpoint& b) { return describe(a) < describe(b); });
    return masters;
}

std::optional<std::string> unhex(std::string_view text) {
    if (text == "-") {
        return std::string();  // the empty name's tag
    }
    if (text.empty() || text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned byte = 0;
        const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, byte, 16);
        if (error != std::errc() || end != text.data() + i + 2) {
            return std::nullopt;
        }
        out += static_cast<char>(byte);
    }
    return out;
}

}  // namespace

int stores(Connection& connection, const Endpoint& seed, const Place& place, const Options& options) {
    struct Found {
        long long namespaces;
        std::string node;
    };
    std::map<std::string, Found> found;
    const std::vector<Endpoint> masters = masters_of(connection, seed, place.url);
    const bool cluster = !masters.empty();
    for (const Endpoint& node : cluster ? masters : std::vector<Endpoint>{seed}) {
        Connection there({node}, place.settings->timeout);
        const std::string where = describe(node);
        std::string cursor = "0";
        do {
            const Reply page = ask_for(there, {"SCAN", cursor, "MATCH", "velk:{*}:ns", "COUNT", "1000"},
                                       where, REDIS_REPLY_ARRAY, "SCAN");
            cursor.assign(page->element[0]->str, page->element[0]->len);
            const redisReply* keys = page->element[1];
            for (std::size_t i = 0; i < keys->elements; ++i) {
                const std::string key(keys->element[i]->str, keys->element[i]->len);
                const auto open = key.find('{');
                const auto close = key.find('}');
                if (const auto name = unhex(std::string_view(key).substr(open + 1, close - open - 1))) {
                    found[*name] = {
                        ask_for(there, {"HLEN", key}, where, REDIS_REPLY_INTEGER, "HLEN")->integer, where};
                }
            }
        } while (cursor != "0");
    }
    if (options.json) {
        std::string json = "{" + json_field("url", place.url) + ", \"stores\": [";
        bool first = true;
        for (const auto& [name, where] : found) {
            json += std::string(first ? "" : ", ") + "{" + json_field("name", name) +
                    ", \"namespaces\": " + number(where.namespaces) + ", " + json_field("node", where.node) +
                    "}";
            first = false;
        }
        std::printf("%s]}\n", json.c_str());
        return kOk;
    }
    std::printf("%s at %s\n", counted(static_cast<long long>(found.size()), "store", "stores").c_str(),
                place.url.c_str());
    for (const auto& [name, where] : found) {
        std::printf("store %s: %s%s\n", quoted(name).c_str(),
                    counted(where.namespaces, "namespace", "namespaces").c_str(),
                    cluster ? (", on " + where.node).c_str() : "");
    }
    return kOk;
}

}  // namespace velkctl
