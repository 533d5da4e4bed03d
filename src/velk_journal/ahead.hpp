// SPDX-License-Identifier: MIT
// Lines of a journal parsed ahead, on a thread of their own, in the order
// they are to be read: while a call is made and compared, the next ones
// are being parsed, so that a replay takes about what the calls and the
// comparing take, not that and the parsing as well.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "velk_journal/input.hpp"

namespace velkjournal {

class Ahead {
public:
    // Parses journal.calls()[i] for each i of `order`, in that order.
    Ahead(const Journal& journal, std::vector<std::size_t> order);
    ~Ahead();
    Ahead(const Ahead&) = delete;
    Ahead& operator=(const Ahead&) = delete;

    // The next line of the order, parsed (valid until the next call); a
    // Trouble for one that is no JSON.
    element next();

private:
    static constexpr std::size_t kSlots = 32;
    struct Slot {
        simdjson::dom::parser parser;
        element line;
        simdjson::error_code error = simdjson::SUCCESS;
        bool ready = false;
    };

    void parse_all();

    const Journal& journal_;
    std::vector<std::size_t> order_;
    std::vector<Slot> slots_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t parsed_ = 0;  // lines parsed (into slot n % kSlots)
    std::size_t taken_ = 0;   // lines handed out
    bool stopping_ = false;
    bool reader_waits_ = false;  // each side wakes the other only when it waits
    bool worker_waits_ = false;
    std::thread worker_;
};

}  // namespace velkjournal
