// SPDX-License-Identifier: MIT
// Small helpers shared by the black-box tests: they use the library only
// through its public header, as a user's program would.
#pragma once

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "velkmock.h"

namespace velk_test {

struct ClientDeleter {
    void operator()(velk_client* client) const { velk_client_destroy(client); }
};
using Client = std::unique_ptr<velk_client, ClientDeleter>;

inline Client make_client() {
    static const int config = 0;
    return Client(velk_client_create(&config));
}

using Meta = std::vector<std::pair<std::string, std::string>>;

// Owns everything one put item points at.
struct PutSpec {
    PutSpec(std::string k, std::string v, Meta m = {}, uint32_t t = 0, int32_t replicas = 0)
        : key(std::move(k)), value(std::move(v)), meta(std::move(m)), tag(t), replica_count(replicas) {}
    std::string key;
    std::string value;
    Meta meta;
    uint32_t tag;
    int32_t replica_count;
};

struct PutBatch {
    std::vector<PutSpec> planned;
    std::vector<velk_put_item_t> items;
    std::vector<const void*> parts;
    std::vector<size_t> lens;
    std::vector<std::vector<velk_meta_pair_t>> pairs;

    explicit PutBatch(std::vector<PutSpec> batch) : planned(std::move(batch)) {
        parts.resize(planned.size());
        lens.resize(planned.size());
        pairs.resize(planned.size());
        for (size_t i = 0; i < planned.size(); ++i) {
            const PutSpec& item_spec = planned[i];
            parts[i] = item_spec.value.data();
            lens[i] = item_spec.value.size();
            for (const auto& [k, v] : item_spec.meta) {
                pairs[i].push_back({k.c_str(), v.c_str()});
            }
            velk_put_item_t item{};
            item.key = item_spec.key.c_str();
            item.value_parts = &parts[i];
            item.value_part_lens = &lens[i];
            item.value_part_count = 1;
            item.tag = item_spec.tag;
            item.replica_count = item_spec.replica_count;
            item.metadata = pairs[i].empty() ? nullptr : pairs[i].data();
            item.metadata_count = static_cast<int32_t>(pairs[i].size());
            items.push_back(item);
        }
    }
    int count() const { return static_cast<int>(items.size()); }
};

// Puts the batch and expects every item to be stored.
inline int put(velk_client* client, const char* ns, std::vector<PutSpec> planned,
               std::vector<velk_put_result_t>* results_out = nullptr) {
    PutBatch batch(std::move(planned));
    std::vector<velk_put_result_t> results(batch.items.size());
    const int rc =
        velk_batch_put(client, ns, batch.items.data(), batch.count(), results.data(), batch.count(), nullptr);
    if (results_out != nullptr) {
        *results_out = std::move(results);
    }
    return rc;
}

inline int put_one(velk_client* client, const char* ns, const std::string& key, const std::string& value) {
    return put(client, ns, {PutSpec{key, value, {}, 0, 0}});
}

// Reads one value through get-into; nullopt when nothing is reported
// (an empty stored value reads as "").
inline std::optional<std::string> get_value(velk_client* client, const char* ns, const char* key) {
    velk_get_item_t item{};
    item.key = key;
    std::string buffer(1 << 16, '\0');
    void* buffers[] = {buffer.data()};
    uint64_t sizes[] = {buffer.size()};
    int32_t status = -1;
    uint64_t length = 0;
    if (velk_batch_get_into(client, ns, &item, 1, buffers, sizes, &status, &length, nullptr) != 0) {
        return std::nullopt;
    }
    if (status < 0) {
        return std::nullopt;
    }
    if (status == 0) {
        // Empty value and missing key look alike; tell them apart by query.
        velk_query_result_t result{};
        const char* keys[] = {key};
        if (velk_batch_query(client, ns, keys, 1, nullptr, &result, 1) != 1) {
            return std::nullopt;
        }
        const bool found = std::strcmp(result.status, "ok") == 0;
        velk_query_result_free(&result, 1);
        return found ? std::optional<std::string>("") : std::nullopt;
    }
    return buffer.substr(0, length);
}

inline bool all_zero(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// A text field as the library wrote it: the text before its NUL, marked if
// the field has no NUL or has anything but zero bytes after it. Compared
// with EXPECT_EQ, a failure shows both texts.
inline std::string field_text(const char* field, size_t width) {
    const void* nul = std::memchr(field, 0, width);
    if (nul == nullptr) {
        return std::string(field, width) + "<no NUL>";
    }
    const size_t length = static_cast<size_t>(static_cast<const char*>(nul) - field);
    std::string text(field, length);
    if (!all_zero(field + length, width - length)) {
        text += "<non-zero bytes after the NUL>";
    }
    return text;
}

}  // namespace velk_test
