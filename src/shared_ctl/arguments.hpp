// SPDX-License-Identifier: MIT
// velkshared-ctl's command line: a command, its arguments and options in
// any order, as the tools people already use take them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velkctl {

struct Options {
    std::string command;
    std::vector<std::string> words;  // after the command: NS KEY [VALUE], or NS KEY...
    const char* url = nullptr;
    const char* store = nullptr;
    std::optional<std::string> keys;  // show --keys NS
    bool values = false;
    bool raw = false;
    bool json = false;
    bool help = false;
    std::size_t max_bytes = 256;
    std::optional<std::string> file;                            // put --file F
    std::vector<std::pair<std::string, std::string>> metadata;  // put --meta K=V...
};

// The options, or the line that says which argument is wrong.
struct Parsed {
    std::optional<Options> options;
    std::string wrong;
};
Parsed parse(int argc, char** argv);

extern const char* const kUsageText;
extern const char* const kShortUsage;

}  // namespace velkctl
