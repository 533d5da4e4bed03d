// SPDX-License-Identifier: MIT
// velkshared-ctl: what is in a shared store, for when a test fails. It reads
// the layout that the library writes (scripts.hpp, codec.hpp) through the
// same connection code, so it follows a cluster as the library does.
#include <algorithm>
#include <cerrno>
#include <charconv>
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
#include "shared/scripts.hpp"

namespace {

using namespace velkshared;

constexpr int kOk = 0;
constexpr int kUnreachable = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: velkshared-ctl COMMAND [OPTIONS]\n"
    "\n"
    "  show   [--keys NS [--values]] [--max-bytes N] [--json] [--url URL] [--store NAME]\n"
    "         every namespace of the store: settings, entries, used bytes; with\n"
    "         --keys, the keys of namespace NS: value length, tag, replica count,\n"
    "         metadata, and with --values their values\n"
    "  get    NS KEY [--raw] [--max-bytes N] [--json] [--url URL] [--store NAME]\n"
    "         one entry: value length, tag, replica count, metadata and value;\n"
    "         with --raw only the value's bytes, whole, for a pipe\n"
    "  clear  [--url URL] [--store NAME]\n"
    "         removes every namespace and entry of the store\n"
    "  stores [--json] [--url URL]\n"
    "         the stores on the server (on every master of a cluster, naming the\n"
    "         node that holds each), with their numbers of namespaces\n"
    "\n"
    "Values are cut after N bytes (--max-bytes, default 256; 0 for whole\n"
    "values), and the number of bytes left out is said. Texts are shown in\n"
    "double quotes with the escapes C and a shell's $'...' read alike: \\n, \\t,\n"
    "\\r, \\\\, \\\", \\xHH (never followed by a hex digit) or \\ooo in octal; valid\n"
    "UTF-8 is shown as text.\n"
    "\n"
    "--json writes one JSON object: show {store, url, namespaces: [{name,\n"
    "entries, used_bytes, capacity_bytes, eviction_policy, policy_param}]}, or\n"
    "with --keys {store, url, namespace, keys: [ENTRY...]}; get ENTRY with\n"
    "store, url and namespace; stores {url, stores: [{name, namespaces,\n"
    "node}]}. ENTRY is {key, length, tag, replicas, metadata: [{key, value}]},\n"
    "with value and value_bytes_left when values are shown. A text that is\n"
    "not valid UTF-8 has its bytes in base64 beside it (key_base64, say), and\n"
    "invalid bytes in the text itself read U+FFFD.\n"
    "\n"
    "URL and NAME default to VELKSHARED_URL and VELKSHARED_STORE (and to\n"
    "redis://127.0.0.1:6379 and \"default\"); VELKSHARED_TIMEOUT_MS applies.\n"
    "A password in the URL is never shown (\"***\").\n"
    "Exit status: 0 done, 1 the server or what was asked for could not be\n"
    "reached or found, 2 bad usage.\n";

const char* const kShortUsage =
    "usage: velkshared-ctl show|get|clear|stores [OPTIONS]; velkshared-ctl --help says more\n";

// --- texts -----------------------------------------------------------------

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8_sequence(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    // The second byte's range rules out overlong forms and surrogates.
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        second_low = lead == 0xe0 ? 0xa0 : 0x80;
        second_high = lead == 0xed ? 0x9f : 0xbf;  // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        second_low = lead == 0xf0 ? 0x90 : 0x80;
        second_high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || text.size() < length || byte(1) < second_low || byte(1) > second_high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// In double quotes, as C and a shell's $'...' read it alike.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (const std::size_t n = byte >= 0x80 ? utf8_sequence(text.substr(i)) : 0; n != 0) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (byte >= 0x20 && byte < 0x7f) {
                    out += c;
                } else {
                    // \xHH would swallow a hex digit that follows it in C.
                    char code[8];
                    const bool hex_next = i + 1 < text.size() && is_hex_digit(text[i + 1]);
                    std::snprintf(code, sizeof code, hex_next ? "\\%03o" : "\\x%02x", byte);
                    out += code;
                }
        }
        ++i;
    }
    return out + "\"";
}

// A JSON string of the bytes, invalid UTF-8 as U+FFFD.
std::string json_text(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            const std::size_t n = utf8_sequence(text.substr(i));
            out += n != 0 ? std::string(text.substr(i, n)) : "\xef\xbf\xbd";
            i += n != 0 ? n : 1;
            continue;
        }
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || byte == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", byte);
            out += code;
        } else {
            out += static_cast<char>(byte);
        }
        ++i;
    }
    return out + "\"";
}

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : utf8_sequence(text.substr(i));
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string base64(std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned chunk = static_cast<unsigned char>(bytes[i]) << 16;
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        if (n > 1) {
            chunk |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        if (n > 2) {
            chunk |= static_cast<unsigned char>(bytes[i + 2]);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            out += j <= n ? kDigits[(chunk >> (18 - 6 * j)) & 63] : '=';
        }
    }
    return out;
}

