// SPDX-License-Identifier: MIT
// velk-replay: makes the calls of a journal again, in the order they began,
// against a library (the mock, the shared store or the real SDK), and
// compares every answer with the journal's: return codes, statuses,
// lengths, value hashes, texts and records, written by the journal's own
// code (journal_calls.hpp) and read back with the same reader.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "faults/journal.hpp"
#include "faults/journal_calls.hpp"
#include "faults/json_reader.hpp"
#include "velkmock.h"

namespace {

using velkfault::journal::Describe;
using velkfault::journal::Json;
using velkfault::json::Value;
namespace journal = velkfault::journal;
namespace vf = velkfault;

constexpr int kSame = 0;
constexpr int kDiverged = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: velk-replay JOURNAL [--lib LIBRARY] [--ignore FIELD,...]\n"
    "\n"
    "Makes the calls of JOURNAL (written with VELKFAULT_JOURNAL and\n"
    "VELKFAULT_JOURNAL_VALUES=full) again, in the order they began, against\n"
    "LIBRARY, and compares every answer with the journal's. LIBRARY: mock (the\n"
    "default, libvelkmock.so.0), shared (libvelkshared.so.0, each handle on a\n"
    "store of its own) or the path of any library with the 28 velk_ functions.\n"
    "--ignore leaves out the members of those names wherever they are (e.g.\n"
    "location,created_at_ms,timestamp_ms,endpoint,node_id); the name order\n"
    "compares lists as lists of the same records in any order.\n"
    "Calls a fault plan answered, and those the library made of itself, are\n"
    "not made again. Exit status: 0 every answer matched, 1 some did not (each\n"
    "divergence on a line: call, function, field, recorded and replayed), 2 the\n"
    "journal or the library could not be used.\n";

// The 28 functions of the library replayed against.
struct Api {
    const char* (*version)();
    const char* (*revision)();
    const char* (*build_time)();
    velk_client* (*client_create)(const void*);
    void (*client_destroy)(velk_client*);
    void (*metrics_ctx_reset)(velk_sdk_metrics_ctx_t*);
    int32_t (*client_get_metrics)(const velk_client*, velk_sdk_metrics_ctx_t*);
    int32_t (*metrics_serialize)(const velk_sdk_metrics_ctx_t*, char*, uint64_t, uint64_t*);
    int32_t (*batch_put)(velk_client*, const char*, const velk_put_item_t*, int32_t, velk_put_result_t*,
                         int32_t, const void*);
    int32_t (*batch_get)(velk_client*, const char*, const velk_get_item_t*, int32_t, velk_get_callback_t,
                         void*, const void*);
    int32_t (*batch_get_into)(velk_client*, const char*, const velk_get_item_t*, int32_t, void* const*,
                              const uint64_t*, int32_t*, uint64_t*, const void*);
    int32_t (*batch_delete_items)(velk_client*, const char*, const velk_delete_item_t*, int32_t,
                                  velk_delete_result_t*, int32_t, const void*);
    int32_t (*batch_delete)(velk_client*, const char*, const char* const*, int32_t, const int32_t*, int32_t*,
                            int32_t, const void*);
    int32_t (*batch_query)(velk_client*, const char*, const char* const*, int32_t,
                           const velk_query_options_t*, velk_query_result_t*, int32_t);
    void (*query_result_free)(velk_query_result_t*, int32_t);
    int (*create_namespace)(velk_client*, const char*, const velk_namespace_options_t*);
    int (*update_namespace)(velk_client*, const char*, const velk_namespace_options_t*);
    int (*delete_namespace)(velk_client*, const char*);
    int (*get_namespace)(velk_client*, const char*, velk_namespace_info_t*);
    int (*list_namespaces)(velk_client*, velk_namespace_info_t*, int, int*);
    int (*get_nodes)(velk_client*, const velk_node_selector_t*, velk_node_info_t*, int);
    velk_client* (*ll_create)(const velk_ll_config_t*);
    void (*ll_client_destroy)(velk_client*);
    int32_t (*ll_batch_put)(velk_client*, const velk_ll_put_item_t*, int32_t, velk_put_result_t*, int32_t,
                            const void*, const void*);
    int32_t (*ll_batch_get)(velk_client*, const char* const*, int32_t, velk_get_callback_t, void*,
                            const void*, const void*);
    int32_t (*ll_batch_get_into)(velk_client*, const char* const*, int32_t, void* const*, const uint64_t*,
                                 int32_t*, uint64_t*, const void*);
    int32_t (*ll_batch_delete)(velk_client*, const char* const*, int32_t, int32_t*, int32_t, const void*,
                               const void*);
    int32_t (*ll_batch_query)(velk_client*, const char* const*, int32_t, velk_query_result_t*, int32_t,
                              const void*);
    // The shared store's, when the library is one: each handle gets a store
    // of its own, as each of the mock's is.
    int (*shared_clear)(const char*, const char*);
};

// Names the library lacks are added to `missing`.
template <class T>
void bind(void* library, const char* name, T& out, std::string& missing) {
    out = reinterpret_cast<T>(dlsym(library, name));
    if (out == nullptr) {
        missing += missing.empty() ? name : std::string(", ") + name;
    }
}

bool load(void* library, Api& api, std::string& missing) {
    bind(library, "velk_version", api.version, missing);
    bind(library, "velk_revision", api.revision, missing);
    bind(library, "velk_build_time", api.build_time, missing);
    bind(library, "velk_client_create", api.client_create, missing);
    bind(library, "velk_client_destroy", api.client_destroy, missing);
    bind(library, "velk_sdk_metrics_ctx_reset", api.metrics_ctx_reset, missing);
    bind(library, "velk_client_get_metrics", api.client_get_metrics, missing);
    bind(library, "velk_sdk_metrics_serialize", api.metrics_serialize, missing);
    bind(library, "velk_batch_put", api.batch_put, missing);
    bind(library, "velk_batch_get", api.batch_get, missing);
    bind(library, "velk_batch_get_into", api.batch_get_into, missing);
    bind(library, "velk_batch_delete_items", api.batch_delete_items, missing);
    bind(library, "velk_batch_delete", api.batch_delete, missing);
    bind(library, "velk_batch_query", api.batch_query, missing);
    bind(library, "velk_query_result_free", api.query_result_free, missing);
    bind(library, "velk_create_namespace", api.create_namespace, missing);
    bind(library, "velk_update_namespace", api.update_namespace, missing);
    bind(library, "velk_delete_namespace", api.delete_namespace, missing);
    bind(library, "velk_get_namespace", api.get_namespace, missing);
    bind(library, "velk_list_namespaces", api.list_namespaces, missing);
    bind(library, "velk_get_nodes", api.get_nodes, missing);
    bind(library, "velk_ll_create", api.ll_create, missing);
    bind(library, "velk_ll_client_destroy", api.ll_client_destroy, missing);
    bind(library, "velk_ll_batch_put", api.ll_batch_put, missing);
    bind(library, "velk_ll_batch_get", api.ll_batch_get, missing);
    bind(library, "velk_ll_batch_get_into", api.ll_batch_get_into, missing);
    bind(library, "velk_ll_batch_delete", api.ll_batch_delete, missing);
    bind(library, "velk_ll_batch_query", api.ll_batch_query, missing);
    api.shared_clear =
        reinterpret_cast<int (*)(const char*, const char*)>(dlsym(library, "velkshared_clear"));
    return missing.empty();
}

// A journal that cannot be replayed: the line says why.
struct Unusable {
    std::string why;
};

// What one call's arguments point at, alive until the call has answered.
class Arena {
public:
    template <class T>
    T* array(std::size_t n) {
        auto block = std::shared_ptr<T[]>(new T[n == 0 ? 1 : n]());
        T* data = block.get();
        blocks_.push_back(std::move(block));
        return data;
    }
    const char* text(const Value* value) {
        if (value == nullptr || value->is_null()) {
            return nullptr;
        }
        texts_.push_back(value->text);
        return texts_.back().c_str();
    }

private:
    std::vector<std::shared_ptr<void>> blocks_;
    std::deque<std::string> texts_;  // a deque: c_str() pointers stay where they are
};

const Value& member(const Value& object, const char* name) {
    static const Value null;
    const Value* found = object.find(name);
    return found != nullptr ? *found : null;
}

bool given(const Value& object, const char* name) {
    return !member(object, name).is_null();
}

long long number(const Value& object, const char* name) {
    return member(object, name).integer();
}

std::string base64_decode(const std::string& text) {
    std::string out;
    unsigned chunk = 0;
    int bits = 0;
    for (const char c : text) {
        const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = std::strchr(digits, c);
        if (c == '=' || at == nullptr || c == '\0') {
            continue;
        }
        chunk = (chunk << 6) | static_cast<unsigned>(at - digits);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((chunk >> bits) & 0xff);
        }
    }
    return out;
}

