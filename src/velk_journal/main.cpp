// SPDX-License-Identifier: MIT
// velk-journal: what a journal of libvelkfault's holds, checked against a
// library (replay), shown as a timeline (trace), and the hit ratio each
// namespace would have had at each capacity (curve). velk-replay is its replay
// under the name it had first. Exit status as diff's: 0 the same, 1
// different, 2 trouble (a journal or library that cannot be used, a
// command line that cannot be followed).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "faults/cache_spec.hpp"
#include "journal/curve.hpp"
#include "journal/svg.hpp"
#include "velk_journal/curve_reader.hpp"
#include "velk_journal/input.hpp"
#include "velk_journal/replay.hpp"
#include "velk_journal/trace.hpp"

namespace {

using namespace velkjournal;

constexpr int kSame = 0;
constexpr int kDiffer = 1;
constexpr int kTrouble = 2;

const char* const kShortUsage =
    "usage: velk-journal replay JOURNAL [--lib LIBRARY] [--ignore NAME,...] [--trace FILE]\n"
    "       velk-journal trace JOURNAL [--against LIBRARY] [--ignore NAME,...]\n"
    "       velk-journal curve JOURNAL [--ns NS] [--policy lru,fifo,lfu,random] [--svg FILE] [--json]\n";

const char* const kHelp =
    "\n"
    "replay  makes the calls of JOURNAL (written with VELKFAULT_JOURNAL and\n"
    "        VELKFAULT_JOURNAL_VALUES=full) again, in the order they began, against\n"
    "        LIBRARY, each with the effect a fault plan had on it, and compares every\n"
    "        answer with the journal's. LIBRARY: mock (the default, libvelkmock.so.0),\n"
    "        shared (libvelkshared.so.0, each handle on a store of its own) or the\n"
    "        path of any library with the 28 velk_ functions. Each difference is a\n"
    "        line: call, function, member, recorded and replayed. --trace FILE also\n"
    "        writes the journal as a timeline with the differences on it.\n"
    "trace   writes JOURNAL as a timeline in the Trace Event format to standard\n"
    "        output (open it in Perfetto or chrome://tracing); with --against, the\n"
    "        differences a replay against LIBRARY finds are on it.\n"
    "curve   gives, per namespace of JOURNAL (values none are enough), the hits and\n"
    "        misses of its reads at each capacity with each policy (lru, the\n"
    "        default, exact at every capacity where it changes; the others at 64\n"
    "        capacities): what VELKFAULT_CACHE=NS=CAPACITY:POLICY counts on the same\n"
    "        calls, for a program that puts a key back at once when a read misses\n"
    "        it (reloads it, or recomputes it), as programs with a miss path do.\n"
    "        Random is seeded by VELKFAULT_SEED, as the cache mode is. A short\n"
    "        table; --json the points, --svg FILE a chart of them; --ns one\n"
    "        namespace.\n"
    "\n"
    "--ignore leaves out the members of those names wherever they are (location,\n"
    "created_at_ms, timestamp_ms, endpoint, node_id, ...); the name order lets the\n"
    "namespace and node listings compare by name, in any order. Options may come\n"
    "before or after the command; -- ends them.\n"
    "Exit status: 0 every answer matched, 1 some did not, 2 the journal, the\n"
    "library or the command line could not be used.\n";

struct Command {
    std::string program = "velk-journal";
    std::string verb;
    std::string journal;
    std::string library;
    bool library_given = false;
    std::string trace;
    Names ignore;
    // curve's
    std::optional<std::string> ns;
    std::vector<velkfault::curve::Policy> policies;
    std::string svg;
    bool json = false;
    std::vector<std::string> curve_options;  // as given, for a command that takes none
    std::vector<std::string> other_options;  // replay's and trace's, which curve takes none of
};

// "lru,fifo": the policies in the order given, each once.
std::string parse_policies(const std::string& list, std::vector<velkfault::curve::Policy>& out) {
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string name = list.substr(at, comma - at);
        const velkfault::cache::Policy policy = velkfault::cache::policy_named(name);
        if (policy == velkfault::cache::Policy::Unknown) {
            return "--policy: unknown policy '" + name + "': the policies are lru, fifo, lfu and random";
        }
        if (std::find(out.begin(), out.end(), policy) == out.end()) {
            out.push_back(policy);
        }
        at = comma + 1;
    }
    return {};
}

int usage(const Command& command, const std::string& why) {
    std::fprintf(stderr, "%s: %s\n%s", command.program.c_str(), why.c_str(), kShortUsage);
    return kTrouble;
}

