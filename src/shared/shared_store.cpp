// SPDX-License-Identifier: MIT
// The shared store behind the seam: namespaces and entries kept in a server
// that several processes and machines reach. Each call is one script run on
// the server (one atomic step for every client of the store); the answer is
// decoded into copies, and the front's sinks run afterwards, with no lock
// held, so a get callback may call into the same handle.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "client/constants.hpp"
#include "client/store.hpp"
#include "shared/codec.hpp"
#include "shared/connection.hpp"
#include "shared/endpoint.hpp"
#include "shared/scripts.hpp"
#include "shared/shared_store.hpp"

// The handle of the shared store: the node table every handle carries, the
// store's key prefix and the connection.
struct velk_client {
    velk_client(std::vector<velkshared::Endpoint> seeds, std::chrono::milliseconds timeout, std::string key_prefix)
        : prefix(std::move(key_prefix)), connection(std::move(seeds), timeout) {}

    std::vector<velk_node_info_t> nodes;
    std::string prefix;
    velkshared::Connection connection;
};

namespace velk {
namespace {

using velkshared::Command;
using velkshared::Reply;
using velkshared::Script;

// The keys a call on namespace `ns` may touch (scripts.hpp).
std::vector<std::string> keys_of(const velk_client& client, std::string_view ns) {
    const std::string name = velkshared::hex(ns);
    return {client.prefix + "ns", client.prefix + "used", client.prefix + "v:" + name,
            client.prefix + "a:" + name};
}
std::vector<std::string> namespace_keys(const velk_client& client) {
    return {client.prefix + "ns", client.prefix + "used"};
}

int unexpected(const char* what) {
    velkshared::set_last_error(std::string("unexpected answer from the server: ") + what);
    return -EPROTO;
}

bool is_array(const redisReply* reply, std::size_t elements) {
    return reply != nullptr && reply->type == REDIS_REPLY_ARRAY && reply->elements == elements;
}
std::string_view text_of(const redisReply* reply) {
    return {reply->str, reply->len};
}

// Calls `sink` on `found` a chunk at a time, as the in-memory store does.
// The sink by reference: a copy here would be a stack object whose redzones
// AddressSanitizer leaves poisoned when a callback's thread exits through
// this frame (it has nothing to clean up, so the unwinding skips it).
int hand_over(std::vector<Found>& found, const ReadSink& sink) {
    for (std::size_t first = 0; first < found.size(); first += kChunk) {
        const std::size_t n = found.size() - first < kChunk ? found.size() - first : kChunk;
        if (const int status = sink(first, n, &found[first]); status != VELK_OK) {
            return status;
        }
    }
    return VELK_OK;
}

NamespaceView view_of(std::string_view name, const velkshared::Settings& settings, long long used) {
    return NamespaceView{name,           settings.capacity, settings.policy,
                         settings.param, kFixedTimeMs,      static_cast<std::uint64_t>(used)};
}

}  // namespace

}  // namespace velk

namespace velkshared {

velk_client* open_client(const char* url, const char* store, std::chrono::milliseconds timeout,
                         std::vector<velk_node_info_t>&& nodes) {
    std::string why;
    const auto settings = settings_from_environment(url, store, timeout, &why);
    auto seeds = settings ? parse_url(settings->url, &why) : std::nullopt;
    if (!seeds) {
        set_last_error(settings ? "the URL " + redacted(settings->url) + ": " + why : why);
        errno = EINVAL;
        return nullptr;
    }
    auto client = std::make_unique<velk_client>(std::move(*seeds), settings->timeout, key_prefix(settings->store));
    client->nodes = std::move(nodes);
    if (const int status = client->connection.open(); status != 0) {
        errno = -status;
        return nullptr;
    }
    return client.release();
}

}  // namespace velkshared