// A list of pairs ([[key, value], ...]) or NULL.
velk_meta_pair_t* pairs(Arena& arena, const Value& list) {
    if (list.is_null()) {
        return nullptr;
    }
    auto* out = arena.array<velk_meta_pair_t>(list.items.size());
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        out[i].key = arena.text(&list.items[i].items.at(0));
        out[i].value = arena.text(&list.items[i].items.at(1));
    }
    return out;
}

// An array the journal did not read ("given": the library refused the call
// before reading it) comes back as an array of one blank record: any array
// will do, as long as it is one.
const char** keys(Arena& arena, const Value& args) {
    const Value& list = member(args, "keys");
    if (list.is_null()) {
        return nullptr;
    }
    auto** out = arena.array<const char*>(list.items.size());
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        out[i] = arena.text(&list.items[i]);
    }
    return out;
}

// A put item's parts as the journal gave them: the value's bytes split by
// the parts' lengths, a NULL where the caller had one.
template <class Length>
void parts(Arena& arena, const Value& item, const void* const*& out_parts, const Length*& out_lens,
           int32_t& count) {
    count = static_cast<int32_t>(number(item, "part_count"));
    const Value& pointers = member(item, "parts");
    const Value& lens = member(item, "part_lens");
    const Value& value = member(item, "value");
    const std::size_t n = std::max(pointers.items.size(), lens.items.size());
    Length* lengths = nullptr;
    if (!lens.is_null()) {
        lengths = arena.array<Length>(n);
        for (std::size_t i = 0; i < lens.items.size(); ++i) {
            lengths[i] = static_cast<Length>(lens.items[i].unsigned_integer());
        }
    }
    out_lens = lengths;
    out_parts = nullptr;
    if (pointers.is_null()) {
        return;
    }
    std::string bytes;
    if (!value.is_null() && member(value, "length").unsigned_integer() != 0) {
        const Value* base64 = value.find("base64");
        if (base64 == nullptr) {
            throw Unusable{
                "the journal holds no value bytes (it was written with VELKFAULT_JOURNAL_VALUES="
                "hash or none): record it again with VELKFAULT_JOURNAL_VALUES=full"};
        }
        bytes = base64_decode(base64->text);
    }
    auto* block = arena.array<char>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), block);
    auto** list = arena.array<const void*>(n);
    std::size_t at = 0;
    for (std::size_t i = 0; i < pointers.items.size(); ++i) {
        if (!pointers.items[i].boolean) {
            continue;  // the caller's NULL
        }
        list[i] = block + std::min(at, bytes.size());
        at += lengths != nullptr ? static_cast<std::size_t>(lengths[i]) : 0;
    }
    out_parts = list;
}

