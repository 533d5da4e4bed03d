// SPDX-License-Identifier: MIT
// A command line run by the shell: its exit status (or -N when signal N
// ended it) and everything it wrote to its output and its error output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

namespace velk_test {

inline std::pair<int, std::string> program_output(const std::string& command_line) {
    FILE* pipe = popen((command_line + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[512];
    while (pipe != nullptr) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe);
        if (n == 0) {
            break;
        }
        out.append(buffer, n);
    }
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    if (status != -1 && WIFSIGNALED(status)) {
        return {-WTERMSIG(status), out};
    }
    return {status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

}  // namespace velk_test
