// SPDX-License-Identifier: MIT
// The shared store behind the seam: namespaces and entries kept in a server
// that several processes and machines reach. Each call is one atomic step
// on the server for every client of the store (a command, a script or a
// transaction: scripts.hpp); the answer is decoded into copies, and the
// front's sinks run afterwards, with no lock held, so a get callback may
// call into the same handle. A batch of up to a chunk allocates nothing of
// its own: its arrays live on the stack, its request in the connection.
#include <pthread.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "client/constants.hpp"
#include "client/store.hpp"
#include "shared/codec.hpp"
#include "shared/connection.hpp"
#include "shared/endpoint.hpp"
#include "shared/scripts.hpp"
#include "shared/shared_store.hpp"

namespace velk {
namespace {

// The names on the server of one namespace's keys (scripts.hpp).
struct Names {
    std::string ns;
    std::string spaces;
    std::string used;
    std::string values;
    std::string attrs;
};

}  // namespace
}  // namespace velk

namespace velk {
namespace {

// Every handle of the process, for fork(): a child may be made while a
// thread of the parent is inside a call on a handle, whose lock the child
// would then find held by a thread it does not have. The child resets each
// handle before anything else runs there (pthread_atfork).
std::mutex handles_lock;
velk_client* handles = nullptr;

}  // namespace
}  // namespace velk

// The handle of the shared store: the node table every handle carries, the
// store's key prefix and the connection.
struct velk_client {
    velk_client(std::vector<velkshared::Endpoint> seeds, std::chrono::milliseconds timeout, int replicas,
                std::string key_prefix)
        : prefix(std::move(key_prefix)), connection(std::move(seeds), timeout, replicas) {
        const std::lock_guard guard(velk::handles_lock);
        next = velk::handles;
        if (next != nullptr) {
            next->previous = this;
        }
        velk::handles = this;
    }
    ~velk_client() {
        const std::lock_guard guard(velk::handles_lock);
        (previous != nullptr ? previous->next : velk::handles) = next;
        if (next != nullptr) {
            next->previous = previous;
        }
    }
    velk_client(const velk_client&) = delete;
    velk_client& operator=(const velk_client&) = delete;

    // The names of the namespace of the last call, kept (the calls of a test
    // use a few namespaces): a call then builds no name. With the
    // connection's lock held, as `scratch` is.
    const velk::Names& names_of(std::string_view ns) {
        if (names.spaces.empty() || names.ns != ns) {
            const std::string name = velkshared::hex(ns);
            names = velk::Names{std::string(ns), prefix + "ns", prefix + "used", prefix + "v:" + name,
                                prefix + "a:" + name};
        }
        return names;
    }

    // In a child after fork(): what a call of the parent may have left half
    // changed is let go, unfreed (see Connection::forget_after_fork).
    void forget_after_fork() noexcept {
        new (&names) velk::Names();
        new (&scratch) std::string();
        connection.forget_after_fork();
    }

    std::vector<velk_node_info_t> nodes;
    std::string prefix;
    velkshared::Connection connection;
    velk::Names names;
    std::string scratch;              // a put's attributes, one at a time
    velk_client* previous = nullptr;  // in the list of handles
    velk_client* next = nullptr;
};

namespace velk {
namespace {

void before_fork() {
    handles_lock.lock();
}
void after_fork_in_parent() {
    handles_lock.unlock();
}
void after_fork_in_child() {
    const velkshared::KeepErrno kept;
    for (velk_client* client = handles; client != nullptr; client = client->next) {
        client->forget_after_fork();
    }
    handles_lock.unlock();  // taken by this thread before the fork
}
[[maybe_unused]] const int fork_handlers =
    pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);

}  // namespace
}  // namespace velk

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

// The answers of a transaction of `commands` commands (EXEC's). The server
// runs every queued command whatever another one answers, so each answer is
// looked at: one that is an error fails the call, with its text.
int transaction_failed(const redisReply* answers, std::size_t commands, const char* what) {
    if (!is_array(answers, commands)) {
        return unexpected(what);
    }
    for (std::size_t i = 0; i < commands; ++i) {
        if (answers->element[i]->type == REDIS_REPLY_ERROR) {
            velkshared::set_last_error("the server failed a command of the ", what,
                                       " (its other commands ran): ", text_of(answers->element[i]));
            return -EPROTO;
        }
    }
    return 0;
}