velk_get_item_t* get_items(Arena& arena, const Value& args) {
    const Value& list = member(args, "items");
    if (list.is_null()) {
        return nullptr;
    }
    auto* items = arena.array<velk_get_item_t>(list.items.size());
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        items[i].key = arena.text(&member(list.items[i], "key"));
        items[i].meta_filter_count = static_cast<int32_t>(number(list.items[i], "filter_count"));
        items[i].meta_filter = pairs(arena, member(list.items[i], "filter"));
    }
    return items;
}

// Get-into's buffers, of the journal's sizes.
struct Buffers {
    void** buffers = nullptr;
    uint64_t* sizes = nullptr;
    int32_t* statuses = nullptr;
    uint64_t* lens = nullptr;
};
Buffers buffers(Arena& arena, const Value& args, int32_t count) {
    const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
    Buffers out;
    const Value& sizes = member(args, "sizes");
    if (!sizes.is_null()) {
        out.sizes = arena.array<uint64_t>(n);
        for (std::size_t i = 0; i < sizes.items.size() && i < n; ++i) {
            out.sizes[i] = sizes.items[i].unsigned_integer();
        }
    }
    const Value& given_buffers = member(args, "buffers");
    if (!given_buffers.is_null()) {
        out.buffers = arena.array<void*>(n);
        for (std::size_t i = 0; i < given_buffers.items.size() && i < n; ++i) {
            if (given_buffers.items[i].boolean) {
                out.buffers[i] = arena.array<char>(out.sizes != nullptr ? out.sizes[i] : 0);
            }
        }
    }
    out.statuses = given(args, "statuses") ? arena.array<int32_t>(n) : nullptr;
    out.lens = given(args, "value_lens") ? arena.array<uint64_t>(n) : nullptr;
    return out;
}

velk_namespace_options_t* namespace_options(Arena& arena, const Value& args) {
    const Value& options = member(args, "options");
    if (options.is_null()) {
        return nullptr;
    }
    auto* out = arena.array<velk_namespace_options_t>(1);
    out->capacity_bytes = number(options, "capacity_bytes");
    out->eviction_policy = arena.text(&member(options, "eviction_policy"));
    out->policy_param = member(options, "policy_param").real();
    return out;
}

// What a replayed get's callback sees, written as the journal writes it.
struct Seen {
    Json calls;
};
int seen_callback(int32_t count, const void* const* values, const uint64_t* lens, const int32_t* statuses,
                  void* data) {
    journal::callback_call(static_cast<Seen*>(data)->calls, count, values, lens, statuses, journal::values());
    return 0;
}

