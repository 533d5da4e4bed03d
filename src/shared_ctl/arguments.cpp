// SPDX-License-Identifier: MIT
#include "shared_ctl/arguments.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace velkctl {

const char* const kUsageText =
    "usage: velkshared-ctl [--url URL] [--store NAME] COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "  show   [--keys NS [--values]] [--max-bytes N] [--json]\n"
    "         every namespace of the store: settings, entries, used bytes; with\n"
    "         --keys, the keys of namespace NS: value length, tag, replica count,\n"
    "         metadata, and with --values their values\n"
    "  get    NS KEY [--raw] [--max-bytes N] [--json]\n"
    "         one entry: value length, tag, replica count, metadata and value;\n"
    "         with --raw only the value's bytes, whole, for a pipe\n"
    "  put    NS KEY VALUE [--meta K=V]...\n"
    "  put    NS KEY --file F [--meta K=V]...\n"
    "         stores one entry, as the library's put does (a namespace that is\n"
    "         not there is made with the default settings): VALUE, or the bytes\n"
    "         of file F (- for standard input), with metadata pairs K=V\n"
    "  del    NS KEY...\n"
    "         removes the keys from namespace NS\n"
    "  clear  removes every namespace and entry of the store\n"
    "  stores [--json]\n"
    "         the stores on the server (on every master of a cluster, naming the\n"
    "         node that holds each), with their numbers of namespaces\n"
    "\n"
    "Options may stand before or after the command and its arguments; --url\n"
    "and --store go with every command (but stores, which lists them all).\n"
    "--NAME=VALUE is --NAME VALUE. After \"--\", every argument is a namespace,\n"
    "key or value, even one that begins with \"-\".\n"
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
    "invalid bytes in the text itself read U+FFFD. policy_param is a number,\n"
    "or one of the strings \"NaN\", \"Infinity\" and \"-Infinity\", which JSON\n"
    "has no numbers for.\n"
    "\n"
    "URL and NAME default to VELKSHARED_URL and VELKSHARED_STORE (and to\n"
    "redis://127.0.0.1:6379 and \"default\"); VELKSHARED_TIMEOUT_MS applies.\n"
    "A password in the URL is never shown (\"***\").\n"
    "Exit status: 0 done, 1 the server or what was asked for could not be\n"
    "reached or found (del: a key that was not there, the others deleted all\n"
    "the same), 2 bad usage.\n";

const char* const kShortUsage =
    "usage: velkshared-ctl [OPTIONS] show|get|put|del|clear|stores [ARGUMENTS] [OPTIONS];"
    " velkshared-ctl --help says more\n";

namespace {

// Every option: its name, whether a value follows it, and the commands
// that take it.
struct Spec {
    std::string_view name;
    bool takes_value;
    std::string_view commands;  // separated by spaces
};
constexpr Spec kSpecs[] = {
    {"--url", true, "show get put del clear stores"},
    {"--store", true, "show get put del clear"},
    {"--keys", true, "show"},
    {"--values", false, "show"},
    {"--max-bytes", true, "show get"},
    {"--raw", false, "get"},
    {"--json", false, "show get stores"},
    {"--file", true, "put"},
    {"--meta", true, "put"},
};
constexpr std::string_view kCommands = "show get put del clear stores";

bool listed(std::string_view list, std::string_view word) {
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(' ', at), list.size());
        if (list.substr(at, end - at) == word) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

const Spec* spec_of(std::string_view name) {
    const auto* found = std::find_if(std::begin(kSpecs), std::end(kSpecs),
                                     [&](const Spec& spec) { return spec.name == name; });
    return found != std::end(kSpecs) ? found : nullptr;
}

// What the command takes after it, or why it does not take what it got.
std::string check_words(const Options& options) {
    const std::string& command = options.command;
    const std::size_t n = options.words.size();
    if (command == "get" && n != 2) {
        return "get takes a namespace and a key (get NS KEY)";
    }
    if (command == "put" && n != (options.file ? 2U : 3U)) {
        return options.file ? "put --file F takes a namespace and a key (put NS KEY --file F)"
                            : "put takes a namespace, a key and a value (put NS KEY VALUE)";
    }
    if (command == "del" && n < 2) {
        return "del takes a namespace and one key or more (del NS KEY...)";
    }
    if ((command == "show" || command == "clear" || command == "stores") && n != 0) {
        return "'" + options.words[0] + "' is not an argument of " + command;
    }
    return "";
}

// Sets what one option says; the line that says why it cannot, else "".
std::string apply(Options& options, std::string_view name, const char* value) {
    if (name == "--url") {
        options.url = value;
    } else if (name == "--store") {
        options.store = value;
    } else if (name == "--keys") {
        options.keys = value;
    } else if (name == "--values") {
        options.values = true;
    } else if (name == "--raw") {
        options.raw = true;
    } else if (name == "--json") {
        options.json = true;
    } else if (name == "--file") {
        options.file = value;
    } else if (name == "--meta") {
        const std::string_view pair(value);
        const auto equals = pair.find('=');
        if (equals == std::string_view::npos) {
            return "--meta needs KEY=VALUE, not '" + std::string(pair) + "'";
        }
        options.metadata.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    } else {  // --max-bytes
        const std::string_view digits(value);
        unsigned long long n = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
            return "--max-bytes needs a number of bytes, not '" + std::string(digits) + "'";
        }
        options.max_bytes = n == 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(n);
    }
    return "";
}

}  // namespace

