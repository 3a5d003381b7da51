#!/usr/bin/env python3
"""loads over many small files against PyYAML's C loader and ruamel.yaml's
safe loader, and against json.loads of the same data written as JSON, side
by side in one run.

The corpus is gen_small_files.py's: 4,317 single-document files shaped like
the YAML found on a system (median 1.1 KB, a tenth under 650 bytes, the
largest 118 KB; schemas, command descriptions, CI pipelines, manifests,
playbooks, API descriptions, translation catalogues, application configs).
Each loader reads every file in turn, two ways:
- discard: each result is dropped at once, as a tool checking files does;
- keep: every result stays alive until the pass ends, as a program that
  loads a project's configs does, so the cyclic collector's passes over the
  growing live data count as they do there.
The loaders take turns pass after pass; each figure is the best pass.
Ratios are peer time / ostrevane time (higher is better).

Then the same data as JSON (each file's loaded value written with
json.dumps, dates as their text): loads of the YAML against json.loads of
the JSON, as a time ratio ostrevane / json.loads (lower is better; goal
<= 1.0). orjson.loads joins that comparison when the pyenv interpreter
(`python3` on PATH, or $OSTREVANE_ORJSON_PYTHON) has orjson and can import
this build; it runs in a subprocess of that interpreter.

Usage: py_small_files.py [COUNT] (default 4317 files)
"""
import gc
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import gen_small_files  # noqa: E402
import ostrevane  # noqa: E402
from orjson_peer import run_in_orjson_python  # noqa: E402

try:
    import yaml
except ImportError:
    yaml = None
try:
    from ruamel.yaml import YAML
except ImportError:
    YAML = None

GOALS = {"discard": 20.0, "keep": 15.0}
JSON_GOAL = 1.0


def loaders():
    out = [("ostrevane", ostrevane.loads)]
    if yaml is not None and hasattr(yaml, "CSafeLoader"):
        out.append(("CSafeLoader", lambda text: yaml.load(text, Loader=yaml.CSafeLoader)))
    if YAML is not None:
        ruamel = YAML(typ="safe")
        out.append(("ruamel safe", ruamel.load))
    return out


def one_pass(load, texts, keep):
    """Seconds to load every text; with `keep`, every result stays alive
    until the timing ends."""
    gc.collect()
    kept = []
    start = time.perf_counter()
    if keep:
        append = kept.append
        for text in texts:
            append(load(text))
    else:
        for text in texts:
            load(text)
    elapsed = time.perf_counter() - start
    del kept
    gc.collect()
    return elapsed


def best_passes(named, texts, keep, rounds):
    best = {name: float("inf") for name, _ in named}
    for r in range(rounds):
        for name, load in named:
            # The peers are slow and steady: fewer of their passes suffice.
            if name != "ostrevane" and r >= 2:
                continue
            best[name] = min(best[name], one_pass(load, texts, keep))
    return best


def corpus(count):
    """The YAML texts and the same data as JSON texts."""
    texts = [text for _, text in gen_small_files.generate(count)]
    as_json = [json.dumps(ostrevane.loads(text), default=str, ensure_ascii=False)
               for text in texts]
    return texts, as_json


def best_pair(pairs, keep, rounds):
    """Best pass of each (name, load, texts), the loaders taking turns."""
    best = {name: float("inf") for name, _, _ in pairs}
    for _ in range(rounds):
        for name, load, texts in pairs:
            best[name] = min(best[name], one_pass(load, texts, keep))
    return best


def json_section(texts, as_json, peers):
    """ostrevane.loads of the YAML against the `peers` (name, loads) of the
    JSON; prints time ratios ostrevane / peer."""
    for mode in ("discard", "keep"):
        pairs = [("ostrevane", ostrevane.loads, texts)] + [(n, f, as_json) for n, f in peers]
        best = best_pair(pairs, mode == "keep", rounds=7)
        ours = best["ostrevane"]
        parts = []
        for name, _ in peers:
            ratio = ours / best[name]
            text = f"{ratio:5.2f}x {name}'s time"
            if name == "json.loads":
                text += f" (goal <= {JSON_GOAL:.1f}x: {'met' if ratio <= JSON_GOAL else 'NOT met'})"
            parts.append(text)
        print(f"{mode:<8} " + " ".join(f"{best[n] * 1e3:10.1f} ms" for n, _, _ in pairs)
              + "   " + ", ".join(parts), flush=True)


def orjson_main(count):
    """Run inside the interpreter that has orjson."""
    import orjson
    texts, as_json = corpus(count)
    print(f"# orjson {orjson.__version__} on python {sys.version.split()[0]}")
    print(f"{'mode':<8} {'ostrevane':>13} {'json.loads':>13} {'orjson.loads':>13}   ratios")
    json_section(texts, as_json, [("json.loads", json.loads), ("orjson.loads", orjson.loads)])
    return 0


def run_orjson_peer(count):
    run_in_orjson_python("loads vs orjson.loads", __file__, ["--orjson", str(count)])


def main(argv):
    if argv[:1] == ["--orjson"]:
        return orjson_main(int(argv[1]))
    count = int(argv[0]) if argv else 4317
    texts, as_json = corpus(count)
    total = sum(len(t.encode()) for t in texts)
    sizes = sorted(len(t.encode()) for t in texts)
    named = loaders()
    print(f"# python {sys.version.split()[0]}; {len(texts)} files, {total / 1e6:.1f} MB, "
          f"{sizes[0]}-{sizes[-1]} bytes each, median {sizes[len(sizes) // 2]}")
    if yaml is not None:
        print(f"# PyYAML {yaml.__version__} (libyaml: {yaml.__with_libyaml__})")
    print()
    print(f"{'mode':<8} " + " ".join(f"{name:>13}" for name, _ in named) + "   ratios")
    for mode in ("discard", "keep"):
        best = best_passes(named, texts, mode == "keep", rounds=5)
        ours = best["ostrevane"]
        ratios = []
        for name, _ in named[1:]:
            ratio = best[name] / ours
            ratios.append(f"{ratio:5.1f}x {name}")
            if name == "CSafeLoader":
                goal = GOALS[mode]
                ratios[-1] += f" (goal >= {goal:.0f}x: {'met' if ratio >= goal else 'NOT met'})"
        print(f"{mode:<8} " + " ".join(f"{best[name] * 1e3:10.1f} ms" for name, _ in named)
              + "   " + ", ".join(ratios), flush=True)
    print("\nratios: peer time / ostrevane time (higher is better)")

    print(f"\nthe same data as JSON: {sum(len(t.encode()) for t in as_json) / 1e6:.1f} MB")
    print(f"{'mode':<8} {'ostrevane':>13} {'json.loads':>13}   ratios")
    json_section(texts, as_json, [("json.loads", json.loads)])
    run_orjson_peer(count)
    print("ratios: ostrevane time / peer time (lower is better)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