// Removes the members named in `ignore`, at any depth. With "order", every
// list is sorted, so lists compare as lists of the same records in any
// order, and a listing its capacity cut (fewer namespaces than its total)
// only by how many it holds: which ones it holds follows the order.
void strip(Value& value, const std::set<std::string>& ignore) {
    if (ignore.count("order") != 0) {
        const Value* infos = value.find("infos");
        const Value* total = value.find("total");
        if (infos != nullptr && total != nullptr && total->kind == Value::Number &&
            infos->items.size() < total->unsigned_integer()) {
            Value count;
            count.kind = Value::Number;
            count.text = std::to_string(infos->items.size());
            for (auto& [name, member] : value.members) {
                if (name == "infos") {
                    member = count;
                }
            }
        }
    }
    value.members.erase(std::remove_if(value.members.begin(), value.members.end(),
                                       [&](const auto& m) { return ignore.count(m.name) != 0; }),
                        value.members.end());
    for (auto& [name, child] : value.members) {
        strip(child, ignore);
    }
    for (Value& child : value.items) {
        strip(child, ignore);
    }
    if (ignore.count("order") != 0 && value.kind == Value::Array && value.items.size() > 1) {
        // Each item written once, not once per comparison.
        std::vector<std::pair<std::string, Value>> keyed;
        keyed.reserve(value.items.size());
        for (Value& item : value.items) {
            keyed.emplace_back(item.dump(), std::move(item));
        }
        std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < keyed.size(); ++i) {
            value.items[i] = std::move(keyed[i].second);
        }
    }
}

// Every place where two values differ: "path: recorded X, replayed Y".
void differences(const Value& recorded, const Value& replayed, const std::string& path,
                 std::vector<std::string>& out) {
    if (recorded.kind == Value::Object && replayed.kind == Value::Object) {
        const auto at = [&](const std::string& name) {
            return std::string(path).append(".").append(name);
        };
        for (const auto& [name, child] : recorded.members) {
            const Value* other = replayed.find(name);
            if (other == nullptr) {
                out.push_back(
                    at(name).append(": recorded ").append(child.dump()).append(", replayed nothing"));
            } else {
                differences(child, *other, at(name), out);
            }
        }
        for (const auto& [name, child] : replayed.members) {
            if (recorded.find(name) == nullptr) {
                out.push_back(at(name).append(": recorded nothing, replayed ").append(child.dump()));
            }
        }
        return;
    }
    if (recorded.kind == Value::Array && replayed.kind == Value::Array &&
        recorded.items.size() == replayed.items.size()) {
        for (std::size_t i = 0; i < recorded.items.size(); ++i) {
            differences(recorded.items[i], replayed.items[i], path + "[" + std::to_string(i) + "]", out);
        }
        return;
    }
    if (!(recorded == replayed)) {
        out.push_back(path + ": recorded " + recorded.dump() + ", replayed " + replayed.dump());
    }
}

class Replay {
public:
    Replay(const Api& api, std::set<std::string> ignore) : api_(api), ignore_(std::move(ignore)) {}
    ~Replay() {
        for (auto& [name, handle] : handles_) {
            api_.client_destroy(handle);
        }
        for (auto& [name, results] : results_) {
            api_.query_result_free(results.data(), static_cast<int32_t>(results.size()));
        }
        for (const std::string& store : stores_) {
            api_.shared_clear(nullptr, store.c_str());
        }
    }
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    // Makes the call of one line again and compares; the divergences are
    // printed, their number returned.
    int call(const Value& line) {
        const std::string function = member(line, "call").text;
        const Value& args = member(line, "args");
        Arena arena;
        Json rc;
        Json out;
        run(function, line, args, arena, rc, out);
        std::vector<std::string> found;
        compare(member(line, "rc"), rc, "rc", found);
        compare(member(line, "out"), out, "out", found);
        if (member(line, "rc").is_null() && line.find("errno") != nullptr && !errno_.empty()) {
            compare(member(line, "errno"), errno_json(), "errno", found);
        }
        const bool overlapped = member(line, "overlapped").boolean;
        for (const std::string& difference : found) {
            std::printf("call %s %s: %s%s\n", member(line, "seq").text.c_str(), function.c_str(),
                        difference.c_str(),
                        overlapped ? " (this call overlapped one of another thread: the two may have run in "
                                     "another order)"
                                   : "");
        }
        return static_cast<int>(found.size());
    }

private:
    void compare(const Value& recorded, const Json& replayed_json, const char* name,
                 std::vector<std::string>& found) {
        std::string why;
        auto replayed =
            velkfault::json::parse(replayed_json.text.empty() ? "null" : replayed_json.text, &why);
        if (!replayed) {
            found.push_back(std::string(name) + ": the replay's own answer is no JSON (" + why + ")");
            return;
        }
        Value a = recorded;
        strip(a, ignore_);
        strip(*replayed, ignore_);
        differences(a, *replayed, name, found);
    }
    Json errno_json() const {
        Json json;
        json.text = errno_;
        return json;
    }

    velk_client* handle(const Value& line) {
        const auto it = handles_.find(member(line, "handle").text);
        return it != handles_.end() ? it->second : nullptr;
    }