// Calls `sink` on `found` a chunk at a time, as the in-memory store does.
// The sink by reference: a copy here would be a stack object whose redzones
// AddressSanitizer leaves poisoned when a callback's thread exits through
// this frame (it has nothing to clean up, so the unwinding skips it).
int hand_over(Found* found, std::size_t count, const ReadSink& sink) {
    for (std::size_t first = 0; first < count; first += kChunk) {
        const std::size_t n = count - first < kChunk ? count - first : kChunk;
        if (const int status = sink(first, n, &found[first]); status != VELK_OK) {
            return status;
        }
    }
    return VELK_OK;
}

// The temporary arrays of a call: on the stack for a batch of up to a
// chunk (no allocation), on the heap beyond.
template <class T>
class Scratch {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    explicit Scratch(std::size_t count)
        : data_(count <= kChunk ? local_ : (heap_ = std::make_unique<T[]>(count)).get()) {}
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    T* data() noexcept { return data_; }

private:
    T local_[kChunk];
    std::unique_ptr<T[]> heap_;
    T* data_;
};

// Put records, which the front's fill constructs in raw storage.
class Records {
public:
    explicit Records(std::size_t count)
        : data_(reinterpret_cast<PutRecord*>(
              count <= kChunk
                  ? local_
                  : (heap_ = std::make_unique<unsigned char[]>(count * sizeof(PutRecord))).get())) {}
    PutRecord& operator[](std::size_t i) noexcept { return data_[i]; }

private:
    static_assert(std::is_trivially_destructible_v<PutRecord>);
    alignas(PutRecord) unsigned char local_[kChunk * sizeof(PutRecord)];
    std::unique_ptr<unsigned char[]> heap_;
    PutRecord* data_;
};

// The decoded attributes of a read's entries.
class AttributesList {
public:
    explicit AttributesList(std::size_t count) {
        if (count > kChunk) {
            heap_.resize(count);
        }
    }
    velkshared::Attributes& operator[](std::size_t i) { return heap_.empty() ? local_[i] : heap_[i]; }

private:
    std::array<velkshared::Attributes, kChunk> local_;
    std::vector<velkshared::Attributes> heap_;
};

// The keys of a batch seen so far: open addressing over a power of two at
// least twice the count, on the stack for a chunk.
class KeySet {
public:
    explicit KeySet(std::size_t count) {
        std::size_t size = 2 * kChunk;
        while (size < 2 * count) {
            size *= 2;
        }
        if (size > 2 * kChunk) {
            heap_.resize(size);
        }
        slots_ = heap_.empty() ? local_ : heap_.data();
        mask_ = size - 1;
    }
    // True for a key not seen before.
    bool insert(std::string_view key) {
        for (std::size_t i = std::hash<std::string_view>{}(key)&mask_;; i = (i + 1) & mask_) {
            if (slots_[i].data() == nullptr) {
                slots_[i] = key.data() != nullptr ? key : std::string_view("");
                return true;
            }
            if (slots_[i] == key) {
                return false;
            }
        }
    }

private:
    std::string_view local_[2 * kChunk];
    std::vector<std::string_view> heap_;
    std::string_view* slots_;
    std::size_t mask_;
};

// The settings a put gives a namespace it makes.
const std::string& default_settings() {
    static const std::string settings = velkshared::encode_settings(0, 0.0, kDefaultPolicy);
    return settings;
}

NamespaceView view_of(std::string_view name, const velkshared::Settings& settings, long long used) {
    return NamespaceView{name,           settings.capacity, settings.policy,
                         settings.param, kFixedTimeMs,      static_cast<std::uint64_t>(used)};
}

// A write is one transaction (when it writes anything): its bookkeeping
// script first, which checks and counts before the plain hash commands
// that follow it. Begins the script's command up to the namespace;
// `more` arguments follow.
void begin_bookkeeping(velkshared::Request& request, const Names& names, std::string_view script,
                       std::string_view ns, bool writes, std::size_t more) {
    if (writes) {
        request.command({"MULTI"});
    }
    request.begin(7 + more);
    request.add("EVAL");
    request.add(script);
    request.add("3");
    request.add(names.spaces);
    request.add(names.used);
    request.add(names.attrs);
    request.add(ns);
}

}  // namespace

}  // namespace velk

