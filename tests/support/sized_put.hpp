// SPDX-License-Identifier: MIT
// A put of values of given sizes (their bytes do not matter), through
// either family of calls: velk_batch_put on a namespace, or
// velk_ll_batch_put. The statuses of its items, and the call's answer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "velkmock.h"

namespace velk_test {

using SizedItems = std::vector<std::pair<std::string, std::uint64_t>>;

inline std::int32_t put_sized(velk_client* client, const char* ns_or_low_level, const SizedItems& items,
                              std::vector<std::int32_t>& statuses) {
    std::vector<std::string> values;
    for (const auto& item : items) {
        values.emplace_back(item.second, 'v');
    }
    std::vector<const void*> parts;
    std::vector<std::uint64_t> wide;
    std::vector<size_t> lens;
    for (const std::string& value : values) {
        parts.push_back(value.data());
        wide.push_back(value.size());
        lens.push_back(value.size());
    }
    const auto n = static_cast<std::int32_t>(items.size());
    std::vector<velk_put_result_t> results(items.size());
    std::int32_t rc = 0;
    if (ns_or_low_level == nullptr) {
        std::vector<velk_ll_put_item_t> put(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            put[i] = {items[i].first.c_str(), &parts[i], &wide[i], 1};
        }
        rc = velk_ll_batch_put(client, put.data(), n, results.data(), n, nullptr, nullptr);
    } else {
        std::vector<velk_put_item_t> put(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            put[i].key = items[i].first.c_str();
            put[i].value_parts = &parts[i];
            put[i].value_part_lens = &lens[i];
            put[i].value_part_count = 1;
        }
        rc = velk_batch_put(client, ns_or_low_level, put.data(), n, results.data(), n, nullptr);
    }
    statuses.clear();
    for (const velk_put_result_t& result : results) {
        statuses.push_back(result.status);
    }
    return rc;
}

}  // namespace velk_test
