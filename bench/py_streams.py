#!/usr/bin/env python3
"""loads_all over one text of many small documents, against PyYAML's C
loader (yaml.load_all with CSafeLoader), side by side in one run.

The stream is 32,000 documents joined with "---": the files of
gen_small_files.py's corpus (4,317 files shaped like the YAML found on a
system) taken in turn. Two figures:
- time: best of several whole-stream loads, the loaders taking turns (PyYAML,
  slow and steady, loads it once);
- peak memory: each loader reads the stream once in a process of its own,
  started by a process of its own that reports the child's max RSS
  (getrusage(RUSAGE_CHILDREN)), so that native allocations count and no run
  sees another's peak.
Ratios: PyYAML time / ostrevane time (higher is better; goal >= 15x) and
ostrevane peak / PyYAML peak (lower is better; goal <= 0.8x).

Usage: py_streams.py [DOCUMENTS] (default 32000)
"""
import gc
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import gen_small_files  # noqa: E402

TIME_GOAL = 15.0
MEMORY_GOAL = 0.8


def make_stream(count):
    """`count` documents: the small-file corpus in turn, each file's own
    leading "---" line dropped so that it stays one document."""
    files = [text for _, text in gen_small_files.generate()]
    docs = []
    for i in range(count):
        text = files[i % len(files)]
        docs.append(text[4:] if text.startswith("---\n") else text)
    return "---\n" + "---\n".join(docs)


def load_ours(text):
    import ostrevane
    return ostrevane.loads_all(text)


def load_pyyaml(text):
    import yaml
    return list(yaml.load_all(text, Loader=yaml.CSafeLoader))


LOADERS = {"ostrevane": load_ours, "CSafeLoader": load_pyyaml}

# Child of the measuring process: reads the stream and keeps the documents
# until it exits.
CHILD = """
import sys
sys.path.insert(0, {here!r})
import py_streams
text = open(sys.argv[1], encoding="utf-8").read()
docs = py_streams.LOADERS[sys.argv[2]](text)
assert len(docs) == int(sys.argv[3])
"""

# The measuring process: starts one child and reports its max RSS in KiB.
MEASURE = """
import resource, subprocess, sys
rc = subprocess.run([sys.executable, "-c", sys.argv[1]] + sys.argv[2:]).returncode
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss if rc == 0 else -1)
"""


def peak_kib(name, path, count):
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, "-c", MEASURE, CHILD.format(here=here), path, name,
                          str(count)], capture_output=True, text=True, check=True)
    return int(out.stdout.strip().splitlines()[-1])


def best_times(text, rounds):
    best = {name: float("inf") for name in LOADERS}
    for r in range(rounds):
        for name, load in LOADERS.items():
            if name != "ostrevane" and r >= 1:
                continue  # the peer is slow and steady: one pass suffices
            gc.collect()
            start = time.perf_counter()
            docs = load(text)
            best[name] = min(best[name], time.perf_counter() - start)
            del docs
    return best


def main(argv):
    count = int(argv[0]) if argv else 32000
    text = make_stream(count)
    print(f"# python {sys.version.split()[0]}; {count} documents, "
          f"{len(text.encode()) / 1e6:.1f} MB in one text")
    ok = len(load_ours(text)) == count
    best = best_times(text, rounds=3)
    ratio = best["CSafeLoader"] / best["ostrevane"]
    print(f"time    ostrevane {best['ostrevane'] * 1e3:8.1f} ms, CSafeLoader "
          f"{best['CSafeLoader'] * 1e3:8.1f} ms: {ratio:5.1f}x "
          f"(goal >= {TIME_GOAL:.0f}x: {'met' if ratio >= TIME_GOAL else 'NOT met'})", flush=True)
    with tempfile.NamedTemporaryFile("w", suffix=".yaml", encoding="utf-8", delete=False) as f:
        f.write(text)
        path = f.name
    try:
        peaks = {name: peak_kib(name, path, count) for name in LOADERS}
    finally:
        os.unlink(path)
    if min(peaks.values()) <= 0:
        print("memory  a child failed")
        return 1
    mem = peaks["ostrevane"] / peaks["CSafeLoader"]
    print(f"memory  ostrevane {peaks['ostrevane'] / 1024:8.1f} MiB, CSafeLoader "
          f"{peaks['CSafeLoader'] / 1024:8.1f} MiB max RSS: {mem:5.2f}x "
          f"(goal <= {MEMORY_GOAL}x: {'met' if mem <= MEMORY_GOAL else 'NOT met'})")
    print("\nratios: PyYAML time / ostrevane time (higher is better); "
          "ostrevane peak / PyYAML peak (lower is better)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
