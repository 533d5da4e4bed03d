// SPDX-License-Identifier: MIT
#include "velk_journal/ahead.hpp"

#include <utility>

namespace velkjournal {

Ahead::Ahead(const Journal& journal, std::vector<std::size_t> order)
    : journal_(journal), order_(std::move(order)), slots_(kSlots) {
    worker_ = std::thread([this] { parse_all(); });
}

Ahead::~Ahead() {
    {
        const std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void Ahead::parse_all() {
    for (std::size_t n = 0; n < order_.size(); ++n) {
        Slot& slot = slots_[n % kSlots];
        {
            // A slot is parsed into again once the line it held was handed
            // out and the next one taken, so that the reader is done with it.
            std::unique_lock guard(lock_);
            worker_waits_ = true;
            changed_.wait(guard, [&] { return stopping_ || n < taken_ + kSlots - 1; });
            worker_waits_ = false;
            if (stopping_) {
                return;
            }
        }
        const CallLine& call = journal_.calls()[order_[n]];
        slot.error = slot.parser.parse(call.text.data(), call.text.size(), false).get(slot.line);
        bool wake = false;
        {
            const std::lock_guard guard(lock_);
            slot.ready = true;
            parsed_ = n + 1;
            wake = reader_waits_;
        }
        if (wake) {
            changed_.notify_all();
        }
    }
}

element Ahead::next() {
    const std::size_t n = taken_;
    Slot& slot = slots_[n % kSlots];
    bool wake = false;
    {
        std::unique_lock guard(lock_);
        reader_waits_ = true;
        changed_.wait(guard, [&] { return parsed_ > n; });
        reader_waits_ = false;
        slot.ready = false;
        ++taken_;
        wake = worker_waits_;
    }
    if (wake) {
        changed_.notify_all();
    }
    if (slot.error != simdjson::SUCCESS) {
        refuse(journal_.calls()[order_[n]].line, Where{},
               std::string("not JSON: ") + simdjson::error_message(slot.error));
    }
    return slot.line;
}

}  // namespace velkjournal
