#!/usr/bin/env python3
"""A nested read on round-trip documents of growing size, against ruamel.yaml.

Two anchor-free documents, one of about 10 KB and one of about 10 MB, share
the mappings on the read path: the root holds a fixed set of keys, the
`service` mapping and its `server` mapping have the same pairs in both. Only
the `bulk` sequence, a sibling of `service`, grows. The read is
`doc["service"]["server"]["port"]` on `loads(t, option=OPT_ROUND_TRIP)`
against `data["service"]["server"]["port"]` on ruamel.yaml's round-trip
result, whose dict lookups cost the same whatever the size.

Prints per document the time of one read for each and the ratio ostrevane /
ruamel.yaml, then how much that ratio grows from the small document to the
large one: a read that costs its path, not the document, keeps it near 1.

Usage: py_doc_read.py [LARGE_SIZE_BYTES] (default 10 MB)
"""
import gc
import sys
import time

READS = 20000


def make_document(size):
    head = ["# generated configuration", "name: bench", "version: 3"]
    head += [f"key{i}: value {i}" for i in range(20)]
    service = ["service:", "  enabled: true", "  server:"]
    service += [f"    opt{i}: {i}" for i in range(20)]
    service += ["    port: 8080", "    host: example.org"]
    service += [f"  setting{i}: on {i}" for i in range(20)]
    lines = head + ["bulk:"]
    used = sum(len(line) + 1 for line in head + service) + 6
    i = 0
    while used < size:
        line = f"  - {{id: {i}, label: item number {i}, tags: [a, b]}}"
        lines.append(line)
        used += len(line) + 1
        i += 1
    return "\n".join(lines + service) + "\n"


def per_read(fn, obj, rounds=7):
    best = float("inf")
    for _ in range(rounds):
        gc.collect()
        t0 = time.perf_counter()
        for _ in range(READS):
            fn(obj)
        best = min(best, time.perf_counter() - t0)
    return best / READS


def run(label, text):
    import ostrevane
    from ruamel.yaml import YAML

    doc = ostrevane.loads(text, option=ostrevane.OPT_ROUND_TRIP)
    data = YAML().load(text)
    assert doc["service"]["server"]["port"] == data["service"]["server"]["port"] == 8080
    ours = per_read(lambda d: d["service"]["server"]["port"], doc)
    theirs = per_read(lambda d: d["service"]["server"]["port"], data)
    ratio = ours / theirs
    print(f"{label}: {len(text.encode()) / 1024:.0f} KiB   ostrevane {ours * 1e9:7.0f} ns   "
          f"ruamel-rt {theirs * 1e9:7.0f} ns   ostrevane/ruamel {ratio:5.2f}", flush=True)
    return ratio


def main(argv):
    large = int(argv[0]) if argv else 10 * 1024 * 1024
    small_ratio = run("small document", make_document(10 * 1024))
    large_ratio = run("large document", make_document(large))
    print(f"growth of the ratio from small to large: {large_ratio / small_ratio:.2f}x (goal < 2x)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
