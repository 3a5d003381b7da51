#!/usr/bin/env python3
"""Round-trip loading against ruamel.yaml's round-trip mode, side by side.

The texts are config-like and commented: single documents from the corpus
writer of gen_corpus.py (nested mappings and sequences, quoted, flow and
block scalars, full-line and trailing comments, anchors and aliases), a
small one (a typical configuration file) and a large one.

Three measures per text, each the best of several runs:
- load + text: `loads(t, option=OPT_ROUND_TRIP).to_yaml()` against
  ruamel.yaml's `YAML()` (round-trip mode) loading the text and dumping it
  back;
- load + edit + text: the same with one assignment at the top level before
  writing, so that ostrevane re-emits the whole document instead of
  returning the loaded text;
- load alone: the same two loads without writing.
Prints the ratio of ruamel.yaml's time to ostrevane's.

Usage: py_roundtrip.py [LARGE_SIZE_BYTES] (default 1 MB)
"""
import gc
import io
import os
import random
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import gen_corpus  # noqa: E402


def make_document(size, seed):
    # One writer numbers its anchors on, and each alias names an earlier one.
    w = gen_corpus.Writer(random.Random(seed))
    w.line("# generated configuration")
    while w.size < size:
        w.comment(0)
        w.mapping(0, 0)
    return "\n".join(w.lines) + "\n"


def best_time(fn, data, budget_s=2.0, max_runs=9):
    times = []
    start = time.perf_counter()
    while len(times) < max_runs and (len(times) < 3 or time.perf_counter() - start < budget_s):
        gc.collect()
        t0 = time.perf_counter()
        fn(data)
        times.append(time.perf_counter() - t0)
    return min(times)


def contenders():
    import ostrevane
    from ruamel.yaml import YAML

    rt = ostrevane.OPT_ROUND_TRIP

    def ruamel_yaml():
        y = YAML()  # round-trip mode
        y.allow_duplicate_keys = True
        y.width = 4096
        return y

    def ruamel_round_trip(text):
        y = ruamel_yaml()
        out = io.StringIO()
        y.dump(y.load(text), out)
        return out.getvalue()

    def ostrevane_edit(text):
        doc = ostrevane.loads(text, option=rt)
        doc["edited"] = 1
        return doc.to_yaml()

    def ruamel_edit(text):
        y = ruamel_yaml()
        data = y.load(text)
        data["edited"] = 1
        out = io.StringIO()
        y.dump(data, out)
        return out.getvalue()

    return {
        "load + text": {
            "ostrevane": lambda t: ostrevane.loads(t, option=rt).to_yaml(),
            "ruamel-rt": ruamel_round_trip,
        },
        "load + edit + text": {
            "ostrevane": ostrevane_edit,
            "ruamel-rt": ruamel_edit,
        },
        "load alone": {
            "ostrevane": lambda t: ostrevane.loads(t, option=rt),
            "ruamel-rt": lambda t: ruamel_yaml().load(t),
        },
    }


def run(label, text):
    import ostrevane
    assert ostrevane.loads(text, option=ostrevane.OPT_ROUND_TRIP).to_yaml() == text.encode()
    edited = contenders()["load + edit + text"]["ostrevane"](text)
    assert ostrevane.loads(edited) == dict(ostrevane.loads(text), edited=1)
    print(f"\n{label}: {len(text.encode()) / 1024:.1f} KiB, {text.count(chr(10))} lines")
    for measure, fns in contenders().items():
        times = {name: best_time(fn, text) for name, fn in fns.items()}
        ratio = times["ruamel-rt"] / times["ostrevane"]
        print(f"  {measure:<18} ruamel-rt / ostrevane {ratio:6.1f}x")


def main(argv):
    large = int(argv[0]) if argv else 1024 * 1024
    run("small config", make_document(4 * 1024, 20261210))
    run("large config", make_document(large, 20261211))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
