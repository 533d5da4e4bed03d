// SPDX-License-Identifier: MIT
// Checks a trace that velk-journal wrote against what the Trace Event
// format requires of it: every event's fields by its phase, a name for
// every process and thread that has events, and complete events that nest
// on each thread. Prints what it holds; exits 1, saying why, when it does
// not hold.
//   trace_check TRACE [--processes N] [--divergences]
#include <simdjson.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using simdjson::dom::element;

int fail(const std::string& why) {
    std::fprintf(stderr, "trace_check: %s\n", why.c_str());
    return 1;
}

bool number(element event, const char* name, std::uint64_t& out) {
    return event[name].get_uint64().get(out) == simdjson::SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return fail("usage: trace_check TRACE [--processes N] [--divergences]");
    }
    std::size_t want_processes = 0;
    bool want_divergences = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--processes") == 0 && i + 1 < argc) {
            want_processes = std::stoul(argv[++i]);
        } else if (std::strcmp(argv[i], "--divergences") == 0) {
            want_divergences = true;
        } else {
            return fail(std::string("unknown argument ") + argv[i]);
        }
    }
    simdjson::dom::parser parser;
    element trace;
    if (const auto error = parser.load(argv[1]).get(trace); error != simdjson::SUCCESS) {
        return fail(std::string(argv[1]) + ": " + simdjson::error_message(error));
    }
    simdjson::dom::array events;
    if (trace["traceEvents"].get_array().get(events) != simdjson::SUCCESS) {
        return fail("no traceEvents array");
    }
    using Track = std::pair<std::uint64_t, std::uint64_t>;
    std::set<std::uint64_t> named_processes;
    std::set<Track> named_threads;
    std::set<std::uint64_t> processes;
    std::map<Track, std::vector<std::pair<std::uint64_t, std::uint64_t>>> calls;  // (ts, dur) per track
    std::size_t instants = 0;
    std::size_t divergences = 0;
    std::size_t index = 0;
    for (const element event : events) {
        const std::string at = "event " + std::to_string(index++);
        std::string_view phase;
        std::string_view name;
        std::uint64_t pid = 0;
        std::uint64_t tid = 0;
        std::uint64_t ts = 0;
        std::uint64_t dur = 0;
        if (event["ph"].get_string().get(phase) != simdjson::SUCCESS ||
            event["name"].get_string().get(name) != simdjson::SUCCESS || !number(event, "pid", pid)) {
            return fail(at + ": no ph, name or pid");
        }
        if (phase == "M") {
            std::string_view label;
            if (event["args"]["name"].get_string().get(label) != simdjson::SUCCESS || label.empty()) {
                return fail(at + ": a metadata event without args.name");
            }
            if (name == "process_name") {
                named_processes.insert(pid);
            } else if (name == "thread_name") {
                if (!number(event, "tid", tid)) {
                    return fail(at + ": thread_name without tid");
                }
                named_threads.insert({pid, tid});
            } else {
                return fail(at + ": metadata " + std::string(name));
            }
            continue;
        }
        if (!number(event, "tid", tid) || !number(event, "ts", ts)) {
            return fail(at + ": no tid or ts");
        }
        processes.insert(pid);
        if (!named_threads.count({pid, tid}) && phase != "X" && phase != "i") {
            return fail(at + ": phase " + std::string(phase));
        }
        if (phase == "X") {
            element args;
            if (!number(event, "dur", dur) || event["args"].get(args) != simdjson::SUCCESS ||
                args["seq"].get_uint64().error() != simdjson::SUCCESS) {
                return fail(at + ": a complete event without dur or args.seq");
            }
            calls[{pid, tid}].emplace_back(ts, dur);
        } else if (phase == "i") {
            std::string_view scope;
            if (event["s"].get_string().get(scope) != simdjson::SUCCESS || scope != "t") {
                return fail(at + ": an instant event without its thread scope");
            }
            ++instants;
            divergences += name == "divergence" ? 1 : 0;
        } else {
            return fail(at + ": phase " + std::string(phase));
        }
    }
    for (const std::uint64_t pid : processes) {
        if (!named_processes.count(pid)) {
            return fail("process " + std::to_string(pid) + " has no name");
        }
    }
    for (auto& [track, list] : calls) {
        if (!named_threads.count(track)) {
            return fail("thread " + std::to_string(track.second) + " of process " +
                        std::to_string(track.first) + " has no name");
        }
        std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : a.second > b.second;
        });
        std::vector<std::uint64_t> open;
        for (const auto& [ts, dur] : list) {
            while (!open.empty() && open.back() <= ts) {
                open.pop_back();
            }
            if (!open.empty() && ts + dur > open.back()) {
                return fail("calls overlap without nesting on thread " + std::to_string(track.second) +
                            " of process " + std::to_string(track.first) + " at " + std::to_string(ts));
            }
            open.push_back(ts + dur);
        }
    }
    std::size_t total = 0;
    for (const auto& [track, list] : calls) {
        total += list.size();
    }
    std::printf("trace: %zu calls on %zu tracks of %zu processes, %zu instant events, %zu divergences\n",
                total, calls.size(), processes.size(), instants, divergences);
    if (want_processes != 0 && processes.size() != want_processes) {
        return fail("expected " + std::to_string(want_processes) + " processes");
    }
    if (want_divergences && divergences == 0) {
        return fail("expected divergences on the timeline");
    }
    return 0;
}
