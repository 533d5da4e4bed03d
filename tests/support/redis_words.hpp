// SPDX-License-Identifier: MIT
// A command given as words, sent through hiredis: for the tests that set a
// server up, or look at what it holds, behind the library's back.
#pragma once

#include <hiredis/hiredis.h>

#include <string>
#include <vector>

namespace velk_test {

// The answer, which the caller frees (freeReplyObject); NULL when the
// connection failed.
inline redisReply* ask_words(redisContext* context, const std::vector<std::string>& words) {
    std::vector<const char*> argv;
    std::vector<std::size_t> lens;
    for (const std::string& word : words) {
        argv.push_back(word.data());
        lens.push_back(word.size());
    }
    return static_cast<redisReply*>(
        redisCommandArgv(context, static_cast<int>(argv.size()), argv.data(), lens.data()));
}

}  // namespace velk_test