// `"name": "text"`, and `"name_base64": "..."` beside it for bytes that are
// no UTF-8.
std::string json_field(const char* name, std::string_view bytes) {
    std::string out = "\"" + std::string(name) + "\": " + json_text(bytes);
    if (!valid_utf8(bytes)) {
        out += ", \"" + std::string(name) + "_base64\": \"" + base64(bytes) + "\"";
    }
    return out;
}

std::string number(long long value) {
    return std::to_string(value);
}

// --- arguments -------------------------------------------------------------

struct Options {
    std::string command;
    const char* url = nullptr;
    const char* store = nullptr;
    std::optional<std::string> keys;  // show --keys NS
    std::string ns;                   // get NS KEY
    std::string key;
    bool values = false;
    bool raw = false;
    bool json = false;
    std::size_t max_bytes = 256;
};

// The options, or the line that says which argument is wrong.
struct Parsed {
    std::optional<Options> options;
    std::string wrong;
};

Parsed parse(int argc, char** argv) {
    Options options;
    options.command = argv[1];
    const std::string& command = options.command;
    if (command != "show" && command != "get" && command != "clear" && command != "stores") {
        return {std::nullopt, "unknown command '" + command + "' (show, get, clear or stores)"};
    }
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        const auto takes = [&](std::initializer_list<const char*> commands) {
            return std::find_if(commands.begin(), commands.end(),
                                [&](const char* c) { return command == c; }) != commands.end();
        };
        if (arg == "--url" || arg == "--store" || arg == "--keys" || arg == "--max-bytes") {
            if (!has_value) {
                return {std::nullopt, arg + " needs a value"};
            }
            const char* value = argv[++i];
            if (arg == "--url") {
                options.url = value;
            } else if (arg == "--store" && !takes({"stores"})) {
                options.store = value;
            } else if (arg == "--keys" && takes({"show"})) {
                options.keys = value;
            } else if (arg == "--max-bytes" && takes({"show", "get"})) {
                const std::string_view digits(value);
                unsigned long long n = 0;
                const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
                if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
                    return {std::nullopt,
                            "--max-bytes needs a number of bytes, not '" + std::string(digits) + "'"};
                }
                options.max_bytes = n == 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(n);
            } else {
                return {std::nullopt, std::string(arg).append(" is not an option of ").append(command)};
            }
        } else if (arg == "--values" && takes({"show"})) {
            options.values = true;
        } else if (arg == "--raw" && takes({"get"})) {
            options.raw = true;
        } else if (arg == "--json" && takes({"show", "get", "stores"})) {
            options.json = true;
        } else if (arg.rfind("--", 0) == 0) {
            return {std::nullopt,
                    std::string("'").append(arg).append("' is not an option of ").append(command)};
        } else {
            positional.push_back(arg);
        }
    }
    if (command == "get") {
        if (positional.size() != 2) {
            return {std::nullopt, "get takes a namespace and a key (get NS KEY)"};
        }
        options.ns = positional[0];
        options.key = positional[1];
        if (options.raw && options.json) {
            return {std::nullopt, "--raw and --json do not go together"};
        }
    } else if (!positional.empty()) {
        return {std::nullopt, "'" + positional[0] + "' is not an argument of " + command};
    }
    if (options.values && !options.keys) {
        return {std::nullopt, "--values goes with --keys NS"};
    }
    return {options, ""};
}

// --- the server ------------------------------------------------------------

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