namespace velk {
namespace store {

velk_client* open(std::vector<velk_node_info_t>&& nodes) {
    return velkshared::open_client(nullptr, nullptr, {}, std::move(nodes));
}

void close(velk_client* client) noexcept {
    delete client;
}

int with_nodes(velk_client& client, NodeSink sink) {
    // The table is fixed for the handle's life: nothing to hold.
    return sink(client.nodes.data(), client.nodes.size());
}

PutOutcome put(velk_client& client, std::string_view ns, std::size_t count, PutFill fill, PutDone done) {
    std::vector<PutRecord> records(count);
    for (std::size_t first = 0; first < count; first += kChunk) {
        fill(first, count - first < kChunk ? count - first : kChunk, &records[first]);
    }
    // One transaction: the bookkeeping script (used bytes, the namespace),
    // then the attributes and the values by plain HSETs (scripts.hpp).
    // Each key goes out once, with its last write in the batch: the state
    // the batch leaves is the same, and the script needs no bookkeeping of
    // repeated keys.
    const auto largest = static_cast<unsigned long long>(client.connection.max_argument());
    struct Write {
        std::size_t record;  // the one that writes its key last
        std::size_t length;
    };
    std::vector<Write> last;  // in batch order
    last.reserve(count);
    std::uint64_t total = 0;  // of the new lengths
    {
        std::unordered_set<std::string_view> seen;
        for (std::size_t i = count; i-- > 0;) {
            PutRecord& record = records[i];
            if (!record.valid) {
                continue;
            }
            const std::size_t length = record.value.size();
            if (length > largest || record.key.size() > largest ||
                velkshared::attributes_size(record, length) > largest) {
                // The server would drop the connection over the whole
                // request: this one item has no room, the rest of the batch
                // goes on.
                record.status = VELK_ERR_NO_MEMORY;
                continue;
            }
            record.status = VELK_OK;
            if (seen.insert(record.key).second) {
                last.push_back({i, length});
                total += length;
            }
        }
        std::reverse(last.begin(), last.end());
    }
    const std::vector<std::string> keys = keys_of(client, ns);
    const std::string& script = velkshared::put_script();
    const std::string defaults = velkshared::encode_settings(0, 0.0, kDefaultPolicy);
    const std::string total_text = std::to_string(total);
    std::deque<std::string> storage;  // assembled values and attributes; never moves
    std::vector<Command> commands(3);
    Command& bookkeeping = commands[0];
    Command& attribute_list = commands[1];
    Command& values = commands[2];
    bookkeeping.reserve(9 + last.size());
    attribute_list.reserve(2 + 2 * last.size());
    attribute_list.add("HSET");
    attribute_list.add(keys[3]);
    bookkeeping.add("EVAL");
    bookkeeping.add(script);
    bookkeeping.add("4");
    for (const std::string& key : keys) {
        bookkeeping.add(key);
    }
    bookkeeping.add("put");
    bookkeeping.add(ns);
    bookkeeping.add(defaults);
    bookkeeping.add(total_text);
    values.reserve(2 + 2 * last.size());
    values.add("HSET");
    values.add(keys[2]);
    for (const auto& [i, length] : last) {
        const PutRecord& record = records[i];
        std::string& attributes = storage.emplace_back();
        velkshared::encode_attributes(record, length, attributes);
        bookkeeping.add(record.key);
        attribute_list.add(record.key);
        attribute_list.add(attributes);
        values.add(record.key);
        if (record.value.count == 1) {
            // One part needs no assembling: it goes out from where it lies.
            values.add(std::string_view(static_cast<const char*>(record.value.parts[0]), length));
        } else {
            std::string& value = storage.emplace_back(length, '\0');
            record.value.copy_to(reinterpret_cast<unsigned char*>(value.data()));
            values.add(value);
        }
    }
    if (last.empty()) {
        commands.resize(1);  // nothing to store; the namespace is still made
    }
    Reply reply;
    if (const int status = client.connection.transaction(commands, reply); status != 0) {
        return {0, status};
    }
    for (std::size_t first = 0; first < count; first += kChunk) {
        done(first, count - first < kChunk ? count - first : kChunk, &records[first]);
    }
    return {count, VELK_OK};
}

int read(velk_client& client, std::string_view ns, KeyList keys, unsigned wants, ReadSink sink) {
    const bool query = (wants & kReadValues) == 0;
    const bool metadata = query || (wants & kReadMetadata) != 0;
    std::vector<Found> found(keys.size(), Found{nullptr, 0, nullptr, 0, 0, 0, false});
    // A get is one HMGET of the values, or, when a filter needs the
    // metadata, that and one of the attributes in a transaction; a query
    // is one HMGET of the attributes, which carry the value's length.
    const std::vector<std::string> names = keys_of(client, ns);
    std::vector<Command> commands(query || !metadata ? 1 : 2);
    commands[0].add("HMGET");
    commands[0].add(names[query ? 3 : 2]);
    if (commands.size() == 2) {
        commands[1].add("HMGET");
        commands[1].add(names[3]);
    }
    // The items with a key the server could hold: one longer than it takes
    // as an argument was never stored, and asking for it would cost the
    // connection.
    const auto largest = static_cast<std::size_t>(client.connection.max_argument());
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] != nullptr && std::strlen(keys[i]) <= largest) {
            for (Command& command : commands) {
                command.add(keys[i]);
            }
            asked.push_back(i);
        }
    }
    if (asked.empty()) {
        return hand_over(found, sink);  // nothing to look up
    }
    Reply reply;
    const int status = commands.size() == 1 ? client.connection.command(commands[0], reply)
                                            : client.connection.transaction(commands, reply);
    if (status != 0) {
        return status;
    }
    const redisReply* present = commands.size() == 1 ? reply.get() : reply->element[0];
    const redisReply* extra = commands.size() == 1 ? nullptr : reply->element[1];
    if (!is_array(present, asked.size()) || (extra != nullptr && !is_array(extra, asked.size()))) {
        return unexpected("read");
    }
    std::vector<velkshared::Attributes> attributes(metadata ? asked.size() : 0);
    for (std::size_t j = 0; j < asked.size(); ++j) {
        const redisReply* first = present->element[j];
        if (first->type != REDIS_REPLY_STRING) {
            continue;  // not stored
        }
        Found& entry = found[asked[j]];
        entry.present = true;
        entry.replica_count = 1;
        const redisReply* attribute_bytes = query ? first : (extra != nullptr ? extra->element[j] : nullptr);
        if (attribute_bytes != nullptr) {
            if (attribute_bytes->type != REDIS_REPLY_STRING ||
                !velkshared::decode_attributes(text_of(attribute_bytes), attributes[j])) {
                return unexpected("entry attributes");
            }
            entry.tag = attributes[j].tag;
            entry.replica_count = attributes[j].replica_count;
            entry.metadata = attributes[j].metadata.data();
            entry.metadata_count = attributes[j].metadata.size();
        }
        if (query) {
            entry.length = static_cast<std::size_t>(attributes[j].length);
        } else {
            // An empty value is lent as a null pointer, as the in-memory
            // store lends it.
            entry.value = first->len != 0 ? reinterpret_cast<const unsigned char*>(first->str) : nullptr;
            entry.length = first->len;
        }
    }
    // The values stay in `reply` until every sink has run.
    return hand_over(found, sink);
}

