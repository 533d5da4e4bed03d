// SPDX-License-Identifier: MIT
#include "differential.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <sstream>
#include <vector>

#include "store_choice.hpp"
#include "velkmock.h"

namespace velk_model {
namespace {

// ---------------------------------------------------------------------------
// The model: plain ordered maps of what a caller can observe.
// ---------------------------------------------------------------------------

using Meta = std::vector<std::pair<std::string, std::string>>;

struct ModelEntry {
    std::string value;
    Meta meta;
    uint32_t tag = 0;
    int32_t replicas = 1;
};

struct ModelSpace {
    std::map<std::string, ModelEntry> entries;
    int64_t capacity = 0;
    std::string policy = "lru";
    double param = 0.0;
};

using ModelClient = std::map<std::string, ModelSpace>;

constexpr int64_t kFixedTime = 1700000000000;
constexpr unsigned char kSentinel = 0xA5;
const std::string kPrefix = "mock://mock-node-0:9000/";

// The documented rule for every fixed-width text field.
void put_text(char* field, size_t width, const std::string& text) {
    // The field was zero-filled first, so the copy leaves it terminated.
    std::memset(field, 0, width);
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

const ModelEntry* model_find(const ModelClient& client, const std::string& ns, const char* key) {
    const auto space = client.find(ns);
    if (space == client.end() || key == nullptr) {
        return nullptr;
    }
    const auto entry = space->second.entries.find(key);
    return entry == space->second.entries.end() ? nullptr : &entry->second;
}

bool model_filter(const ModelEntry& entry, const velk_meta_pair_t* filter, int32_t n) {
    if (filter == nullptr || n <= 0) {
        return true;
    }
    for (int32_t j = 0; j < n; ++j) {
        if (filter[j].key == nullptr || filter[j].value == nullptr) {
            return false;
        }
        const auto want = std::make_pair(std::string(filter[j].key), std::string(filter[j].value));
        if (std::find(entry.meta.begin(), entry.meta.end(), want) == entry.meta.end()) {
            return false;
        }
    }
    return true;
}

velk_namespace_info_t model_info(const std::string& name, const ModelSpace& space) {
    velk_namespace_info_t info;
    std::memset(&info, 0, sizeof info);
    put_text(info.name, sizeof info.name, name);
    info.capacity_bytes = space.capacity;
    for (const auto& [key, entry] : space.entries) {
        info.used_bytes += entry.value.size();
    }
    put_text(info.eviction_policy, sizeof info.eviction_policy, space.policy);
    info.policy_param = space.param;
    info.created_at_ms = kFixedTime;
    return info;
}

std::vector<velk_node_info_t> model_nodes() {
    std::vector<velk_node_info_t> nodes(2);
    std::memset(nodes.data(), 0, sizeof(velk_node_info_t) * 2);
    const char* ids[] = {"mock-node-0", "mock-node-1"};
    const char* endpoints[] = {"mock://mock-node-0:9000", "mock://mock-node-1:9000"};
    const char* regions[] = {"cn-hangzhou", "cn-beijing"};
    const char* zones[] = {"cn-hangzhou-a", "cn-beijing-b"};
    for (int i = 0; i < 2; ++i) {
        put_text(nodes[i].node_id, 128, ids[i]);
        put_text(nodes[i].endpoint, 256, endpoints[i]);
        put_text(nodes[i].region, 64, regions[i]);
        put_text(nodes[i].zone, 64, zones[i]);
        put_text(nodes[i].cluster, 64, "mock-cluster");
        put_text(nodes[i].node_class, 32, "standard");
        put_text(nodes[i].state, 32, "ready");
    }
    nodes[0].capacity_bytes = int64_t{1} << 40;
    nodes[1].capacity_bytes = int64_t{1} << 39;
    nodes[0].weight = 1.0;
    nodes[1].weight = 0.5;
    return nodes;
}

// ---------------------------------------------------------------------------
// Output arrays with sentinel slots after the ones the call may write.
// ---------------------------------------------------------------------------

template <class T>
struct Slots {
    explicit Slots(int used) : size(std::max(used, 0) + 2) {
        actual.assign(size * sizeof(T), kSentinel);
        expected = actual;
    }
    T* real() { return reinterpret_cast<T*>(actual.data()); }
    T& want(int i) { return reinterpret_cast<T*>(expected.data())[i]; }
    bool same() const { return actual == expected; }
    size_t size;
    std::vector<unsigned char> actual;
    std::vector<unsigned char> expected;
};

// ---------------------------------------------------------------------------
// The driver.
// ---------------------------------------------------------------------------

class Driver {
public:
    explicit Driver(Source& source) : in_(source) {
        int index = 0;
        for (velk_client*& client : real_) {
            // The model's two handles share nothing: each is a store.
            velk_test::choose_store(index++);
            client = velk_client_create("cfg");
        }
    }
    ~Driver() {
        for (velk_client* client : real_) {
            velk_client_destroy(client);
        }
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    std::optional<std::string> run(long steps) {
        if (real_[0] == nullptr || real_[1] == nullptr) {
            return "cannot create the handles";
        }
        for (long step = 0; step < steps && in_.more(); ++step) {
            op_.str("");
            failure_.clear();
            one_call();
            if (failure_.empty()) {
                check_used_bytes();
            }
            if (!failure_.empty()) {
                std::ostringstream out;
                out << "step " << step << ": " << op_.str() << ": " << failure_;
                return out.str();
            }
        }
        return std::nullopt;
    }

private:
    // After every call, each namespace of each handle must report exactly
    // the sum of its value lengths: the library keeps that number as it
    // goes, so any path that forgets to adjust it shows up here.
    void check_used_bytes() {
        for (int h = 0; h < 2; ++h) {
            for (const auto& [name, space] : model_[h]) {
                velk_namespace_info_t info{};
                if (!describe(h, name, info)) {
                    fail("used-bytes check: cannot describe namespace " + name);
                    return;
                }
                const uint64_t want = model_info(name, space).used_bytes;
                if (info.used_bytes != want) {
                    fail("used bytes of " + name + ": " + std::to_string(info.used_bytes) + ", want " +
                         std::to_string(want));
                    return;
                }
            }
        }
    }
    // By name; the empty name, which get refuses, is found in the listing.
    bool describe(int h, const std::string& name, velk_namespace_info_t& info) {
        if (!name.empty()) {
            return velk_get_namespace(real_[h], name.c_str(), &info) == VELK_OK;
        }
        std::vector<velk_namespace_info_t> infos(model_[h].size());
        int total = 0;
        const int listed =
            velk_list_namespaces(real_[h], infos.data(), static_cast<int>(infos.size()), &total);
        for (int i = 0; i < listed; ++i) {
            if (infos[i].name[0] == '\0') {
                info = infos[i];
                return true;
            }
        }
        return false;
    }

    // --- choices -----------------------------------------------------------
    bool one_in(uint32_t n) { return in_.below(n) == 0; }

    template <size_t N>
    const char* pick(const char* const (&pool)[N], uint32_t null_one_in) {
        if (one_in(null_one_in)) {
            return nullptr;
        }
        return pool[in_.below(N)];
    }
    const char* key() { return pick(kKeys, 12); }
    const char* text() { return pick(kTexts, 10); }
    const char* ns_name() { return pick(kSpaces, 25); }
    int32_t count() {
        static const int32_t counts[] = {-1, 0, 1, 1, 2, 2, 3, 5, 20};
        return counts[in_.below(9)];
    }
    int32_t capacity_for(int32_t n) {
        static const int32_t deltas[] = {-1, 0, 0, 0, 1};
        return n + deltas[in_.below(5)];
    }
    int handle() { return static_cast<int>(in_.below(2)); }

    // The arguments every batch call draws first: a handle (or NULL in its
    // place), a count, an output capacity around it, and a namespace (the
    // fixed one of the low-level calls, or a drawn one).
    struct BatchArgs {
        int h;
        int32_t n;
        int32_t capacity;
        bool null_client;
        velk_client* client;
        const char* ns;
    };
    BatchArgs batch_args(const char* fixed_ns) {
        BatchArgs a{};
        a.h = handle();
        a.n = count();
        a.capacity = capacity_for(a.n);
        a.client = client_arg(a.h, &a.null_client);
        a.ns = fixed_ns != nullptr ? fixed_ns : ns_name();
        return a;
    }

    velk_client* client_arg(int h, bool* is_null) {
        *is_null = one_in(30);
        return *is_null ? nullptr : real_[h];
    }
    template <class T>
    const T* maybe_null(const T* p) {
        return one_in(30) ? nullptr : p;
    }
    template <class T>
    T* maybe_null(T* p) {
        return one_in(30) ? nullptr : p;
    }

    void fail(const std::string& what) {
        if (failure_.empty()) {
            failure_ = what;
        }
    }
    void expect_rc(long actual, long expected) {
        if (actual != expected) {
            fail("returned " + std::to_string(actual) + ", model says " + std::to_string(expected));
        }
    }

    // --- value material ----------------------------------------------------
    // Per call: texts and bytes that the items point at.
    struct Material {
        std::deque<std::string> bytes;
        std::deque<std::vector<const void*>> parts;
        std::deque<std::vector<size_t>> lens;
        std::deque<std::vector<uint64_t>> lens64;
        std::deque<std::vector<velk_meta_pair_t>> pairs;
    };

    // Builds value parts; returns the concatenation the model stores.
    std::string make_parts(Material& m, const void* const** parts_out, const size_t** lens_out,
                           int32_t* count_out, bool* valid) {
        static const size_t sizes[] = {0, 1, 3, 17, 300};
        const int32_t n = one_in(20) ? -1 : static_cast<int32_t>(in_.below(4));
        auto& parts = m.parts.emplace_back();
        auto& lens = m.lens.emplace_back();
        std::string joined;
        *valid = n >= 0;
        for (int32_t j = 0; j < n; ++j) {
            const size_t length = sizes[in_.below(5)];
            std::string& bytes = m.bytes.emplace_back(length, '\0');
            for (char& c : bytes) {
                c = static_cast<char>(in_.below(256));
            }
            const bool null_part = (length == 0 && one_in(2)) || (length != 0 && one_in(40));
            parts.push_back(null_part ? nullptr : bytes.data());
            lens.push_back(length);
            if (null_part && length != 0) {
                *valid = false;
            }
            joined += bytes;
        }
        *parts_out = one_in(40) ? nullptr : parts.data();
        *lens_out = one_in(40) ? nullptr : lens.data();
        if (n > 0 && (*parts_out == nullptr || *lens_out == nullptr)) {
            *valid = false;
        }
        *count_out = n;
        return joined;
    }

    const velk_meta_pair_t* make_pairs(Material& m, int32_t n) {
        auto& pairs = m.pairs.emplace_back();
        for (int32_t j = 0; j < std::max(n, 0); ++j) {
            pairs.push_back({text(), text()});
        }
        return pairs.data();
    }

    // --- the calls ------------------------------------------------------------
    void one_call() {
        switch (in_.below(16)) {
            case 0:
            case 1:
            case 2:
                put(false);
                break;
            case 3:
                put(true);
                break;
            case 4:
                get(false);
                break;
            case 5:
                get(true);
                break;
            case 6:
                get_into(false);
                break;
            case 7:
                get_into(true);
                break;
            case 8:
                delete_items();
                break;
            case 9:
                delete_flat(in_.below(2) == 0);
                break;
            case 10:
                query(in_.below(3) == 0);
                break;
            case 11:
                create_or_update(in_.below(2) == 0);
                break;
            case 12:
                delete_or_get_namespace();
                break;
            case 13:
                list_namespaces();
                break;
            case 14:
                nodes();
                break;
            default:
                metrics();
                break;
        }
    }

    void put(bool low_level) {
        const auto [h, n, capacity, null_client, client, ns] = batch_args(low_level ? "ll" : nullptr);
        Material m;
        std::vector<velk_put_item_t> items(std::max(n, 0) + 1);
        std::vector<velk_ll_put_item_t> ll_items(items.size());
        std::vector<bool> valid(items.size());
        std::vector<std::string> values(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            velk_put_item_t& item = items[i];
            std::memset(&item, 0, sizeof item);
            item.key = key();
            bool parts_valid = false;
            values[i] =
                make_parts(m, &item.value_parts, &item.value_part_lens, &item.value_part_count, &parts_valid);
            if (low_level) {
                auto& lens = m.lens64.emplace_back();
                if (item.value_part_lens != nullptr) {
                    lens.assign(item.value_part_lens,
                                item.value_part_lens + std::max(item.value_part_count, 0));
                }
                ll_items[i] = {item.key, item.value_parts, item.value_part_lens ? lens.data() : nullptr,
                               item.value_part_count};
                item.replica_count = 1;
            } else {
                item.tag = one_in(3) ? 0 : in_.below(1u << 31) * 2 + 1;
                item.replica_count = static_cast<int32_t>(in_.below(8)) - 2;
                item.metadata_count = one_in(25) ? -1 : static_cast<int32_t>(in_.below(4));
                item.metadata = make_pairs(m, item.metadata_count);
                if (one_in(10)) {
                    item.metadata = nullptr;
                }
            }
            valid[i] = item.key != nullptr && parts_valid && item.metadata_count >= 0;
        }
        Slots<velk_put_result_t> results(capacity);
        velk_put_result_t* results_arg = maybe_null(results.real());
        const bool null_items = one_in(30);
        op_ << (low_level ? "ll_batch_put" : "batch_put") << " h" << h << " ns=" << (ns ? ns : "NULL")
            << " count=" << n << " capacity=" << capacity;

        int rc;
        if (low_level) {
            rc = velk_ll_batch_put(client, null_items ? nullptr : ll_items.data(), n, results_arg, capacity,
                                   nullptr, reinterpret_cast<const void*>(0x1));
        } else {
            rc = velk_batch_put(client, ns, null_items ? nullptr : items.data(), n, results_arg, capacity,
                                nullptr);
        }

        int expected = VELK_ERR_INVALID_ARGUMENT;
        if (!null_items && n > 0 && !null_client && ns != nullptr && results_arg != nullptr &&
            capacity >= n) {
            expected = VELK_OK;
            ModelSpace& space = model_[h][ns];
            for (int32_t i = 0; i < n; ++i) {
                velk_put_result_t& want = results.want(i);
                std::memset(&want, 0, sizeof want);
                if (!valid[i]) {
                    want.status = VELK_ERR_INVALID_ARGUMENT;
                    continue;
                }
                const velk_put_item_t& item = items[i];
                ModelEntry entry;
                entry.value = values[i];
                entry.tag = item.tag;
                entry.replicas = item.replica_count > 0 ? item.replica_count : 1;
                for (int32_t j = 0; item.metadata != nullptr && j < item.metadata_count; ++j) {
                    if (item.metadata[j].key != nullptr && item.metadata[j].value != nullptr) {
                        entry.meta.emplace_back(item.metadata[j].key, item.metadata[j].value);
                    }
                }
                space.entries[item.key] = entry;
                put_text(want.location, 256, kPrefix + ns + "/" + item.key);
            }
        }
        expect_rc(rc, expected);
        if (!results.same()) {
            fail("result records differ");
        }
    }

    struct Seen {
        int calls = 0;
        int32_t count = 0;
        std::vector<bool> null_value;
        std::vector<std::string> bytes;
        std::vector<uint64_t> lens;
        std::vector<int32_t> statuses;
    };
    static int record(int32_t count, const void* const* values, const uint64_t* lens, const int32_t* statuses,
                      void* user_data) {
        auto* seen = static_cast<Seen*>(user_data);
        ++seen->calls;
        seen->count = count;
        for (int32_t i = 0; i < count; ++i) {
            seen->null_value.push_back(values[i] == nullptr);
            seen->bytes.emplace_back(values[i] ? static_cast<const char*>(values[i]) : "",
                                     values[i] ? lens[i] : 0);
            seen->lens.push_back(lens[i]);
            seen->statuses.push_back(statuses[i]);
        }
        return 0;
    }

    // Get items with random filters; for the low-level calls, bare keys.
    std::vector<velk_get_item_t> get_items(Material& m, int32_t n, bool low_level,
                                           std::vector<const char*>& keys) {
        std::vector<velk_get_item_t> items(std::max(n, 0) + 1);
        keys.resize(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            std::memset(&items[i], 0, sizeof items[i]);
            items[i].key = keys[i] = key();
            if (!low_level && one_in(3)) {
                items[i].meta_filter_count = static_cast<int32_t>(in_.below(4)) - 1;
                items[i].meta_filter = one_in(10) ? nullptr : make_pairs(m, items[i].meta_filter_count);
            }
        }
        return items;
    }

    const ModelEntry* model_get(int h, const char* ns, const velk_get_item_t& item) {
        const ModelEntry* entry = model_find(model_[h], ns, item.key);
        return entry != nullptr && model_filter(*entry, item.meta_filter, item.meta_filter_count) ? entry
                                                                                                  : nullptr;
    }

    void get(bool low_level) {
        const auto [h, n, capacity, null_client, client, ns] = batch_args(low_level ? "ll" : nullptr);
        Material m;
        std::vector<const char*> keys;
        const auto items = get_items(m, n, low_level, keys);
        const bool null_items = one_in(30);
        const velk_get_callback_t callback = one_in(30) ? nullptr : record;
        op_ << (low_level ? "ll_batch_get" : "batch_get") << " h" << h << " ns=" << (ns ? ns : "NULL")
            << " count=" << n;
        Seen seen;
        const int rc = low_level ? velk_ll_batch_get(client, null_items ? nullptr : keys.data(), n, callback,
                                                     &seen, nullptr, &seen)
                                 : velk_batch_get(client, ns, null_items ? nullptr : items.data(), n,
                                                  callback, &seen, nullptr);
        if (null_items || n <= 0 || null_client || ns == nullptr || callback == nullptr) {
            expect_rc(rc, -EINVAL);
            if (seen.calls != 0) {
                fail("callback called on a refused call");
            }
            return;
        }
        expect_rc(rc, VELK_OK);
        if (seen.calls != 1 || seen.count != n) {
            fail("callback not called exactly once with the batch size");
            return;
        }
        for (int32_t i = 0; i < n; ++i) {
            const ModelEntry* entry = model_get(h, ns, items[i]);
            const uint64_t length = entry ? entry->value.size() : 0;
            if (seen.lens[i] != length || seen.statuses[i] != static_cast<int32_t>(length)) {
                fail("item " + std::to_string(i) + ": length or status differs");
            } else if (entry == nullptr && !seen.null_value[i]) {
                fail("item " + std::to_string(i) + ": value pointer for nothing reported");
            } else if (entry != nullptr && seen.null_value[i] != (length == 0)) {
                // What a caller sees: an empty value is lent as NULL, any
                // other as a pointer to its bytes.
                fail("item " + std::to_string(i) +
                     ": an empty value not lent as NULL, or a value lent as NULL");
            } else if (entry != nullptr && length != 0 && seen.bytes[i] != entry->value) {
                fail("item " + std::to_string(i) + ": value bytes differ");
            }
        }
    }

    void get_into(bool low_level) {
        static const uint64_t sizes[] = {0, 1, 3, 17, 299, 300, 301, 1000};
        const auto [h, n, capacity, null_client, client, ns] = batch_args(low_level ? "ll" : nullptr);
        Material m;
        std::vector<const char*> keys;
        const auto items = get_items(m, n, low_level, keys);
        const size_t slots = items.size();
        std::vector<std::vector<unsigned char>> buffers(slots);
        std::vector<void*> pointers(slots);
        std::vector<uint64_t> capacities(slots);
        for (size_t i = 0; i < slots; ++i) {
            capacities[i] = sizes[in_.below(8)];
            buffers[i].assign(capacities[i] + 4, kSentinel);
            pointers[i] = one_in(10) ? nullptr : buffers[i].data();
        }
        auto expected_buffers = buffers;
        std::vector<int32_t> statuses(slots + 1, -77);
        std::vector<uint64_t> lens(slots + 1, 77);
        auto expected_statuses = statuses;
        auto expected_lens = lens;
        const bool null_items = one_in(30);
        void* const* buffers_arg = maybe_null(pointers.data());
        const uint64_t* sizes_arg = maybe_null(capacities.data());
        int32_t* statuses_arg = maybe_null(statuses.data());
        uint64_t* lens_arg = maybe_null(lens.data());
        op_ << (low_level ? "ll_batch_get_into" : "batch_get_into") << " h" << h
            << " ns=" << (ns ? ns : "NULL") << " count=" << n;
        const int rc = low_level
                           ? velk_ll_batch_get_into(client, null_items ? nullptr : keys.data(), n,
                                                    buffers_arg, sizes_arg, statuses_arg, lens_arg, nullptr)
                           : velk_batch_get_into(client, ns, null_items ? nullptr : items.data(), n,
                                                 buffers_arg, sizes_arg, statuses_arg, lens_arg, nullptr);
        if (null_items || n <= 0 || null_client || ns == nullptr || !buffers_arg || !sizes_arg ||
            !statuses_arg || !lens_arg) {
            expect_rc(rc, -EINVAL);
        } else {
            expect_rc(rc, VELK_OK);
            for (int32_t i = 0; i < n; ++i) {
                expected_statuses[i] = 0;
                expected_lens[i] = 0;
                const ModelEntry* entry = model_get(h, ns, items[i]);
                if (entry == nullptr) {
                    continue;
                }
                const size_t length = entry->value.size();
                expected_lens[i] = length;
                if (length > capacities[i] || (pointers[i] == nullptr && length != 0)) {
                    expected_statuses[i] = -ENOSPC;
                    continue;
                }
                std::memcpy(expected_buffers[i].data(), entry->value.data(), length);
                expected_statuses[i] = static_cast<int32_t>(length);
            }
        }
        if (statuses != expected_statuses || lens != expected_lens) {
            fail("statuses or lengths differ");
        } else if (buffers != expected_buffers) {
            fail("buffer contents differ");
        }
    }

    // The per-item outcome of a delete, applied to the model.
    int32_t model_delete(int h, const char* ns, const char* key, char* location) {
        std::memset(location, 0, 256);
        if (key == nullptr) {
            return VELK_ERR_INVALID_ARGUMENT;
        }
        const auto space = model_[h].find(ns);
        if (space == model_[h].end()) {
            return VELK_ERR_NOT_FOUND;
        }
        put_text(location, 256, kPrefix + ns + "/" + key);
        return space->second.entries.erase(key) == 1 ? VELK_OK : VELK_ERR_NOT_FOUND;
    }

    void delete_items() {
        const auto [h, n, capacity, null_client, client, ns] = batch_args(nullptr);
        std::vector<velk_delete_item_t> items(std::max(n, 0) + 1);
        for (auto& item : items) {
            item = {key(), static_cast<int32_t>(in_.below(5)), in_.below(3)};
        }
        Slots<velk_delete_result_t> results(capacity);
        velk_delete_result_t* results_arg = maybe_null(results.real());
        const bool null_items = one_in(30);
        op_ << "batch_delete_items h" << h << " ns=" << (ns ? ns : "NULL") << " count=" << n
            << " capacity=" << capacity;
        const int rc = velk_batch_delete_items(client, ns, null_items ? nullptr : items.data(), n,
                                               results_arg, capacity, nullptr);
        if (null_items || n <= 0 || null_client || ns == nullptr || !results_arg || capacity < n) {
            expect_rc(rc, VELK_ERR_INVALID_ARGUMENT);
        } else {
            expect_rc(rc, VELK_OK);
            for (int32_t i = 0; i < n; ++i) {
                results.want(i).status = model_delete(h, ns, items[i].key, results.want(i).location);
            }
        }
        if (!results.same()) {
            fail("result records differ");
        }
    }

    void delete_flat(bool low_level) {
        const auto [h, n, capacity, null_client, client, ns] = batch_args(low_level ? "ll" : nullptr);
        std::vector<const char*> keys(std::max(n, 0) + 1);
        std::vector<int32_t> options(keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            keys[i] = key();
            options[i] = static_cast<int32_t>(in_.below(100));
        }
        Slots<int32_t> statuses(capacity);
        int32_t* statuses_arg = maybe_null(statuses.real());
        const char* const* keys_arg = maybe_null(keys.data());
        op_ << (low_level ? "ll_batch_delete" : "batch_delete") << " h" << h << " ns=" << (ns ? ns : "NULL")
            << " count=" << n << " capacity=" << capacity;
        const int rc =
            low_level ? velk_ll_batch_delete(client, keys_arg, n, statuses_arg, capacity, nullptr, keys_arg)
                      : velk_batch_delete(client, ns, keys_arg, n, one_in(2) ? nullptr : options.data(),
                                          statuses_arg, capacity, nullptr);
        if (!keys_arg || n <= 0 || null_client || ns == nullptr || !statuses_arg || capacity < n) {
            expect_rc(rc, VELK_ERR_INVALID_ARGUMENT);
        } else {
            expect_rc(rc, VELK_OK);
            char location[256];
            for (int32_t i = 0; i < n; ++i) {
                statuses.want(i) = model_delete(h, ns, keys[i], location);
            }
        }
        if (!statuses.same()) {
            fail("statuses differ");
        }
    }

    void query(bool low_level) {
        const auto [h, n, capacity, null_client, client, ns] = batch_args(low_level ? "ll" : nullptr);
        std::vector<const char*> keys(std::max(n, 0) + 1);
        for (auto& k : keys) {
            k = key();
        }
        const velk_query_options_t options{static_cast<int32_t>(in_.below(9)),
                                           static_cast<int32_t>(in_.below(3))};
        const velk_query_options_t* options_arg = low_level || one_in(3) ? nullptr : &options;
        Slots<velk_query_result_t> results(capacity);
        velk_query_result_t* results_arg = maybe_null(results.real());
        const char* const* keys_arg = maybe_null(keys.data());
        op_ << (low_level ? "ll_batch_query" : "batch_query") << " h" << h << " ns=" << (ns ? ns : "NULL")
            << " count=" << n << " capacity=" << capacity;
        const int rc = low_level
                           ? velk_ll_batch_query(client, keys_arg, n, results_arg, capacity, nullptr)
                           : velk_batch_query(client, ns, keys_arg, n, options_arg, results_arg, capacity);
        if (!keys_arg || n <= 0 || null_client || ns == nullptr || !results_arg || capacity < n) {
            expect_rc(rc, VELK_ERR_INVALID_ARGUMENT);
            if (!results.same()) {
                fail("records written by a refused call");
            }
            return;
        }
        expect_rc(rc, n);
        const bool details = options_arg != nullptr && options_arg->include_details != 0;
        for (int32_t i = 0; i < n; ++i) {
            velk_query_result_t& want = results.want(i);
            std::memset(&want, 0, sizeof want);
            const ModelEntry* entry = model_find(model_[h], ns, keys[i]);
            if (keys[i] != nullptr) {
                put_text(want.key, 256, keys[i]);
            }
            put_text(want.status, 32, entry ? "ok" : "not_found");
            if (entry == nullptr) {
                continue;
            }
            want.replica_count = entry->replicas;
            want.value_len = entry->value.size();
            want.metadata_count = static_cast<int32_t>(entry->meta.size());
            want.detail_count = details ? 1 : 0;

            // Pointers are the library's own; compare what they hold, then
            // blank them so the rest of the record compares byte for byte.
            velk_query_result_t& got = results.real()[i];
            if ((got.metadata != nullptr) != !entry->meta.empty() ||
                got.metadata_count != want.metadata_count) {
                fail("record " + std::to_string(i) + ": metadata presence differs");
                continue;
            }
            for (size_t j = 0; j < entry->meta.size(); ++j) {
                if (entry->meta[j].first != got.metadata[j].key ||
                    entry->meta[j].second != got.metadata[j].value) {
                    fail("record " + std::to_string(i) + ": metadata pair differs");
                }
            }
            if ((got.details != nullptr) != details) {
                fail("record " + std::to_string(i) + ": details presence differs");
            } else if (details &&
                       (got.details->tag != entry->tag || got.details->value_len != entry->value.size() ||
                        got.details->timestamp_ms != kFixedTime)) {
                fail("record " + std::to_string(i) + ": details differ");
            }
        }
        std::vector<velk_query_result_t> saved(results.real(), results.real() + n);
        for (int32_t i = 0; i < n; ++i) {
            results.real()[i].metadata = nullptr;
            results.real()[i].details = nullptr;
        }
        if (!results.same()) {
            fail("result records differ");
        }
        std::copy(saved.begin(), saved.end(), results.real());
        velk_query_result_free(results.real(), n);
        if (one_in(4)) {
            velk_query_result_free(results.real(), n);
        }
    }

    void create_or_update(bool create) {
        static const char* const policies[] = {"", "lfu", "fifo",
                                               "a-policy-text-longer-than-thirty-one-bytes"};
        const int h = handle();
        bool null_client = false;
        velk_client* client = client_arg(h, &null_client);
        const char* ns = ns_name();
        velk_namespace_options_t options{static_cast<int64_t>(in_.below(1000)) - 10, pick(policies, 4),
                                         static_cast<double>(in_.below(8)) / 4};
        const velk_namespace_options_t* options_arg = one_in(4) ? nullptr : &options;
        op_ << (create ? "create_namespace" : "update_namespace") << " h" << h << " ns=" << (ns ? ns : "NULL")
            << " options=" << (options_arg ? "yes" : "NULL");
        const int rc = create ? velk_create_namespace(client, ns, options_arg)
                              : velk_update_namespace(client, ns, options_arg);
        if (null_client || ns == nullptr || ns[0] == '\0') {
            expect_rc(rc, VELK_ERR_INVALID_ARGUMENT);
            return;
        }
        const auto it = model_[h].find(ns);
        if (create) {
            if (it != model_[h].end()) {
                expect_rc(rc, VELK_ERR_NAMESPACE_EXISTS);
                return;
            }
            ModelSpace space;
            if (options_arg != nullptr) {
                space.capacity = options.capacity_bytes;
                space.param = options.policy_param;
                if (options.eviction_policy != nullptr && options.eviction_policy[0] != '\0') {
                    space.policy = options.eviction_policy;
                }
            }
            model_[h][ns] = space;
            expect_rc(rc, VELK_OK);
            return;
        }
        if (it == model_[h].end()) {
            expect_rc(rc, VELK_ERR_NAMESPACE_NOT_FOUND);
            return;
        }
        if (options_arg != nullptr) {
            it->second.capacity = options.capacity_bytes;
            it->second.param = options.policy_param;
            if (options.eviction_policy != nullptr) {
                it->second.policy = options.eviction_policy;
            }
        }
        expect_rc(rc, VELK_OK);
    }

    void delete_or_get_namespace() {
        const int h = handle();
        bool null_client = false;
        velk_client* client = client_arg(h, &null_client);
        const char* ns = ns_name();
        const bool remove = one_in(3);
        Slots<velk_namespace_info_t> info(1);
        velk_namespace_info_t* info_arg = maybe_null(info.real());
        op_ << (remove ? "delete_namespace" : "get_namespace") << " h" << h << " ns=" << (ns ? ns : "NULL");
        const int rc = remove ? velk_delete_namespace(client, ns) : velk_get_namespace(client, ns, info_arg);
        if (null_client || ns == nullptr || ns[0] == '\0' || (!remove && info_arg == nullptr)) {
            expect_rc(rc, VELK_ERR_INVALID_ARGUMENT);
        } else if (model_[h].count(ns) == 0) {
            expect_rc(rc, VELK_ERR_NAMESPACE_NOT_FOUND);
        } else if (remove) {
            model_[h].erase(ns);
            expect_rc(rc, VELK_OK);
        } else {
            info.want(0) = model_info(ns, model_[h].at(ns));
            expect_rc(rc, VELK_OK);
        }
        if (!info.same()) {
            fail("namespace record differs");
        }
    }

    void list_namespaces() {
        static const int capacities[] = {-1, 0, 1, 2, 3, 8};
        const int h = handle();
        bool null_client = false;
        velk_client* client = client_arg(h, &null_client);
        const int capacity = capacities[in_.below(6)];
        Slots<velk_namespace_info_t> infos(capacity);
        velk_namespace_info_t* infos_arg = one_in(8) ? nullptr : infos.real();
        int total = -77;
        int* total_arg = maybe_null(&total);
        op_ << "list_namespaces h" << h << " capacity=" << capacity;
        const int rc = velk_list_namespaces(client, infos_arg, capacity, total_arg);
        if (null_client || total_arg == nullptr || capacity < 0 || (capacity > 0 && infos_arg == nullptr)) {
            expect_rc(rc, VELK_ERR_INVALID_ARGUMENT);
            if (total != -77 || !infos.same()) {
                fail("output written by a refused call");
            }
            return;
        }
        const int count = static_cast<int>(model_[h].size());
        expect_rc(rc, std::min(capacity, count));
        if (total != count) {
            fail("total differs");
        }
        // The order is the library's to choose: every record written must be
        // the description of a different namespace.
        std::vector<velk_namespace_info_t> pool;
        for (const auto& [name, space] : model_[h]) {
            pool.push_back(model_info(name, space));
        }
        for (int i = 0; i < std::min(rc, capacity); ++i) {
            const auto match = std::find_if(pool.begin(), pool.end(), [&](const velk_namespace_info_t& info) {
                // Byte for byte on purpose: padding and text tails are contract too.
                // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
                return std::memcmp(&info, &infos.real()[i], sizeof info) == 0;
            });
            if (match == pool.end()) {
                fail("record " + std::to_string(i) + " describes no namespace (or one twice)");
                return;
            }
            infos.want(i) = *match;
            pool.erase(match);
        }
        if (!infos.same()) {
            fail("records beyond the count were written");
        }
    }

    void nodes() {
        static const char* const filters[] = {
            "",         "mock-cluster", "cn-beijing", "cn-hangzhou", "cn-hangzhou-a", "cn-beijing-b",
            "standard", "CN-BEIJING",   "cn-bei",     "r1"};
        static const std::vector<velk_node_info_t> table = model_nodes();
        const int h = handle();
        bool null_client = false;
        velk_client* client = client_arg(h, &null_client);
        const int capacity = static_cast<int>(in_.below(5)) - 1;
        velk_node_selector_t selector{pick(filters, 2), pick(filters, 2), pick(filters, 2), pick(filters, 2),
                                      pick(filters, 2)};
        const velk_node_selector_t* selector_arg = one_in(4) ? nullptr : &selector;
        Slots<velk_node_info_t> out(capacity);
        velk_node_info_t* out_arg = maybe_null(out.real());
        op_ << "get_nodes h" << h << " capacity=" << capacity;
        const int rc = velk_get_nodes(client, selector_arg, out_arg, capacity);
        if (null_client || out_arg == nullptr || capacity <= 0) {
            expect_rc(rc, VELK_ERR_INVALID_ARGUMENT);
        } else {
            int written = 0;
            for (const velk_node_info_t& node : table) {
                if (written == capacity) {
                    break;
                }
                const char* wanted[] = {selector.cluster, selector.region, selector.zone, selector.rack,
                                        selector.node_class};
                const char* actual[] = {node.cluster, node.region, node.zone, node.rack, node.node_class};
                bool passes = true;
                for (int f = 0; selector_arg != nullptr && f < 5; ++f) {
                    passes = passes && (wanted[f] == nullptr || wanted[f][0] == '\0' ||
                                        std::string(wanted[f]) == actual[f]);
                }
                if (passes) {
                    out.want(written++) = node;
                }
            }
            expect_rc(rc, written);
        }
        if (!out.same()) {
            fail("node records differ");
        }
    }

    void metrics() {
        const int h = handle();
        Slots<velk_sdk_metrics_ctx_t> ctx(1);
        op_ << "metrics h" << h;
        switch (in_.below(3)) {
            case 0:
                velk_sdk_metrics_ctx_reset(ctx.real());
                std::memset(&ctx.want(0), 0, sizeof(velk_sdk_metrics_ctx_t));
                break;
            case 1: {
                bool null_client = false;
                velk_client* client = client_arg(h, &null_client);
                expect_rc(velk_client_get_metrics(client, ctx.real()), null_client ? -5 : 0);
                if (!null_client) {
                    std::memset(&ctx.want(0), 0, sizeof(velk_sdk_metrics_ctx_t));
                }
                break;
            }
            default: {
                Slots<char> out(4);
                uint64_t length = 99;
                const uint64_t size = in_.below(3);
                expect_rc(velk_sdk_metrics_serialize(ctx.real(), out.real(), size, &length),
                          size == 0 ? -5 : 0);
                if (size != 0) {
                    out.want(0) = '\0';
                    if (length != 0) {
                        fail("serialised length is not 0");
                    }
                }
                if (!out.same()) {
                    fail("serialised text differs");
                }
            }
        }
        if (!ctx.same()) {
            fail("metrics record differs");
        }
    }

    // The long texts are written in pieces on purpose, not missing commas.
    // NOLINTBEGIN(bugprone-suspicious-missing-comma)
    static constexpr const char* kKeys[] = {
        "k1",
        "k2",
        "K1",
        "",
        "a-key-of-twenty-four-b",
        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
        "xxx"};
    static constexpr const char* kTexts[] = {"m", "n", "M", "", "v1", "v2"};
    static constexpr const char* kSpaces[] = {
        "a",
        "b",
        "A",
        "",
        "ll",
        "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
        "nnnnnnnnnnnnnnnnnnnnnnnnnnnnAnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn",
        "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
        "nnnnnnnnnnnnnnnnnnnnnnnnnnnnBnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"};
    // NOLINTEND(bugprone-suspicious-missing-comma)

    Source& in_;
    velk_client* real_[2] = {nullptr, nullptr};
    ModelClient model_[2];
    std::ostringstream op_;
    std::string failure_;
};

}  // namespace

std::optional<std::string> run_differential(Source& source, long steps) {
    Driver driver(source);
    return driver.run(steps);
}

}  // namespace velk_model
