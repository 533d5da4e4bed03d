// SPDX-License-Identifier: MIT
#include "velk_journal/trace.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "journal/json.hpp"

namespace velkjournal {
namespace {

namespace vj = velkfault::journal;

// Calls that overlap on one thread without nesting (a journal's clock
// rounds to microseconds) go to a track of their own beside it.
constexpr std::uint32_t kOverflowTrack = 1000000;

struct Event {
    std::size_t call;  // index in the journal
    std::uint64_t ts;
    std::uint64_t dur;
    std::uint32_t tid;
};

// Counts of the statuses an answer holds, in the order they first come:
// "0 x62, -5 x2".
void count_statuses(element out, std::vector<std::pair<std::string, std::size_t>>& counts) {
    const auto add = [&](element status) {
        const std::string text = status.is_string() ? std::string(status.get_string().value_unsafe())
                                                    : simdjson::to_string(status);
        for (auto& [seen, n] : counts) {
            if (seen == text) {
                ++n;
                return;
            }
        }
        counts.emplace_back(text, 1);
    };
    simdjson::dom::object object;
    if (out.get_object().get(object) != simdjson::SUCCESS) {
        return;
    }
    for (const auto member : object) {
        simdjson::dom::array list;
        if (member.value.get_array().get(list) != simdjson::SUCCESS) {
            continue;
        }
        for (const element item : list) {
            element status;
            if (member.key == "statuses") {
                add(item);
            } else if (LineReader::find(item, "status", status)) {
                add(status);
            } else if (member.key == "callbacks") {
                count_statuses(item, counts);
            }
        }
    }
}

void copy_member(vj::Json& json, element line, const char* from, const char* name) {
    element value;
    if (LineReader::find(line, from, value)) {
        json.key(name);
        json.embed(simdjson::to_string(value));
    }
}

}  // namespace

void write_trace(Journal& journal, const Verdict* verdict, std::FILE* out) {
    const auto& calls = journal.calls();
    vj::Json json;
    json.open_object();
    json.key("displayTimeUnit");
    json.bytes("ms");
    json.key("traceEvents");
    json.open_array();
    const auto metadata = [&](const char* name, std::uint32_t pid, const std::uint32_t* tid,
                              const std::string& value) {
        json.open_object();
        json.key("ph");
        json.bytes("M");
        json.key("name");
        json.bytes(name);
        json.key("pid");
        json.unsigned_number(pid);
        if (tid != nullptr) {
            json.key("tid");
            json.unsigned_number(*tid);
        }
        json.key("args");
        json.open_object();
        json.key("name");
        json.bytes(value);
        json.close_object();
        json.close_object();
    };
    for (const auto& [number, process] : journal.processes()) {
        std::string name = process.program.empty() ? "process" : process.program;
        name = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
        name += cat(" (pid ", process.pid) + ")";
        if (process.parent != 0) {
            name += cat(", forked from process ", process.parent);
        }
        metadata("process_name", number, nullptr, name);
    }
    // Each thread's calls, checked for nesting: one that begins inside
    // another and ends after it goes to its thread's overflow track.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<Event>> tracks;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        tracks[{calls[i].process, calls[i].thread}].push_back(
            Event{i, calls[i].start_us, calls[i].duration_us, calls[i].thread});
    }
    std::vector<Event> events;
    std::map<std::pair<std::uint32_t, std::uint32_t>, bool> named;
    for (auto& [track, list] : tracks) {
        std::stable_sort(list.begin(), list.end(), [](const Event& a, const Event& b) {
            return a.ts != b.ts ? a.ts < b.ts : a.dur > b.dur;
        });
        std::vector<std::uint64_t> open;  // ends of the calls that enclose the next one
        for (Event& event : list) {
            while (!open.empty() && open.back() <= event.ts) {
                open.pop_back();
            }
            if (!open.empty() && event.ts + event.dur > open.back()) {
                event.tid = kOverflowTrack + track.second;
            } else {
                open.push_back(event.ts + event.dur);
            }
            events.push_back(event);
        }
        const std::uint32_t tid = track.second;
        metadata("thread_name", track.first, &tid, cat("thread ", tid));
        named[track] = true;
    }
    for (const Event& event : events) {
        const CallLine& call = calls[event.call];
        if (event.tid >= kOverflowTrack && !named[{call.process, event.tid}]) {
            named[{call.process, event.tid}] = true;
            metadata("thread_name", call.process, &event.tid,
                     cat("thread ", call.thread) + " (calls that overlap on it)");
        }
        const element line = journal.parse(call);
        const auto head = [&](const char* phase, const std::string& name, const char* category) {
            json.open_object();
            json.key("ph");
            json.bytes(phase);
            json.key("name");
            json.bytes(name);
            json.key("cat");
            json.bytes(category);
            json.key("pid");
            json.unsigned_number(call.process);
            json.key("tid");
            json.unsigned_number(event.tid);
            json.key("ts");
            json.unsigned_number(event.ts);
        };
        head("X", velkfault::kFunctions[call.fn].name, "call");
        json.key("dur");
        json.unsigned_number(event.dur);
        json.key("args");
        json.open_object();
        json.key("seq");
        json.unsigned_number(call.seq);
        json.key("handle");
        json.bytes(call.handle);
        element args;
        if (LineReader::find(line, "args", args)) {
            copy_member(json, args, "ns", "ns");
            copy_member(json, args, "count", "count");
        }
        copy_member(json, line, "rc", "rc");
        element answer;
        std::vector<std::pair<std::string, std::size_t>> counts;
        if (LineReader::find(line, "out", answer)) {
            count_statuses(answer, counts);
        }
        if (!counts.empty()) {
            std::string summary;
            for (const auto& [status, n] : counts) {
                summary += (summary.empty() ? "" : ", ") + status + cat(" x", n);
            }
            json.key("statuses");
            json.bytes(summary);
        }
        if (call.within != 0) {
            json.key("within");
            json.unsigned_number(call.within);
        }
        json.close_object();
        json.close_object();
        // What a plan did to it, and where the replay found it different.
        const auto instant = [&](const std::string& name, const char* category, const auto& more) {
            head("i", name, category);
            json.key("s");
            json.bytes("t");
            json.key("args");
            json.open_object();
            json.key("seq");
            json.unsigned_number(call.seq);
            more();
            json.close_object();
            json.close_object();
        };
        element fault;
        std::string_view what;
        if (LineReader::find(line, "fault", fault) && fault.get_string().get(what) == simdjson::SUCCESS) {
            instant("plan: " + std::string(what), "plan", [&] { copy_member(json, line, "plan", "plan"); });
        }
        if (verdict != nullptr) {
            const auto found = verdict->differences.find(call.seq);
            if (found != verdict->differences.end()) {
                for (const std::string& difference : found->second) {
                    instant("divergence", "divergence", [&] {
                        json.key("difference");
                        json.bytes(difference);
                    });
                }
            }
        }
        if (json.text.size() > (1 << 20)) {
            std::fwrite(json.text.data(), 1, json.text.size(), out);
            json.text.clear();
        }
    }
    json.close_array();
    json.close_object();
    json.text += '\n';
    std::fwrite(json.text.data(), 1, json.text.size(), out);
}

}  // namespace velkjournal
