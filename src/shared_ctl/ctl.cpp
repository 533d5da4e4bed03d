// SPDX-License-Identifier: MIT
// velkshared-ctl: what is in a shared store, for when a test fails, and a
// way to seed and prune one from the shell.
#include "shared_ctl/ctl.hpp"

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "shared_ctl/texts.hpp"

namespace velkctl {

void fail_at(int code, const std::string& where, const char* why) {
    std::fprintf(stderr, "velkshared-ctl: %s %s: %s\n",
                 code == -EPROTO ? "the server refused a request at" : "cannot reach the server at",
                 where.c_str(), why);
    throw Failure{kUnreachable};
}

int no_namespace(const Place& place, const std::string& ns) {
    std::fprintf(stderr, "velkshared-ctl: no namespace %s in store %s at %s\n", quoted(ns).c_str(),
                 quoted(place.store).c_str(), place.url.c_str());
    return kUnreachable;
}

int no_key(const Place& place, const std::string& ns, const std::string& key) {
    std::fprintf(stderr, "velkshared-ctl: no key %s in namespace %s of store %s at %s\n", quoted(key).c_str(),
                 quoted(ns).c_str(), quoted(place.store).c_str(), place.url.c_str());
    return kUnreachable;
}

namespace {

int bad_usage(const std::string& why) {
    std::fprintf(stderr, "velkshared-ctl: %s\n%s", why.c_str(), kShortUsage);
    return kUsage;
}

int run(int argc, char** argv) {
    const Parsed parsed = parse(argc, argv);
    if (!parsed.options) {
        return bad_usage(parsed.wrong);
    }
    const Options& options = *parsed.options;
    if (options.help) {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    std::string why;
    const auto settings = velkshared::settings_from_environment(options.url, options.store, {}, &why);
    if (!settings) {
        return bad_usage(why);
    }
    const auto seeds = velkshared::parse_url(settings->url, &why);
    if (!seeds) {
        return bad_usage("not a server URL: " + velkshared::redacted(settings->url) + ": " + why);
    }
    // From here on the URL is only shown, and a password never is.
    const Place place{settings->store, velkshared::redacted(settings->url),
                      velkshared::key_prefix(settings->store), &*settings};
    if (options.command == "put") {
        return put(place, options);
    }
    if (options.command == "del") {
        return del(place, options);
    }
    velkshared::Connection connection(*seeds, settings->timeout);
    if (options.command == "show") {
        return show(connection, place, options);
    }
    if (options.command == "get") {
        return get(connection, place, options);
    }
    if (options.command == "stores") {
        return stores(connection, seeds->front(), place, options);
    }
    return clear(connection, place);
}

}  // namespace
}  // namespace velkctl

int main(int argc, char** argv) {
    try {
        return velkctl::run(argc, argv);
    } catch (const velkctl::Failure& failure) {
        return failure.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "velkshared-ctl: out of memory\n");
        return velkctl::kUnreachable;
    }
}