namespace velkshared {

velk_client* open_client(const char* url, const char* store, std::chrono::milliseconds timeout, int replicas,
                         std::vector<velk_node_info_t>&& nodes) {
    std::string why;
    const auto settings = settings_from_environment(url, store, timeout, &why);
    auto seeds = settings ? parse_url(settings->url, &why) : std::nullopt;
    if (!seeds) {
        set_last_error(settings ? "the URL " + redacted(settings->url) + ": " + why : why);
        errno = EINVAL;
        return nullptr;
    }
    auto client = std::make_unique<velk_client>(std::move(*seeds), settings->timeout,
                                                replicas > 0 ? replicas : settings->replicas,
                                                key_prefix(settings->store));
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
    return velkshared::open_client(nullptr, nullptr, {}, 0, std::move(nodes));
}

void close(velk_client* client) noexcept {
    const velkshared::KeepErrno kept;
    delete client;
}

int with_nodes(velk_client& client, NodeSink sink) {
    // The table is fixed for the handle's life: nothing to hold.
    return sink(client.nodes.data(), client.nodes.size());
}

PutOutcome put(velk_client& client, std::string_view ns, std::size_t count, PutFill fill, PutDone done) {
    Records records(count);
    for (std::size_t first = 0; first < count; first += kChunk) {
        fill(first, count - first < kChunk ? count - first : kChunk, &records[first]);
    }
    // Each key goes out once, with its last write in the batch: the state
    // the batch leaves is the same, and the server's bookkeeping needs no
    // care for repeated keys.
    const auto largest = static_cast<std::size_t>(client.connection.max_argument());
    Scratch<std::uint32_t> stored(count);  // the records that write their key last, from the end
    std::size_t n = 0;
    std::uint64_t total = 0;  // of the new lengths
    {
        KeySet seen(count);
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
            if (seen.insert(record.key)) {
                stored[n++] = static_cast<std::uint32_t>(i);
                total += length;
            }
        }
    }
    char total_text[24];
    const std::string_view total_digits(
        total_text, static_cast<std::size_t>(
                        std::to_chars(total_text, total_text + sizeof total_text, total).ptr - total_text));
    Reply reply;
    const int status = client.connection.call(
        [&](velkshared::Request& request) {
            const Names& names = client.names_of(ns);
            // The script, then the values and the attributes by plain
            // HSETs (scripts.hpp).
            begin_bookkeeping(request, names, velkshared::kPutScript, ns, n != 0, 2 + n);
            request.add(default_settings());
            request.add(total_digits);
            for (std::size_t j = n; j-- > 0;) {
                request.add(records[stored[j]].key);
            }
            if (n == 0) {
                return;  // nothing to store; the namespace is still made
            }
            request.begin(4 + 2 * n);
            request.add("HSET");
            request.add(names.values);
            request.add(velkshared::kTableField);
            request.add(velkshared::kTableValue);
            for (std::size_t j = n; j-- > 0;) {
                const PutRecord& record = records[stored[j]];
                request.add(record.key);
                // The value goes out from where its parts lie.
                request.begin_argument(record.value.size());
                for (std::int32_t part = 0; part < record.value.count; ++part) {
                    if (record.value.lens[part] != 0) {
                        request.append(std::string_view(static_cast<const char*>(record.value.parts[part]),
                                                        record.value.lens[part]));
                    }
                }
                request.end_argument();
            }
            request.begin(4 + 2 * n);
            request.add("HSET");
            request.add(names.attrs);
            request.add(velkshared::kTableField);
            request.add(velkshared::kTableValue);
            std::string& attributes = client.scratch;
            for (std::size_t j = n; j-- > 0;) {
                const PutRecord& record = records[stored[j]];
                request.add(record.key);
                attributes.clear();
                velkshared::encode_attributes(record, record.value.size(), attributes);
                request.add_copy(attributes);
            }
            request.command({"EXEC"});
        },
        reply, nullptr, true);
    if (status != 0) {
        return {0, status};
    }
    if (n != 0) {
        if (const int failed = transaction_failed(reply.get(), 3, "put"); failed != 0) {
            return {0, failed};
        }
    }
    for (std::size_t first = 0; first < count; first += kChunk) {
        done(first, count - first < kChunk ? count - first : kChunk, &records[first]);
    }
    return {count, VELK_OK};
}