// Fills `command`; an empty text when it can be followed, else why not.
std::string parse(int argc, char** argv, Command& command) {
    bool options = true;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (!options || arg.empty() || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            command.verb = "help";
            return {};
        }
        if (arg == "--json") {
            command.json = true;
            command.curve_options.push_back(arg);
            continue;
        }
        const bool curve_option = arg == "--ns" || arg == "--policy" || arg == "--svg";
        const bool takes_value =
            curve_option || arg == "--lib" || arg == "--against" || arg == "--ignore" || arg == "--trace";
        if (!takes_value) {
            return "unknown option '" + arg + "'";
        }
        if (i + 1 >= argc) {
            return arg + " needs a value";
        }
        const std::string value = argv[++i];
        (curve_option ? command.curve_options : command.other_options).push_back(arg);
        if (arg == "--ns") {
            command.ns = value;
        } else if (arg == "--policy") {
            if (std::string why = parse_policies(value, command.policies); !why.empty()) {
                return why;
            }
        } else if (arg == "--svg") {
            command.svg = value;
        } else if (arg == "--lib" || arg == "--against") {
            command.library = value;
            command.library_given = true;
        } else if (arg == "--trace") {
            command.trace = value;
        } else {
            for (std::size_t at = 0; at <= value.size();) {
                const std::size_t comma = std::min(value.find(',', at), value.size());
                if (comma > at) {
                    command.ignore.insert(value.substr(at, comma - at));
                }
                at = comma + 1;
            }
        }
    }
    std::size_t next = 0;
    if (command.verb.empty()) {
        if (words.empty()) {
            return "no command given";
        }
        command.verb = words[next++];
    }
    if (command.verb != "replay" && command.verb != "trace" && command.verb != "curve") {
        return "unknown command '" + command.verb + "'";
    }
    if (command.verb == "trace" && !command.trace.empty()) {
        return "--trace is replay's (trace writes its timeline to standard output)";
    }
    if (command.verb != "curve" && !command.curve_options.empty()) {
        return command.curve_options.front() + " is an option of curve, not of " + command.verb;
    }
    if (command.verb == "curve" && !command.other_options.empty()) {
        return command.other_options.front() + " is no option of curve";
    }
    if (next == words.size()) {
        return "no journal given";
    }
    command.journal = words[next++];
    if (next != words.size()) {
        return "one journal at a time ('" + words[next] + "' is a second)";
    }
    const Names known = known_names();
    for (const std::string& name : command.ignore) {
        if (known.count(name) == 0) {
            std::string list;
            for (const std::string& k : known) {
                list += list.empty() ? "" : ", ";
                list += k;
            }
            return cat("--ignore: no answer holds '", name, "'; the names are ", list);
        }
    }
    return {};
}

// The curves of a journal: a short table, or the points as JSON and a chart.
int curve(const Command& command, Journal& journal) {
    velkfault::curve::Options options;
    if (!command.policies.empty()) {
        options.policies = command.policies;
    }
    if (const char* seed = std::getenv("VELKFAULT_SEED"); seed != nullptr) {
        if (std::string why = velkfault::cache::parse_seed(seed, options.seed); !why.empty()) {
            throw Trouble{why};
        }
    }
    std::vector<velkfault::curve::Curve> curves;
    for (const velkfault::curve::Namespace& ns : read_traces(journal, command.ns)) {
        curves.push_back(velkfault::curve::compute(ns, options));
    }
    if (command.ns && curves.empty()) {
        throw Trouble{"the journal holds no call on the namespace '" + *command.ns + "'"};
    }
    if (!command.svg.empty()) {
        const std::string svg = velkfault::curve::to_svg(curves);
        std::FILE* out = std::fopen(command.svg.c_str(), "w");
        bool written = out != nullptr && std::fwrite(svg.data(), 1, svg.size(), out) == svg.size();
        written = out != nullptr && std::fclose(out) == 0 && written;
        if (!written) {
            throw Trouble{"cannot write " + command.svg + ": " + std::strerror(errno)};
        }
    }
    if (command.json) {
        std::fputs(velkfault::curve::to_json(curves).c_str(), stdout);
    } else if (command.svg.empty()) {
        write_table(curves, options.policies, stdout);
    }
    return kSame;
}

int run(int argc, char** argv) {
    Command command;
    const char* base = std::strrchr(argv[0], '/');
    base = base != nullptr ? base + 1 : argv[0];
    if (std::strcmp(base, "velk-replay") == 0) {
        command.program = "velk-replay";
        command.verb = "replay";
    }
    if (const std::string why = parse(argc, argv, command); !why.empty()) {
        return usage(command, why);
    }
    if (command.verb == "help") {
        std::printf("%s%s", kShortUsage, kHelp);
        return kSame;
    }
    // A plan's delay is waited again, up to a minute: a longer one is no
    // recording a test suite makes, and would hold the replay.
    Limits limits;
    limits.delay_us = 60'000'000;
    set_limits(limits);
    try {
        Journal journal(command.journal);
        if (command.verb == "curve") {
            return curve(command, journal);
        }
        if (command.verb == "trace") {
            if (!command.library_given) {
                write_trace(journal, nullptr, stdout);
                return kSame;
            }
            const Api api = load_library(command.library);
            const Verdict verdict = replay(journal, api, command.ignore, false);
            write_trace(journal, &verdict, stdout);
            return verdict.diverged == 0 ? kSame : kDiffer;
        }
        const Api api = load_library(command.library_given ? command.library : "mock");
        const Verdict verdict = replay(journal, api, command.ignore, true);
        std::printf("%s: %zu call%s replayed against %s%s, %zu diverged\n", command.program.c_str(),
                    verdict.replayed, verdict.replayed == 1 ? "" : "s", api.file.c_str(),
                    verdict.planned != 0 ? (cat(" (", verdict.planned) + " as a plan had them)").c_str() : "",
                    verdict.diverged);
        if (!command.trace.empty()) {
            std::FILE* out = std::fopen(command.trace.c_str(), "w");
            if (out == nullptr) {
                std::fprintf(stderr, "%s: cannot write %s: %s\n", command.program.c_str(),
                             command.trace.c_str(), std::strerror(errno));
                return kTrouble;
            }
            write_trace(journal, &verdict, out);
            std::fclose(out);
        }
        return verdict.diverged == 0 ? kSame : kDiffer;
    } catch (const Trouble& trouble) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", command.program.c_str(), trouble.why.c_str());
        return kTrouble;
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "velk-journal: out of memory\n");
        return kTrouble;
    }
}
