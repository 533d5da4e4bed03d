#!/usr/bin/env python3
"""Turns the benchmark's JSON output into the performance table.

Every figure is a ratio against a baseline measured in the same run:
library time per item over baseline time per item (medians of repeated,
randomly interleaved runs), bandwidth as a fraction of memcpy, the
two-handle scaling factor against the baseline's, and heap bytes per entry
against the baseline map's.
"""
import json
import platform
import subprocess
import sys

# Goals per scenario, as the largest acceptable library/baseline ratio.
def goal(name):
    family, value, batch, keys = name.split("/")
    if batch == "b:1" and keys == "n:1000" and value in ("v:16", "v:1024"):
        return 1.3
    if value == "v:16" and batch == "b:64" and keys == "n:1000":
        return 1.3
    if value == "v:1024" and batch == "b:64":
        return 1.15 if family in ("get_into", "query", "delete", "ll_get_into") else 1.25
    return None


def main(path, out_path):
    data = json.load(open(path))
    median = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            median[b["run_name"]] = b
    rows = []
    failures = 0
    for name in sorted(median):
        if not name.endswith("/lib") or name.startswith(("threads/", "memory/")):
            continue
        scenario = name[: -len("/lib")]
        base = median.get(scenario + "/base")
        if base is None:
            continue
        ratio = median[name]["real_time"] / base["real_time"]
        limit = goal(scenario)
        verdict = "" if limit is None else ("ok" if ratio <= limit else "MISSED")
        failures += verdict == "MISSED"
        rows.append((scenario, median[name]["real_time"], base["real_time"], ratio, limit, verdict))

    lines = []
    lines.append("| scenario | library ns/batch | baseline ns/batch | ratio | goal | |")
    lines.append("|---|---:|---:|---:|---:|---|")
    for scenario, lib, base, ratio, limit, verdict in rows:
        lines.append(f"| {scenario} | {lib:.0f} | {base:.0f} | {ratio:.2f} | {'' if limit is None else f'<= {limit}'} | {verdict} |")

    extra = []
    for size in ("65536", "1048576"):
        for family in ("get_into", "put", "ll_get_into", "ll_put"):
            mc = median.get(("memcpy_scatter/v:" if family.endswith("put") else "memcpy_gather/v:") + size)
            if not mc:
                continue
            keys = "n:64" if size == "1048576" else "n:1000"
            lib = median.get(f"{family}/v:{size}/b:1/{keys}/lib")
            if lib:
                fraction = lib["bytes_per_second"] / mc["bytes_per_second"]
                want = size == "1048576" and family in ("get_into", "put")
                mark = ("ok" if fraction >= 0.9 else "MISSED") if want else ""
                failures += mark == "MISSED"
                extra.append(f"| {family} of {int(size) // 1024} KiB values | {fraction:.2f} of memcpy | {'>= 0.90' if want else ''} | {mark} |")

    def rate(prefix):
        # Thread benchmarks carry their settings in their names.
        for name, b in median.items():
            if name.startswith(prefix + "/") or name == prefix:
                return b["items_per_second"]
        return None

    lib1, lib2 = rate("threads/own_handles/t:1/lib"), rate("threads/own_handles/t:2/lib")
    base1, base2 = rate("threads/own_handles/t:1/base"), rate("threads/own_handles/t:2/base")
    if None not in (lib1, lib2, base1, base2):
        lib_scale, base_scale = lib2 / lib1, base2 / base1
        relative = lib_scale / base_scale
        mark = "ok" if relative >= 0.95 else "MISSED"
        failures += mark == "MISSED"
        extra.append(f"| two threads on two handles | scales {lib_scale:.2f}x (baseline {base_scale:.2f}x): {relative:.2f} of the baseline's scaling | >= 0.95 | {mark} |")
    shared_lib, shared_base = rate("threads/one_handle/t:2/lib"), rate("threads/one_handle/t:2/base")
    if shared_lib and shared_base:
        extra.append(f"| two threads on one handle | {shared_base / shared_lib:.2f} (time ratio) | | |")

    mem_lib = median.get("memory/entries:1000000/lib/iterations:1") or next((b for n, b in median.items() if n.startswith("memory/entries:1000000/lib")), None)
    mem_base = next((b for n, b in median.items() if n.startswith("memory/entries:1000000/base")), None)
    if mem_lib is None:
        for b in data["benchmarks"]:
            if b["name"].startswith("memory/entries:1000000/lib"):
                mem_lib = b
            if b["name"].startswith("memory/entries:1000000/base"):
                mem_base = b
    if mem_lib and mem_base:
        ratio = mem_lib["bytes_per_entry"] / mem_base["bytes_per_entry"]
        mark = "ok" if ratio <= 1.15 else "MISSED"
        failures += mark == "MISSED"
        extra.append(f"| heap per entry (10^6 x 100 B, 24-byte keys) | {mem_lib['bytes_per_entry']:.0f} B vs {mem_base['bytes_per_entry']:.0f} B: {ratio:.2f} | <= 1.15 | {mark} |")

    growth = []
    for entries in ("1000", "10000", "100000", "1000000"):
        g = median.get(f"namespace_get/entries:{entries}")
        l = median.get(f"namespace_list/entries:{entries}")
        u = median.get(f"namespace_used_baseline/entries:{entries}")
        if g and l and u:
            growth.append(f"| {entries} | {g['real_time'] / u['real_time']:.2f} | {l['real_time'] / u['real_time']:.2f} | {g['real_time'] / 1000:.1f} |")

    ctx = data.get("context", {})
    cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"], capture_output=True, text=True).stdout.strip()
    text = []
    text.append("# Performance\n")
    text.append("Every figure is a ratio against a baseline measured in the same run of `bench/velkmock_bench`: ")
    text.append("the simplest in-process store doing the same logical work per item (an outer map of namespaces, an inner ")
    text.append("`std::unordered_map<std::string, std::vector<unsigned char>>`, one `std::mutex`, `std::string_view` lookups), ")
    text.append("and `memcpy` for large values. Ratios are library time over baseline time per batch (medians of repeated, ")
    text.append("randomly interleaved runs); below 1 means the library is faster. Regenerate with `bench/report`.\n")
    text.append(f"Measured on {cpu or platform.processor()}, {ctx.get('num_cpus', '?')} CPUs, {platform.system()} {platform.release()}, ")
    text.append(f"at {ctx.get('date', '?')}. Scenario names: family / value size / batch size / keys in the working set.\n")
    text.append("## Per-item cost against the baseline\n")
    text.extend(lines)
    text.append("\n## Bandwidth, scaling and memory\n")
    text.append("| measure | figure | goal | |")
    text.append("|---|---|---|---|")
    text.extend(extra)
    if growth:
        text.append("\n## Describing a namespace as it grows\n")
        text.append("Describing a namespace adds up its value lengths afresh each time (nothing is cached), so get and list ")
        text.append("grow linearly with the entries; the baseline adds up its own map's value sizes.\n")
        text.append("| entries | get / baseline | list / baseline | get (us) |")
        text.append("|---:|---:|---:|---:|")
        text.extend(growth)
    report = "\n".join(text) + "\n"
    open(out_path, "w").write(report)
    print(report)
    print(f"{failures} goal(s) missed")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