    // A create, each handle on a store of its own when the library keeps
    // its stores in a server.
    template <class Create>
    void create(const Value& line, Json& rc, Create&& make) {
        if (api_.shared_clear != nullptr) {
            const std::string store =
                "velk-replay:" + std::to_string(getpid()) + ":" + member(line, "seq").text;
            setenv("VELKSHARED_STORE", store.c_str(), 1);
            api_.shared_clear(nullptr, store.c_str());
            stores_.push_back(store);
        }
        constexpr int kUntouched = 0x7e1c;  // no error number of the system's
        errno = kUntouched;
        velk_client* client = make();
        const int error = errno;
        errno_.clear();
        const Value& recorded = member(line, "rc");
        if (client == nullptr) {
            rc.null();
            errno_ = error == kUntouched ? "\"unchanged\"" : std::to_string(error);
            return;
        }
        const std::string name =
            recorded.is_null() ? "unrecorded-" + member(line, "seq").text : recorded.text;
        handles_[name] = client;
        rc.bytes(name);
    }

    void destroy(const Value& line, void (*release)(velk_client*)) {
        const auto it = handles_.find(member(line, "handle").text);
        release(it != handles_.end() ? it->second : nullptr);
        if (it != handles_.end()) {
            handles_.erase(it);
        }
    }

    // The results array of a query, kept under the query's name ("r" and
    // its seq) for the free that follows.
    velk_query_result_t* results_for(const Value& line, const Value& args, int32_t count, int32_t capacity) {
        if (!given(args, "results")) {
            return nullptr;
        }
        const std::size_t n = static_cast<std::size_t>(std::max({count, capacity, 1}));
        std::vector<velk_query_result_t>& results = results_["r" + member(line, "seq").text];
        results.assign(n, velk_query_result_t{});
        return results.data();
    }

