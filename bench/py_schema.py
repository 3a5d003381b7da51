#!/usr/bin/env python3
"""Loading with schema validation against PyYAML's C loader followed by
jsonschema, side by side.

The texts are config-like documents from gen_corpus.py's writer (a small one
and a large one). Two schemas, both answered by the keywords built so far:
- "type": {"type": "object", "not": {"type": "array"}}: the cost of the
  check itself, mostly composing the text again and preparing its tree;
- "const": {"const": <the document>}: the whole tree compared with a value.
Each measure is the best of several runs; the ratios are jsonschema's time
(with PyYAML's C loader) over ostrevane's, and ostrevane's validated load
over its plain load.

Usage: py_schema.py [LARGE_SIZE_BYTES] (default 1 MB)
"""
import gc
import os
import random
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import gen_corpus  # noqa: E402


def make_document(size, seed):
    import ostrevane

    w = gen_corpus.Writer(random.Random(seed))
    while w.size < size:
        w.mapping(0, 0)
    # Written again from its value: the writer may repeat a key, which a
    # schema sees as two pairs while loads keeps the last.
    return ostrevane.dumps(ostrevane.loads("\n".join(w.lines) + "\n")).decode()


def best_time(fn, budget_s=2.0, max_runs=9):
    times = []
    start = time.perf_counter()
    while len(times) < max_runs and (len(times) < 3 or time.perf_counter() - start < budget_s):
        gc.collect()
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def run(label, text):
    import jsonschema
    import ostrevane
    import yaml

    # Each side compares with the value it loads itself (PyYAML reads YAML
    # 1.1, so "yes" is true there).
    ours_value = ostrevane.loads(text)
    theirs_value = yaml.load(text, Loader=yaml.CSafeLoader)
    schemas = {
        "type": ({"type": "object", "not": {"type": "array"}},) * 2,
        "const": ({"const": ours_value}, {"const": theirs_value}),
    }
    print(f"\n{label}: {len(text.encode()) / 1024:.1f} KiB, {text.count(chr(10))} lines")
    plain = best_time(lambda: ostrevane.loads(text))
    for name, (schema, peer_schema) in schemas.items():
        validator = jsonschema.Draft7Validator(peer_schema)

        def peer():
            validator.validate(yaml.load(text, Loader=yaml.CSafeLoader))

        ours = best_time(lambda: ostrevane.loads(text, schema=schema))
        theirs = best_time(peer)
        print(f"  {name:<6} ostrevane {ours * 1e3:8.2f} ms ({ours / plain:4.1f}x its plain load)   "
              f"pyyaml-c+jsonschema {theirs * 1e3:8.2f} ms   ratio {theirs / ours:5.2f}x")


def main(argv):
    large = int(argv[0]) if argv else 1024 * 1024
    run("small config", make_document(4 * 1024, 20261210))
    run("large config", make_document(large, 20261211))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