int erase(velk_client& client, std::string_view ns, KeyList keys, EraseSink sink) {
    std::vector<std::size_t> asked;
    Command args;
    args.reserve(2 + keys.size());
    args.add("del");
    args.add(ns);
    // A key longer than the server takes was never stored (see read()).
    const auto largest = static_cast<std::size_t>(client.connection.max_argument());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] != nullptr && std::strlen(keys[i]) <= largest) {
            args.add(keys[i]);
            asked.push_back(i);
        }
    }
    auto removed = std::make_unique<bool[]>(keys.size());  // all false
    if (!asked.empty()) {
        Reply reply;
        if (const int status = client.connection.run(Script::Write, keys_of(client, ns), args, reply);
            status != 0) {
            return status;
        }
        if (reply->type == REDIS_REPLY_INTEGER && reply->integer == -1) {
            return VELK_ERR_NAMESPACE_NOT_FOUND;
        }
        if (!is_array(reply.get(), asked.size())) {
            return unexpected("delete");
        }
        for (std::size_t j = 0; j < asked.size(); ++j) {
            removed[asked[j]] =
                reply->element[j]->type == REDIS_REPLY_INTEGER && reply->element[j]->integer == 1;
        }
    }
    for (std::size_t first = 0; first < keys.size(); first += kChunk) {
        sink(first, keys.size() - first < kChunk ? keys.size() - first : kChunk, &removed[first]);
    }
    return VELK_OK;
}

