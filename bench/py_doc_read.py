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

Then reads of documents whose aliases repeat one large definition: a
sequence of 4,000 aliases of a 4,000-item list (walk), and 3,000 keys
`? [*b, i]` over a 3,000-item list `b` (keys and len). Each read is timed
against `to_dict()` of the same document and against the plain `loads` of
the same text (which refuses the first text: its aliases expand past the
plain road's budget); a read that converts each definition once per call
stays within a small factor of to_dict (goal <= 4x). Last, `loads(t,
option=OPT_ROUND_TRIP, schema=...)` of the key-heavy text at 1,000 and
3,000 keys: linear growth is 3x the time for 3x the keys (goal <= 4.5x).
Validation reads a copy with every alias expanded, bounded by the node
budget of 1,000,000 copied nodes: with the 3,000-item definition both sizes
reach that bound; with a 300-item one neither does, and the copy itself
(300,000 against 900,000 nodes) is what grows.

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


def alias_leaves_text(n):
    """A definition of n items and a sequence of n aliases of it."""
    return f"base: &b [{', '.join(['x'] * n)}]\nuse: [{', '.join(['*b'] * n)}]\n"


def alias_keys_text(n, items=3000):
    """A definition of `items` items and n keys that each hold an alias of it."""
    lines = [f"b: &b [{', '.join(['x'] * items)}]"]
    lines += [f"? [*b, {i}]\n: {i}" for i in range(n)]
    return "\n".join(lines) + "\n"


def best_of(fn, budget_s=0.5, max_runs=60):
    """Best time of single calls of `fn()`, with the cyclic collector paused
    and each result freed outside the timed stretch: a walk makes two tuples
    per leaf, whose collection and freeing would otherwise be timed with it
    but not with to_dict's few lists. Many runs, since the first calls of a
    size also pay for fresh memory."""
    best = float("inf")
    runs = 0
    start = time.perf_counter()
    gc.collect()
    gc.disable()
    try:
        while runs < max_runs and (runs < 5 or time.perf_counter() - start < budget_s):
            t0 = time.perf_counter()
            result = fn()
            best = min(best, time.perf_counter() - t0)
            del result
            runs += 1
    finally:
        gc.enable()
    return best


def verdict(ratio, goal):
    return f"(goal <= {goal}x: {'met' if ratio <= goal else 'NOT met'})"


def alias_reads():
    import ostrevane

    rt = ostrevane.OPT_ROUND_TRIP
    print("\nreads of repeated definitions: read time / to_dict() time, "
          "read time / plain loads time", flush=True)
    cases = [
        ("walk()", alias_leaves_text(4000), lambda d: d.walk()),
        ("keys()", alias_keys_text(3000), lambda d: d.keys()),
        ("len()", alias_keys_text(3000), lambda d: len(d)),
    ]
    for label, text, read in cases:
        doc = ostrevane.loads(text, option=rt)
        ours = best_of(lambda: read(doc))
        to_dict = best_of(doc.to_dict)
        try:
            plain = f"{ours / best_of(lambda: ostrevane.loads(text)):5.2f}x"
        except ostrevane.exceptions.OstrevaneParseError:
            plain = "refused (alias budget)"
        print(f"  {label:7} {len(text) / 1024:4.0f} KiB   / to_dict {ours / to_dict:5.2f}x "
              f"{verdict(ours / to_dict, 4)}   / loads {plain}", flush=True)
    schema = {"type": "object"}
    for items in (3000, 300):
        small, large = alias_keys_text(1000, items), alias_keys_text(3000, items)
        times = [best_of(lambda: ostrevane.loads(t, option=rt, schema=schema), max_runs=5)
                 for t in (small, large)]
        growth = times[1] / times[0]
        print(f"  OPT_ROUND_TRIP schema=, {items:,}-item definition, 3,000 / 1,000 keys: "
              f"{growth:5.2f}x   {verdict(growth, 4.5)}", flush=True)


def main(argv):
    large = int(argv[0]) if argv else 10 * 1024 * 1024
    small_ratio = run("small document", make_document(10 * 1024))
    large_ratio = run("large document", make_document(large))
    print(f"growth of the ratio from small to large: {large_ratio / small_ratio:.2f}x (goal < 2x)")
    alias_reads()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
