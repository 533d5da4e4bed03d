// SPDX-License-Identifier: MIT
// velkshared-ctl's commands that change a store: put and del through the
// library's own calls (the entry, its used bytes and its namespace are then
// exactly what a program's put would leave), and clear.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shared/admin.hpp"
#include "shared_ctl/ctl.hpp"
#include "shared_ctl/texts.hpp"
#include "velkshared.h"

namespace velkctl {
namespace {

struct Destroy {
    void operator()(velk_client* client) const noexcept { velk_client_destroy(client); }
};
using Handle = std::unique_ptr<velk_client, Destroy>;

Handle open(const Place& place) {
    velkshared_options_t options{};
    options.url = place.settings->url.c_str();
    options.store = place.settings->store.c_str();
    options.timeout_ms = place.settings->timeout.count();
    Handle client(velkshared_client_create(&options));
    if (!client) {
        fail_at(errno == EPROTO ? -EPROTO : -ENOTCONN, place.url, velkshared_last_error());
    }
    return client;
}

// The whole of a file, or of standard input for "-".
bool read_file(const std::string& name, std::string& out) {
    FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) != 0) {
        out.append(buffer, n);
    }
    const bool failed = std::ferror(file) != 0;
    if (file != stdin) {
        std::fclose(file);
    }
    return !failed;
}

std::string in(const Place& place, const std::string& ns) {
    return "namespace " + quoted(ns) + " of store " + quoted(place.store) + " at " + place.url;
}

}  // namespace

int put(const Place& place, const Options& options) {
    const std::string& ns = options.words[0];
    const std::string& key = options.words[1];
    std::string value;
    if (!options.file) {
        value = options.words[2];
    } else if (errno = 0; !read_file(*options.file, value)) {
        std::fprintf(stderr, "velkshared-ctl: cannot read %s: %s\n", quoted(*options.file).c_str(),
                     std::strerror(errno != 0 ? errno : EIO));
        return kUnreachable;
    }
    const Handle client = open(place);
    std::vector<velk_meta_pair_t> metadata;
    for (const auto& [meta_key, meta_value] : options.metadata) {
        metadata.push_back({meta_key.c_str(), meta_value.c_str()});
    }
    const void* part = value.data();
    const std::size_t length = value.size();
    velk_put_item_t item{};
    item.key = key.c_str();
    item.value_parts = &part;
    item.value_part_lens = &length;
    item.value_part_count = 1;
    item.metadata = metadata.data();
    item.metadata_count = static_cast<int32_t>(metadata.size());
    velk_put_result_t result{};
    if (const int32_t status = velk_batch_put(client.get(), ns.c_str(), &item, 1, &result, 1, nullptr);
        status != VELK_OK && status != VELK_ERR_NO_MEMORY) {
        fail_at(status, place.url, velkshared_last_error());
    }
    const std::string what =
        "key " + quoted(key) + " (" + counted(static_cast<long long>(length), "byte", "bytes");
    if (result.status != VELK_OK) {
        std::fprintf(stderr, "velkshared-ctl: no room for %s) in %s\n", what.c_str(), in(place, ns).c_str());
        return kUnreachable;
    }
    std::printf("stored %s) in %s\n", what.c_str(), in(place, ns).c_str());
    return kOk;
}

int del(const Place& place, const Options& options) {
    const std::string& ns = options.words[0];
    const Handle client = open(place);
    velk_namespace_info_t info{};
    if (const int status = velk_get_namespace(client.get(), ns.c_str(), &info);
        status == VELK_ERR_NAMESPACE_NOT_FOUND) {
        return no_namespace(place, ns);
    } else if (status != VELK_OK) {
        fail_at(status, place.url, velkshared_last_error());
    }
    std::vector<velk_delete_item_t> items;
    for (std::size_t i = 1; i < options.words.size(); ++i) {
        items.push_back({options.words[i].c_str(), 0, 0});
    }
    std::vector<velk_delete_result_t> results(items.size());
    const auto count = static_cast<int32_t>(items.size());
    if (const int32_t status = velk_batch_delete_items(client.get(), ns.c_str(), items.data(), count,
                                                       results.data(), count, nullptr);
        status != VELK_OK) {
        fail_at(status, place.url, velkshared_last_error());
    }
    long long deleted = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (results[i].status == VELK_OK) {
            ++deleted;
        } else {
            no_key(place, ns, items[i].key);
        }
    }
    std::printf("deleted %s from %s\n", counted(deleted, "key", "keys").c_str(), in(place, ns).c_str());
    return deleted == count ? kOk : kUnreachable;
}

int clear(velkshared::Connection& connection, const Place& place) {
    if (const int status = velkshared::clear_store(connection, place.prefix); status != 0) {
        std::fprintf(stderr, "velkshared-ctl: cannot clear store %s at %s: %s\n", quoted(place.store).c_str(),
                     place.url.c_str(), velkshared::last_error());
        return kUnreachable;
    }
    std::printf("cleared store %s at %s\n", quoted(place.store).c_str(), place.url.c_str());
    return kOk;
}

}  // namespace velkctl
