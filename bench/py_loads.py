#!/usr/bin/env python3
"""loads / loads_all against PyYAML's C loader and ruamel.yaml's safe loader.

One run, one corpus, every loader side by side: the generated config-like
corpus of gen_corpus.py (many documents of nested mappings, sequences, flow
collections, quoted and block scalars, comments, anchors), read as one stream
with each loader's load-all call, plus one large single document for loads.

Prints throughput (MB/s, best of several runs) with the ratio of ostrevane to
each peer, and peak memory: the growth of the process's peak RSS during one
load, measured in a fresh subprocess per loader (so that native allocations
count, not only Python's).

Usage: py_loads.py [SIZE_BYTES] (default 4 MB)
"""
import gc
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import gen_corpus  # noqa: E402


def make_corpus(size):
    import random
    w = gen_corpus.Writer(random.Random(20260611))
    w.line("# generated configuration corpus")
    documents = 0
    while w.size < size:
        if documents:
            w.line("---")
        w.anchors = 0
        w.comment(0)
        w.mapping(0, 0)
        documents += 1
    return "\n".join(w.lines) + "\n"


def single_document(stream_text):
    # The same content as one document: every document becomes an entry of a
    # top-level mapping.
    out = []
    for i, doc in enumerate(stream_text.split("\n---\n")):
        # Anchor names are reused from document to document: make them unique.
        doc = doc.replace("&ref", f"&d{i}r").replace("*ref", f"*d{i}r")
        out.append(f"doc{i}:")
        out.extend("  " + line if line else line for line in doc.split("\n"))
    return "\n".join(out) + "\n"


def loaders(kind):
    """name -> callable(bytes) for the given kind ('all' or 'one')."""
    import ostrevane
    result = {}
    result["ostrevane"] = ostrevane.loads_all if kind == "all" else ostrevane.loads
    try:
        import yaml
        if getattr(yaml, "__with_libyaml__", False):
            if kind == "all":
                result["pyyaml-c"] = lambda d: list(yaml.load_all(d, Loader=yaml.CSafeLoader))
            else:
                result["pyyaml-c"] = lambda d: yaml.load(d, Loader=yaml.CSafeLoader)
    except ImportError:
        pass
    try:
        from ruamel.yaml import YAML
        safe = YAML(typ="safe", pure=False)
        safe.allow_duplicate_keys = True
        if kind == "all":
            result["ruamel-safe"] = lambda d: list(safe.load_all(d))
        else:
            result["ruamel-safe"] = lambda d: safe.load(d)
    except ImportError:
        pass
    return result


def best_time(fn, data, budget_s=3.0, max_runs=7):
    times = []
    start = time.perf_counter()
    while len(times) < max_runs and (not times or time.perf_counter() - start < budget_s):
        gc.collect()
        t0 = time.perf_counter()
        result = fn(data)
        times.append(time.perf_counter() - t0)
        del result
    return min(times)


def status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise KeyError(field)


def reset_peak():
    # Writing 5 to clear_refs resets the peak RSS (VmHWM) to the current RSS.
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def child_memory(path, name, kind):
    """Runs in a subprocess: prints the peak RSS growth of one load, in KiB."""
    with open(path, "rb") as f:
        data = f.read()
    fn = loaders(kind)[name]
    fn(b"warm: [1, up]\n")  # imports and caches outside the measurement
    gc.collect()
    if reset_peak():
        before = status_kib("VmRSS")
        result = fn(data)
        after = status_kib("VmHWM")
    else:
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result = fn(data)
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"kib": after - before, "items": len(result) if kind == "all" else 1}))


def measure_memory(path, name, kind):
    out = subprocess.run([sys.executable, __file__, "--child", path, name, kind],
                         capture_output=True, text=True)
    if out.returncode != 0:
        return None
    return json.loads(out.stdout)["kib"]


def run(label, text, kind):
    data = text.encode("utf-8")
    mb = len(data) / 1e6
    fns = loaders(kind)
    with tempfile.NamedTemporaryFile("wb", suffix=".yaml", delete=False) as f:
        f.write(data)
        path = f.name
    try:
        print(f"\n{label}: {mb:.1f} MB, {'loads_all' if kind == 'all' else 'loads'}")
        print(f"  {'loader':<12} {'MB/s':>8} {'time':>9} {'peak RSS +':>12}")
        speeds, mems = {}, {}
        for name, fn in fns.items():
            t = best_time(fn, data)
            speeds[name] = mb / t
            mems[name] = measure_memory(path, name, kind)
            mem = f"{mems[name] / 1024:.1f} MiB" if mems[name] is not None else "?"
            print(f"  {name:<12} {speeds[name]:8.1f} {t * 1000:7.1f}ms {mem:>12}")
        for peer in fns:
            if peer == "ostrevane":
                continue
            ratio = speeds["ostrevane"] / speeds[peer]
            mem_ratio = (mems["ostrevane"] / mems[peer]
                         if mems.get(peer) and mems.get("ostrevane") is not None else float("nan"))
            print(f"  ostrevane vs {peer}: {ratio:.1f}x faster, peak memory {mem_ratio:.2f}x")
    finally:
        os.unlink(path)


def main(argv):
    if argv and argv[0] == "--child":
        child_memory(*argv[1:4])
        return 0
    size = int(argv[0]) if argv else 4 * 1024 * 1024
    stream = make_corpus(size)
    run("config corpus, as a stream", stream, "all")
    run("config corpus, as one document", single_document(stream), "one")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