    void run(const std::string& function, const Value& line, const Value& args, Arena& arena, Json& rc,
             Json& out) {
        velk_client* client = handle(line);
        const auto count = static_cast<int32_t>(number(args, "count"));
        const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
        if (function == "velk_version" || function == "velk_revision" || function == "velk_build_time") {
            rc.string(function == "velk_version"    ? api_.version()
                      : function == "velk_revision" ? api_.revision()
                                                    : api_.build_time());
            out.null();
        } else if (function == "velk_client_create") {
            static const int config = 0;
            const void* given_config = given(args, "config") ? &config : nullptr;
            create(line, rc, [&] { return api_.client_create(given_config); });
            out.null();
        } else if (function == "velk_ll_create") {
            velk_ll_config_t* config = nullptr;
            if (given(args, "config")) {
                config = arena.array<velk_ll_config_t>(1);
                config->name = arena.text(&member(member(args, "config"), "name"));
            }
            create(line, rc, [&] { return api_.ll_create(config); });
            out.null();
        } else if (function == "velk_client_destroy" || function == "velk_ll_client_destroy") {
            destroy(line, function == "velk_client_destroy" ? api_.client_destroy : api_.ll_client_destroy);
            rc.null();
            out.null();
        } else if (function == "velk_sdk_metrics_ctx_reset") {
            auto* ctx = given(args, "ctx") ? arena.array<velk_sdk_metrics_ctx_t>(1) : nullptr;
            if (ctx != nullptr) {
                std::memset(ctx, 0x5a, sizeof *ctx);
            }
            api_.metrics_ctx_reset(ctx);
            rc.null();
            Describe<vf::kMetricsCtxReset>::out(out, ctx);
        } else if (function == "velk_client_get_metrics") {
            auto* ctx = given(args, "ctx") ? arena.array<velk_sdk_metrics_ctx_t>(1) : nullptr;
            if (ctx != nullptr) {
                std::memset(ctx, 0x5a, sizeof *ctx);
            }
            const int32_t result = api_.client_get_metrics(client, ctx);
            rc.number(result);
            Describe<vf::kClientGetMetrics>::out(out, result, client, ctx);
        } else if (function == "velk_sdk_metrics_serialize") {
            auto* ctx = given(args, "ctx") ? arena.array<velk_sdk_metrics_ctx_t>(1) : nullptr;
            const uint64_t size = member(args, "out_size").unsigned_integer();
            char* text = given(args, "out") ? arena.array<char>(size) : nullptr;
            uint64_t* len = given(args, "out_len") ? arena.array<uint64_t>(1) : nullptr;
            const int32_t result = api_.metrics_serialize(ctx, text, size, len);
            rc.number(result);
            Describe<vf::kMetricsSerialize>::out(out, result, ctx, text, size, len);
        } else if (function == "velk_batch_put") {
            const Value& list = member(args, "items");
            velk_put_item_t* items = nullptr;
            if (!list.is_null()) {
                items = arena.array<velk_put_item_t>(list.items.size());
                for (std::size_t i = 0; i < list.items.size(); ++i) {
                    const Value& item = list.items[i];
                    items[i].key = arena.text(&member(item, "key"));
                    parts(arena, item, items[i].value_parts, items[i].value_part_lens,
                          items[i].value_part_count);
                    items[i].tag = static_cast<uint32_t>(member(item, "tag").unsigned_integer());
                    items[i].replica_count = static_cast<int32_t>(number(item, "replica_count"));
                    items[i].metadata_count = static_cast<int32_t>(number(item, "metadata_count"));
                    items[i].metadata = pairs(arena, member(item, "metadata"));
                }
            }
            const auto capacity = static_cast<int32_t>(number(args, "result_capacity"));
            auto* results =
                given(args, "results")
                    ? arena.array<velk_put_result_t>(std::max<std::size_t>(n, std::max(capacity, 0)))
                    : nullptr;
            const char* ns = arena.text(&member(args, "ns"));
            const int32_t result = api_.batch_put(client, ns, items, count, results, capacity, nullptr);
            rc.number(result);
            Describe<vf::kBatchPut>::out(out, result, client, ns, items, count, results, capacity, nullptr);
        } else if (function == "velk_ll_batch_put") {
            const Value& list = member(args, "items");
            velk_ll_put_item_t* items = nullptr;
            if (!list.is_null()) {
                items = arena.array<velk_ll_put_item_t>(list.items.size());
                for (std::size_t i = 0; i < list.items.size(); ++i) {
                    items[i].key = arena.text(&member(list.items[i], "key"));
                    parts(arena, list.items[i], items[i].value_parts, items[i].value_part_lens,
                          items[i].value_part_count);
                }
            }
            const auto capacity = static_cast<int32_t>(number(args, "result_capacity"));
            auto* results =
                given(args, "results")
                    ? arena.array<velk_put_result_t>(std::max<std::size_t>(n, std::max(capacity, 0)))
                    : nullptr;
            const int32_t result =
                api_.ll_batch_put(client, items, count, results, capacity, nullptr, nullptr);
            rc.number(result);
            Describe<vf::kLlBatchPut>::out(out, result, client, items, count, results, capacity, nullptr,
                                           nullptr);
        } else if (function == "velk_batch_get" || function == "velk_ll_batch_get") {
            Seen seen;
            seen.calls.open_array();
            const bool callback = given(args, "callback");
            const int32_t result =
                function == "velk_batch_get"
                    ? api_.batch_get(client, arena.text(&member(args, "ns")), get_items(arena, args), count,
                                     callback ? seen_callback : nullptr, &seen, nullptr)
                    : api_.ll_batch_get(client, keys(arena, args), count, callback ? seen_callback : nullptr,
                                        &seen, nullptr, nullptr);
            seen.calls.close_array();
            rc.number(result);
            if (!callback) {
                out.null();
            } else {
                out.open_object();
                out.key("callbacks");
                out.embed(seen.calls);
                out.close_object();
            }
        } else if (function == "velk_batch_get_into") {
            const Buffers b = buffers(arena, args, count);
            const char* ns = arena.text(&member(args, "ns"));
            velk_get_item_t* items = get_items(arena, args);
            const int32_t result = api_.batch_get_into(client, ns, items, count, b.buffers, b.sizes,
                                                       b.statuses, b.lens, nullptr);
            rc.number(result);
            Describe<vf::kBatchGetInto>::out(out, result, client, ns, items, count, b.buffers, b.sizes,
                                             b.statuses, b.lens, nullptr);
        } else if (function == "velk_ll_batch_get_into") {
            const Buffers b = buffers(arena, args, count);
            const char** list = keys(arena, args);
            const int32_t result =
                api_.ll_batch_get_into(client, list, count, b.buffers, b.sizes, b.statuses, b.lens, nullptr);
            rc.number(result);
            Describe<vf::kLlBatchGetInto>::out(out, result, client, list, count, b.buffers, b.sizes,
                                               b.statuses, b.lens, nullptr);
        } else if (function == "velk_batch_delete_items") {
            const Value& list = member(args, "items");
            velk_delete_item_t* items = nullptr;
            if (!list.is_null()) {
                items = arena.array<velk_delete_item_t>(list.items.size());
                for (std::size_t i = 0; i < list.items.size(); ++i) {
                    items[i].key = arena.text(&member(list.items[i], "key"));
                    items[i].option = static_cast<int32_t>(number(list.items[i], "option"));
                }
            }
            const auto capacity = static_cast<int32_t>(number(args, "result_capacity"));
            auto* results =
                given(args, "results")
                    ? arena.array<velk_delete_result_t>(std::max<std::size_t>(n, std::max(capacity, 0)))
                    : nullptr;
            const char* ns = arena.text(&member(args, "ns"));
            const int32_t result =
                api_.batch_delete_items(client, ns, items, count, results, capacity, nullptr);
            rc.number(result);
            Describe<vf::kBatchDeleteItems>::out(out, result, client, ns, items, count, results, capacity,
                                                 nullptr);
        } else if (function == "velk_batch_delete" || function == "velk_ll_batch_delete") {
            const auto capacity = static_cast<int32_t>(number(args, "status_capacity"));
            auto* statuses = given(args, "statuses")
                                 ? arena.array<int32_t>(std::max<std::size_t>(n, std::max(capacity, 0)))
                                 : nullptr;
            const char** list = keys(arena, args);
            if (function == "velk_ll_batch_delete") {
                const int32_t result =
                    api_.ll_batch_delete(client, list, count, statuses, capacity, nullptr, nullptr);
                rc.number(result);
                Describe<vf::kLlBatchDelete>::out(out, result, client, list, count, statuses, capacity,
                                                  nullptr, nullptr);
                return;
            }
            int32_t* options = nullptr;
            if (given(args, "options")) {
                const Value& given_options = member(args, "options");
                options = arena.array<int32_t>(given_options.items.size());
                for (std::size_t i = 0; i < given_options.items.size(); ++i) {
                    options[i] = static_cast<int32_t>(given_options.items[i].integer());
                }
            }
            const char* ns = arena.text(&member(args, "ns"));
            const int32_t result =
                api_.batch_delete(client, ns, list, count, options, statuses, capacity, nullptr);
            rc.number(result);
            Describe<vf::kBatchDelete>::out(out, result, client, ns, list, count, options, statuses, capacity,
                                            nullptr);
        } else if (function == "velk_batch_query" || function == "velk_ll_batch_query") {
            const auto capacity = static_cast<int32_t>(number(args, "result_capacity"));
            velk_query_result_t* results = results_for(line, args, count, capacity);
            const char** list = keys(arena, args);
            int32_t result = 0;
            if (function == "velk_batch_query") {
                velk_query_options_t* options = nullptr;
                if (given(args, "include_details")) {
                    options = arena.array<velk_query_options_t>(1);
                    options->include_details = static_cast<int32_t>(number(args, "include_details"));
                }
                result = api_.batch_query(client, arena.text(&member(args, "ns")), list, count, options,
                                          results, capacity);
            } else {
                result = api_.ll_batch_query(client, list, count, results, capacity, nullptr);
            }
            rc.number(result);
            Describe<vf::kBatchQuery>::out(out, result, nullptr, nullptr, nullptr, 0, nullptr, results, 0);
        } else if (function == "velk_query_result_free") {
            const Value& named = member(args, "results");
            const auto it = named.is_null() ? results_.end() : results_.find(named.text);
            if (it != results_.end()) {
                api_.query_result_free(it->second.data(), count);
                results_.erase(it);
            } else if (!named.is_null()) {
                auto* blank = arena.array<velk_query_result_t>(n);
                api_.query_result_free(blank, count);
            } else {
                api_.query_result_free(nullptr, count);
            }
            rc.null();
            out.null();
        } else if (function == "velk_create_namespace" || function == "velk_update_namespace") {
            const int result =
                (function == "velk_create_namespace" ? api_.create_namespace : api_.update_namespace)(
                    client, arena.text(&member(args, "ns")), namespace_options(arena, args));
            rc.number(result);
            out.null();
        } else if (function == "velk_delete_namespace") {
            rc.number(api_.delete_namespace(client, arena.text(&member(args, "ns"))));
            out.null();
        } else if (function == "velk_get_namespace") {
            auto* info = given(args, "info") ? arena.array<velk_namespace_info_t>(1) : nullptr;
            const int result = api_.get_namespace(client, arena.text(&member(args, "ns")), info);
            rc.number(result);
            Describe<vf::kGetNamespace>::out(out, result, client, nullptr, info);
        } else if (function == "velk_list_namespaces") {
            const auto capacity = static_cast<int>(number(args, "capacity"));
            auto* infos =
                given(args, "infos") ? arena.array<velk_namespace_info_t>(std::max(capacity, 0)) : nullptr;
            int* total = given(args, "total") ? arena.array<int>(1) : nullptr;
            const int result = api_.list_namespaces(client, infos, capacity, total);
            rc.number(result);
            Describe<vf::kListNamespaces>::out(out, result, client, infos, capacity, total);
        } else if (function == "velk_get_nodes") {
            const auto capacity = static_cast<int>(number(args, "capacity"));
            auto* nodes =
                given(args, "nodes") ? arena.array<velk_node_info_t>(std::max(capacity, 0)) : nullptr;
            velk_node_selector_t* selector = nullptr;
            if (given(args, "selector")) {
                const Value& s = member(args, "selector");
                selector = arena.array<velk_node_selector_t>(1);
                selector->cluster = arena.text(&member(s, "cluster"));
                selector->region = arena.text(&member(s, "region"));
                selector->zone = arena.text(&member(s, "zone"));
                selector->rack = arena.text(&member(s, "rack"));
                selector->node_class = arena.text(&member(s, "node_class"));
            }
            const int result = api_.get_nodes(client, selector, nodes, capacity);
            rc.number(result);
            Describe<vf::kGetNodes>::out(out, result, client, selector, nodes, capacity);
        } else {
            throw Unusable{"the journal names a function that is none of the 28: " + function};
        }
    }