Parsed parse(int argc, char** argv) {
    Options options;
    struct Given {
        const Spec* spec;
        const char* value;
    };
    std::vector<Given> given;
    std::string unknown;  // the first argument that looks like an option and is none
    std::string wrong;    // the first option that lacks its value, or has one it takes not
    bool ended = false;   // by "--"
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!ended && arg == "--") {
            ended = true;
        } else if (ended || arg.size() < 2 || arg[0] != '-') {
            (options.command.empty() ? options.command : options.words.emplace_back()) = arg;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else {
            const auto equals = arg.find('=');
            const Spec* spec = arg[1] == '-' ? spec_of(arg.substr(0, equals)) : nullptr;
            const char* value = nullptr;
            if (spec == nullptr) {
                unknown = unknown.empty() ? std::string(arg) : unknown;
                continue;
            }
            if (equals != std::string_view::npos) {
                value = argv[i] + equals + 1;
                if (!spec->takes_value && wrong.empty()) {
                    wrong = std::string(spec->name) + " takes no value";
                }
            } else if (spec->takes_value) {
                if (i + 1 == argc) {
                    wrong = wrong.empty() ? std::string(spec->name) + " needs a value" : wrong;
                    continue;
                }
                value = argv[++i];
            }
            given.push_back({spec, value});
        }
    }
    if (options.help) {
        return {options, ""};
    }
    const std::string& command = options.command;
    if (command.empty()) {
        return {std::nullopt, "no command given"};
    }
    if (!listed(kCommands, command)) {
        return {std::nullopt, "unknown command '" + command + "' (show, get, put, del, clear or stores)"};
    }
    if (!unknown.empty()) {
        const bool takes_names = command == "get" || command == "put" || command == "del";
        return {std::nullopt,
                "'" + unknown + "' is not an option of " + command +
                    (takes_names ? " (a namespace, key or value that begins with \"-\" goes after"
                                   " \"--\")"
                                 : "")};
    }
    if (!wrong.empty()) {
        return {std::nullopt, wrong};
    }
    for (const Given& option : given) {
        if (!listed(option.spec->commands, command)) {
            return {std::nullopt, std::string(option.spec->name) + " is not an option of " + command};
        }
        if (std::string why = apply(options, option.spec->name, option.value); !why.empty()) {
            return {std::nullopt, why};
        }
    }
    if (std::string why = check_words(options); !why.empty()) {
        return {std::nullopt, why};
    }
    if (options.raw && options.json) {
        return {std::nullopt, "--raw and --json do not go together"};
    }
    if (options.values && !options.keys) {
        return {std::nullopt, "--values goes with --keys NS"};
    }
    return {options, ""};
}

}  // namespace velkctl
