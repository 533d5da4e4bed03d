// SPDX-License-Identifier: MIT
// What the cache mode counted, as the JSON report and as the table at exit.
#include <algorithm>
#include <cstdio>
#include <map>

#include "faults/cache_engine.hpp"

namespace velkfault::cache {
namespace {

// The length of the UTF-8 sequence at the front of `text`, or 0 when it is
// not one (overlong forms, surrogates and values past U+10FFFF included).
std::size_t utf8_length(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char first = byte(0);
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (first < 0x80) {
        return 1;
    } else if ((first & 0xE0) == 0xC0) {
        length = 2;
        value = first & 0x1FU;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        value = first & 0x0FU;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        value = first & 0x07U;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i) & 0x3FU);
    }
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return length;
}

void append_number(std::string& out, std::uint64_t number) {
    out += std::to_string(number);
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    while (!text.empty()) {
        const char c = text.front();
        const std::size_t length = utf8_length(text);
        if (length == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    out += '"';
}

std::string report_json(std::span<const Record> records) {
    std::string out = "{\"namespaces\": [";
    bool first = true;
    for (const Record& record : records) {
        out += first ? "\n  {" : ",\n  {";
        first = false;
        out += "\"handle\": \"h";
        append_number(out, record.handle);
        out += "\", \"ns\": ";
        append_json_string(out, record.ns);
        out += ", \"capacity\": ";
        append_number(out, record.capacity);
        out += ", \"policy\": ";
        append_json_string(out, record.policy);
        const std::pair<const char*, std::uint64_t> counts[] = {
            {"hits", record.stats.hits},           {"misses", record.stats.misses},
            {"evictions", record.stats.evictions}, {"evicted_bytes", record.stats.evicted_bytes},
            {"refused", record.stats.refused},     {"peak_bytes", record.stats.peak_bytes},
        };
        for (const auto& [name, value] : counts) {
            out += ", \"";
            out += name;
            out += "\": ";
            append_number(out, value);
        }
        out += '}';
    }
    out += first ? "]}\n" : "\n]}\n";
    return out;
}

std::string report_table(std::span<const Record> records) {
    struct Line {
        std::uint64_t handles = 0;
        std::string capacity;
        std::string policy;
        Stats stats;
    };
    std::map<std::string, Line> lines;
    for (const Record& record : records) {
        Line& line = lines[record.ns];
        const std::string capacity = record.capacity > 0 ? std::to_string(record.capacity) : "none";
        line.capacity = line.handles == 0 || line.capacity == capacity ? capacity : "varies";
        line.policy = line.handles == 0 || line.policy == record.policy ? record.policy : "varies";
        ++line.handles;
        line.stats.hits += record.stats.hits;
        line.stats.misses += record.stats.misses;
        line.stats.evictions += record.stats.evictions;
        line.stats.evicted_bytes += record.stats.evicted_bytes;
        line.stats.refused += record.stats.refused;
        line.stats.peak_bytes = std::max(line.stats.peak_bytes, record.stats.peak_bytes);
    }
    std::vector<std::vector<std::string>> rows = {{"namespace", "handles", "capacity", "policy", "hits",
                                                   "misses", "hit %", "evictions", "evicted bytes", "refused",
                                                   "peak bytes"}};
    for (const auto& [ns, line] : lines) {
        const std::uint64_t reads = line.stats.hits + line.stats.misses;
        char ratio[32] = "-";
        if (reads > 0) {
            std::snprintf(ratio, sizeof ratio, "%.1f",
                          100.0 * static_cast<double>(line.stats.hits) / static_cast<double>(reads));
        }
        rows.push_back({ns, std::to_string(line.handles), line.capacity, line.policy,
                        std::to_string(line.stats.hits), std::to_string(line.stats.misses), ratio,
                        std::to_string(line.stats.evictions), std::to_string(line.stats.evicted_bytes),
                        std::to_string(line.stats.refused), std::to_string(line.stats.peak_bytes)});
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    // Names and policies read left to right; numbers line up on the right.
    std::string out = "libvelkfault cache mode:\n";
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - row[i].size(), ' ');
            const bool text = i == 0 || i == 3;
            out += "  ";
            out += text ? row[i] + pad : pad + row[i];
        }
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        out += '\n';
    }
    return out;
}

}  // namespace velkfault::cache