namespace {

// A namespace call whose answer is one integer code.
int run_for_code(velk_client& client, std::string_view ns, Command& args) {
    Reply reply;
    if (const int status = client.connection.run(Script::Write, keys_of(client, ns), args, reply);
        status != 0) {
        return status;
    }
    if (reply->type != REDIS_REPLY_INTEGER) {
        return unexpected("namespace call");
    }
    return static_cast<int>(reply->integer);
}

}  // namespace

int create_namespace(velk_client& client, std::string_view ns, const NamespaceSettings& settings) {
    const std::string encoded =
        velkshared::encode_settings(settings.capacity_bytes, settings.policy_param, settings.eviction_policy);
    Command args;
    args.add("create");
    args.add(ns);
    args.add(encoded);
    return run_for_code(client, ns, args);
}

int update_namespace(velk_client& client, std::string_view ns, const NamespaceUpdate* update) {
    Command args;
    args.add("update");
    args.add(ns);
    std::string head;
    if (update != nullptr) {
        head = velkshared::encode_settings_head(update->capacity_bytes, update->policy_param);
        args.add(head);
        args.add(update->eviction_policy != nullptr ? "1" : "0");
        args.add(update->eviction_policy != nullptr ? std::string_view(update->eviction_policy) : "");
    }
    return run_for_code(client, ns, args);
}

int delete_namespace(velk_client& client, std::string_view ns) {
    Command args;
    args.add("drop");
    args.add(ns);
    return run_for_code(client, ns, args);
}

int describe_namespace(velk_client& client, std::string_view ns, DescribeSink sink) {
    Command args;
    args.add("describe");
    args.add(ns);
    Reply reply;
    if (const int status = client.connection.run(Script::Read, namespace_keys(client), args, reply);
        status != 0) {
        return status;
    }
    if (reply->type == REDIS_REPLY_INTEGER) {
        return reply->integer == VELK_ERR_NAMESPACE_NOT_FOUND ? VELK_ERR_NAMESPACE_NOT_FOUND
                                                              : unexpected("describe");
    }
    velkshared::Settings settings;
    if (!is_array(reply.get(), 2) || reply->element[0]->type != REDIS_REPLY_STRING ||
        reply->element[1]->type != REDIS_REPLY_INTEGER ||
        !velkshared::decode_settings(text_of(reply->element[0]), settings)) {
        return unexpected("describe");
    }
    sink(view_of(ns, settings, reply->element[1]->integer));
    return VELK_OK;
}

int list_namespaces(velk_client& client, std::size_t limit, CountSink total, DescribeSink each) {
    const std::string limit_text = std::to_string(limit);
    Command args;
    args.add("list");
    args.add(limit_text);
    Reply reply;
    if (const int status = client.connection.run(Script::Read, namespace_keys(client), args, reply);
        status != 0) {
        return status;
    }
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements < 1 || reply->elements % 3 != 1 ||
        reply->element[0]->type != REDIS_REPLY_INTEGER) {
        return unexpected("list");
    }
    // Checked whole before anything is handed over: a failed call writes
    // no record.
    std::vector<velkshared::Settings> settings(reply->elements / 3);
    for (std::size_t i = 0; i < settings.size(); ++i) {
        const redisReply* const* row = &reply->element[1 + 3 * i];
        if (row[0]->type != REDIS_REPLY_STRING || row[1]->type != REDIS_REPLY_STRING ||
            row[2]->type != REDIS_REPLY_INTEGER ||
            !velkshared::decode_settings(text_of(row[1]), settings[i])) {
            return unexpected("list");
        }
    }
    total(static_cast<std::size_t>(reply->element[0]->integer));
    for (std::size_t i = 0; i < settings.size(); ++i) {
        const redisReply* const* row = &reply->element[1 + 3 * i];
        each(view_of(text_of(row[0]), settings[i], row[2]->integer));
    }
    return static_cast<int>(settings.size());
}

}  // namespace store
}  // namespace velk