int read(velk_client& client, std::string_view ns, KeyList keys, unsigned wants, ReadSink sink) {
    const bool query = (wants & kReadValues) == 0;
    const bool metadata = query || (wants & kReadMetadata) != 0;
    const std::size_t count = keys.size();
    Scratch<Found> found(count);
    for (std::size_t i = 0; i < count; ++i) {
        found[i] = Found{nullptr, 0, nullptr, 0, 0, 0, false};
    }
    // A get is one HMGET of the values, or, when a filter needs the
    // metadata, that and one of the attributes in a transaction; a query
    // is one HMGET of the attributes, which carry the value's length. A key
    // longer than the server takes as an argument was never stored, and
    // asking for it would cost the connection.
    const auto largest = static_cast<std::size_t>(client.connection.max_argument());
    Scratch<std::uint32_t> asked(count);
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (keys[i] != nullptr && std::strlen(keys[i]) <= largest) {
            asked[n++] = static_cast<std::uint32_t>(i);
        }
    }
    if (n == 0) {
        return hand_over(found.data(), count, sink);  // nothing to look up
    }
    const bool both = !query && metadata;
    Reply reply;
    const int status = client.connection.call(
        [&](velkshared::Request& request) {
            const Names& names = client.names_of(ns);
            if (both) {
                request.command({"MULTI"});
            }
            for (const std::string* hash :
                 {query ? &names.attrs : &names.values, both ? &names.attrs : nullptr}) {
                if (hash != nullptr) {
                    request.begin(2 + n);
                    request.add("HMGET");
                    request.add(*hash);
                    for (std::size_t j = 0; j < n; ++j) {
                        request.add(keys[asked[j]]);
                    }
                }
            }
            if (both) {
                request.command({"EXEC"});
            }
        },
        reply);
    if (status != 0) {
        return status;
    }
    if (both && !is_array(reply.get(), 2)) {
        return unexpected("read");
    }
    const redisReply* present = both ? reply->element[0] : reply.get();
    const redisReply* extra = both ? reply->element[1] : nullptr;
    if (!is_array(present, n) || (extra != nullptr && !is_array(extra, n))) {
        return unexpected("read");
    }
    AttributesList attributes(metadata ? n : 0);
    for (std::size_t j = 0; j < n; ++j) {
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
    return hand_over(found.data(), count, sink);
}

int erase(velk_client& client, std::string_view ns, KeyList keys, EraseSink sink) {
    // Each key goes out once (its first naming removes it); a key longer
    // than the server takes was never stored (see read()).
    const std::size_t count = keys.size();
    const auto largest = static_cast<std::size_t>(client.connection.max_argument());
    Scratch<std::uint32_t> asked(count);
    std::size_t n = 0;
    {
        KeySet seen(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (keys[i] != nullptr && std::strlen(keys[i]) <= largest && seen.insert(keys[i])) {
                asked[n++] = static_cast<std::uint32_t>(i);
            }
        }
    }
    Reply reply;
    const int status = client.connection.call(
        [&](velkshared::Request& request) {
            const Names& names = client.names_of(ns);
            // The script, then the keys go from the values and the
            // attributes by plain HDELs (scripts.hpp).
            begin_bookkeeping(request, names, velkshared::kDeleteScript, ns, n != 0, n);
            for (std::size_t j = 0; j < n; ++j) {
                request.add(keys[asked[j]]);
            }
            if (n == 0) {
                return;  // the namespace is still looked for
            }
            for (const std::string* hash : {&names.values, &names.attrs}) {
                request.begin(2 + n);
                request.add("HDEL");
                request.add(*hash);
                for (std::size_t j = 0; j < n; ++j) {
                    request.add(keys[asked[j]]);
                }
            }
            request.command({"EXEC"});
        },
        reply, nullptr, n != 0);
    if (status != 0) {
        return status;
    }
    if (n != 0) {
        if (const int failed = transaction_failed(reply.get(), 3, "delete"); failed != 0) {
            return failed;
        }
    }
    const redisReply* answer = n != 0 ? reply->element[0] : reply.get();
    if (answer->type == REDIS_REPLY_INTEGER && answer->integer == -1) {
        return VELK_ERR_NAMESPACE_NOT_FOUND;
    }
    if (answer->type != REDIS_REPLY_STRING || answer->len != n) {
        return unexpected("delete");
    }
    Scratch<bool> removed(count);
    for (std::size_t i = 0; i < count; ++i) {
        removed[i] = false;
    }
    for (std::size_t j = 0; j < n; ++j) {
        removed[asked[j]] = answer->str[j] == '1';
    }
    for (std::size_t first = 0; first < count; first += kChunk) {
        sink(first, count - first < kChunk ? count - first : kChunk, &removed[first]);
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