    const Api& api_;
    std::set<std::string> ignore_;
    std::map<std::string, velk_client*> handles_;
    std::map<std::string, std::vector<velk_query_result_t>> results_;
    std::vector<std::string> stores_;
    std::string errno_;
};

int usage(const std::string& why) {
    std::fprintf(stderr, "velk-replay: %s\n%s", why.c_str(), kUsageText);
    return kUsage;
}

int run(int argc, char** argv) {
    std::string path;
    std::string library = "mock";
    std::set<std::string> ignore;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsageText, stdout);
            return kSame;
        }
        if ((arg == "--lib" || arg == "--ignore") && i + 1 >= argc) {
            return usage(arg + " needs a value");
        }
        if (arg == "--lib") {
            library = argv[++i];
        } else if (arg == "--ignore") {
            std::string list = argv[++i];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                if (comma > at) {
                    ignore.insert(list.substr(at, comma - at));
                }
                at = comma + 1;
            }
        } else if (arg.rfind("--", 0) == 0) {
            return usage("unknown option '" + arg + "'");
        } else if (path.empty()) {
            path = arg;
        } else {
            return usage("one journal at a time ('" + arg + "' is a second)");
        }
    }
    if (path.empty()) {
        return usage("no journal given");
    }
    const std::string file = library == "mock"     ? "libvelkmock.so.0"
                             : library == "shared" ? "libvelkshared.so.0"
                                                   : library;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "velk-replay: cannot load %s: %s\n", file.c_str(), dlerror());
        return kUsage;
    }
    Api api{};
    std::string missing;
    if (!load(handle, api, missing)) {
        std::fprintf(stderr, "velk-replay: %s lacks %s\n", file.c_str(), missing.c_str());
        return kUsage;
    }
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "velk-replay: cannot read %s\n", path.c_str());
        return kUsage;
    }
    // The lines are kept as text and parsed again when their call is made:
    // a parsed journal takes ten times its size.
    std::string text;
    std::vector<std::pair<std::uint64_t, std::string>> lines;
    Value header;
    for (int number = 1; std::getline(in, text); ++number) {
        std::string why;
        auto line = velkfault::json::parse(text, &why);
        if (!line) {
            std::fprintf(stderr, "velk-replay: %s:%d is no JSON: %s\n", path.c_str(), number, why.c_str());
            return kUsage;
        }
        if (number == 1) {
            header = std::move(*line);
            continue;
        }
        lines.emplace_back(member(*line, "seq").unsigned_integer(), std::move(text));
    }
    if (member(header, "journal").text != "velkfault" || member(header, "version").integer() != 1) {
        std::fprintf(stderr, "velk-replay: %s is no journal of libvelkfault's, version 1\n", path.c_str());
        return kUsage;
    }
    const std::string mode = member(header, "values").text;
    journal::set_values(mode == "full"   ? journal::Values::Full
                        : mode == "none" ? journal::Values::None
                                         : journal::Values::Hash);
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].first == lines[i - 1].first) {
            std::fprintf(stderr, "velk-replay: %s holds call %llu twice\n", path.c_str(),
                         static_cast<unsigned long long>(lines[i].first));
            return kUsage;
        }
    }
    int diverged = 0;
    int replayed = 0;
    int planned = 0;
    try {
        Replay replay(api, ignore);
        for (auto& entry : lines) {
            const Value line = std::move(*velkfault::json::parse(entry.second));
            std::string().swap(entry.second);
            if (!member(line, "within").is_null()) {
                continue;  // the library's own call, made again by the one it came from
            }
            const std::string fault = member(line, "fault").text;
            if (fault.find("failed") != std::string::npos || fault.find("item") != std::string::npos) {
                ++planned;  // a plan answered it: the library never saw it whole
                continue;
            }
            diverged += replay.call(line) != 0 ? 1 : 0;
            ++replayed;
        }
    } catch (const Unusable& unusable) {
        std::fprintf(stderr, "velk-replay: %s\n", unusable.why.c_str());
        return kUsage;
    }
    std::printf(
        "velk-replay: %d call%s replayed against %s, %d diverged%s\n", replayed, replayed == 1 ? "" : "s",
        file.c_str(), diverged,
        planned != 0 ? (", " + std::to_string(planned) + " answered by a fault plan left out").c_str() : "");
    return diverged == 0 ? kSame : kDiverged;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "velk-replay: out of memory\n");
        return kUsage;
    }
}
