// SPDX-License-Identifier: MIT
#include "client/text.hpp"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "client/constants.hpp"

namespace velk {

void copy_string(char* destination, std::size_t capacity, std::string_view source) noexcept {
    if (destination == nullptr || capacity == 0) {
        return;
    }
    const std::size_t length = source.size() < capacity - 1 ? source.size() : capacity - 1;
    if (length != 0) {  // an empty view may carry a null pointer
        std::memcpy(destination, source.data(), length);
    }
    std::memset(destination + length, 0, capacity - length);
}

void copy_string(char* destination, std::size_t capacity, const char* source) noexcept {
    if (destination == nullptr || capacity == 0) {
        return;
    }
    // Only the part that can fit is measured: a text may be very long.
    const std::size_t length = source != nullptr ? strnlen(source, capacity - 1) : 0;
    copy_string(destination, capacity, std::string_view(source != nullptr ? source : "", length));
}

char* duplicate_string(const char* source) noexcept {
    return duplicate_string(std::string_view(source));
}

char* duplicate_string(std::string_view source) noexcept {
    // malloc, not new: the copy is handed to a C caller who releases it with
    // free() through velk_query_result_free.
    auto* copy = static_cast<char*>(std::malloc(source.size() + 1));
    if (copy == nullptr) {
        return nullptr;
    }
    std::memcpy(copy, source.data(), source.size());
    copy[source.size()] = '\0';
    return copy;
}

int saturating_get_status(std::size_t length) noexcept {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

LocationWriter::LocationWriter(std::string_view ns) noexcept {
    constexpr std::size_t kLimit = kWidth - 1;
    // Copied from zeros rather than cleared: compilers emit wide moves for a
    // fixed-size copy but `rep stos` for this clear, which costs more than
    // the copy does.
    static constexpr char kZeros[kWidth] = {};
    std::memcpy(head_, kZeros, kWidth);
    // The prefix has a fixed length (an inlined copy), and a namespace that
    // fits, the usual case, needs no cutting.
    std::memcpy(head_, kLocationPrefix.data(), kLocationPrefix.size());
    std::size_t used = kLocationPrefix.size();
    if (ns.size() < kLimit - used) {
        std::memcpy(head_ + used, ns.data(), ns.size());
        used += ns.size();
        head_[used++] = '/';
    } else {
        const std::size_t take = kLimit - used;
        std::memcpy(head_ + used, ns.data(), take);
        used += take;
    }
    head_length_ = used;
}

}  // namespace velk