struct Place {
    std::string store;
    std::string url;  // as shown: no password
    std::string prefix;
};

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
    std::string line = quoted(entry.key) + ": " + number(static_cast<long long>(entry.attributes.length)) +
                       " bytes, tag " + number(entry.attributes.tag) + ", replicas " +
                       number(entry.attributes.replica_count);
    for (std::size_t i = 0; i < entry.attributes.metadata.size(); ++i) {
        line += (i == 0 ? ", metadata " : ", ") + quoted(entry.attributes.metadata[i].key) + "=" +
                quoted(entry.attributes.metadata[i].value);
    }
    if (entry.value) {
        std::size_t left = 0;
        const std::string shown = cut(*entry.value, max_bytes, left);
        line += ", value " + quoted(shown);
        if (left != 0) {
            line += " (" + number(static_cast<long long>(left)) + " more bytes not shown)";
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

int no_namespace(const Place& place, const std::string& ns) {
    std::fprintf(stderr, "velkshared-ctl: no namespace %s in store %s at %s\n", quoted(ns).c_str(),
                 quoted(place.store).c_str(), place.url.c_str());
    return kUnreachable;
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
        std::printf("store %s at %s: %zu namespace%s\n", quoted(place.store).c_str(), place.url.c_str(),
                    settings_of.size(), settings_of.size() == 1 ? "" : "s");
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
        const auto it = used_of.find(name);
        const std::string used = it != used_of.end() ? it->second : "0";
        char parameter[32];
        std::snprintf(parameter, sizeof parameter, "%.17g", settings.param);
        if (options.json) {
            json += std::string(first ? "" : ", ") + "{" + json_field("name", name) +
                    ", \"entries\": " + number(entries) + ", \"used_bytes\": " + used +
                    ", \"capacity_bytes\": " + number(settings.capacity) + ", " +
                    json_field("eviction_policy", settings.policy) + ", \"policy_param\": " + parameter + "}";
            first = false;
            continue;
        }
        std::printf("namespace %s: %lld entries, %s bytes used, capacity %lld, policy %s, parameter %g\n",
                    quoted(name).c_str(), entries, used.c_str(), static_cast<long long>(settings.capacity),
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
    std::printf("namespace %s of store %s: %zu key%s\n", quoted(ns).c_str(), quoted(place.store).c_str(),
                entries.size(), entries.size() == 1 ? "" : "s");
    for (const Entry& entry : entries) {
        std::printf("  %s\n", entry_text(entry, options.max_bytes).c_str());
    }
    return kOk;
}

int get(Connection& connection, const Place& place, const Options& options) {
    if (namespaces(connection, place).count(options.ns) == 0) {
        return no_namespace(place, options.ns);
    }
    const Reply attributes =
        ask(connection, {"HGET", place.prefix + "a:" + hex(options.ns), options.key}, place.url);
    const Reply value =
        ask(connection, {"HGET", place.prefix + "v:" + hex(options.ns), options.key}, place.url);
    if (attributes->type != REDIS_REPLY_STRING || value->type != REDIS_REPLY_STRING) {
        std::fprintf(stderr, "velkshared-ctl: no key %s in namespace %s of store %s at %s\n",
                     quoted(options.key).c_str(), quoted(options.ns).c_str(), quoted(place.store).c_str(),
                     place.url.c_str());
        return kUnreachable;
    }
    if (options.raw) {
        std::fwrite(value->str, 1, value->len, stdout);
        return kOk;
    }
    const Entry entry{options.key, decoded(std::string(attributes->str, attributes->len), options.key),
                      std::string(value->str, value->len)};
    if (options.json) {
        std::string json = entry_json(entry, options.max_bytes);
        json.insert(1, place_json(place) + ", " + json_field("namespace", options.ns) + ", ");
        std::printf("%s\n", json.c_str());
        return kOk;
    }
    std::printf("namespace %s of store %s, key %s\n", quoted(options.ns).c_str(), quoted(place.store).c_str(),
                entry_text(entry, options.max_bytes).c_str());
    return kOk;
}

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

int stores(Connection& connection, const Endpoint& seed, const Place& place, const Environment& settings,
           const Options& options) {
    struct Found {
        long long namespaces;
        std::string node;
    };
    std::map<std::string, Found> found;
    const std::vector<Endpoint> masters = masters_of(connection, seed, place.url);
    const bool cluster = !masters.empty();
    for (const Endpoint& node : cluster ? masters : std::vector<Endpoint>{seed}) {
        Connection there({node}, settings.timeout);
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
    std::printf("%zu store%s at %s\n", found.size(), found.size() == 1 ? "" : "s", place.url.c_str());
    for (const auto& [name, where] : found) {
        std::printf("store %s: %lld namespace%s%s\n", quoted(name).c_str(), where.namespaces,
                    where.namespaces == 1 ? "" : "s", cluster ? (", on " + where.node).c_str() : "");
    }
    return kOk;
}

int bad_usage(const std::string& why) {
    std::fprintf(stderr, "velkshared-ctl: %s\n%s", why.c_str(), kShortUsage);
    return kUsage;
}

int run(int argc, char** argv) {
    if (argc < 2) {
        return bad_usage("no command given");
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    const Parsed parsed = parse(argc, argv);
    if (!parsed.options) {
        return bad_usage(parsed.wrong);
    }
    const Options& options = *parsed.options;
    std::string why;
    const auto settings = settings_from_environment(options.url, options.store, {}, &why);
    if (!settings) {
        return bad_usage(why);
    }
    const auto seeds = parse_url(settings->url, &why);
    if (!seeds) {
        return bad_usage("not a server URL: " + redacted(settings->url) + ": " + why);
    }
    // From here on the URL is only shown, and a password never is.
    const Place place{settings->store, redacted(settings->url), key_prefix(settings->store)};
    Connection connection(*seeds, settings->timeout);
    if (options.command == "show") {
        return options.keys ? show_keys(connection, place, options)
                            : show_namespaces(connection, place, options);
    }
    if (options.command == "get") {
        return get(connection, place, options);
    }
    if (options.command == "stores") {
        return stores(connection, seeds->front(), place, *settings, options);
    }
    if (const int status = clear_store(connection, place.prefix); status != 0) {
        std::fprintf(stderr, "velkshared-ctl: cannot clear store %s at %s: %s\n", quoted(place.store).c_str(),
                     place.url.c_str(), last_error());
        return kUnreachable;
    }
    std::printf("cleared store %s at %s\n", quoted(place.store).c_str(), place.url.c_str());
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
