#!/usr/bin/env python3
"""dumps and to_json against their peers, side by side in one run.

dumps is timed against PyYAML's C-accelerated dumper
(yaml.dump(..., Dumper=yaml.CSafeDumper, sort_keys=False), which keeps keys
in order as dumps does); to_json against the standard library's json.dumps
and ujson.dumps. Three data sets: a config-like nesting of services, a list
of records, and float-heavy rows. Each time is the best of several rounds;
ratios are peer time / our time, so above 1 means we are faster.

to_json is also timed against orjson, which only the pyenv interpreter
(`python3` on PATH, or $OSTREVANE_ORJSON_PYTHON) has: that comparison runs
in a subprocess of that interpreter, which imports this build through
PYTHONPATH when both are CPython 3.11; otherwise it says it was skipped.
"""
import json
import random
import sys
import time

import ostrevane
from orjson_peer import run_in_orjson_python

try:
    import yaml
except ImportError:  # the peer is optional: its column then says "n/a"
    yaml = None
try:
    import ujson
except ImportError:
    ujson = None


def config_like(n=400):
    rng = random.Random(8)
    services = {}
    for i in range(n):
        services[f"service-{i}"] = {
            "image": f"registry.example.com/team/app-{i}:1.{rng.randrange(40)}.{rng.randrange(9)}",
            "replicas": rng.randrange(1, 12),
            "enabled": rng.random() < 0.8,
            "ports": [rng.randrange(1024, 65535) for _ in range(rng.randrange(1, 4))],
            "env": {f"VAR_{k}": f"value {rng.randrange(10**6)}" for k in range(5)},
            "limits": {"cpu": rng.choice(["250m", "500m", "1"]), "memory": "512Mi"},
            "command": ["/bin/app", "--config", f"/etc/app/{i}.yaml", "--verbose"],
            "healthcheck": None,
        }
    return {"version": 3, "services": services}


def records(n=5000):
    rng = random.Random(9)
    return [
        {
            "id": i,
            "name": f"user{i}",
            "email": f"user{i}@example.org",
            "active": i % 3 != 0,
            "score": round(rng.random() * 100, 3),
            "tags": ["alpha", "beta", "gamma"][: i % 4],
            "address": {"city": "Lyon", "zip": f"{69000 + i % 10:05d}"},
        }
        for i in range(n)
    ]


def float_heavy(rows=3000, cols=12):
    rng = random.Random(10)
    return [[rng.uniform(-1e6, 1e6) for _ in range(cols)] for _ in range(rows)]


def best_times(fns, data, rounds=15, round_seconds=0.03):
    """Best time per call of each function. The functions take turns, round
    after round, so that a busy machine slows them all alike."""
    numbers = []
    for fn in fns:
        fn(data)
        number = 1
        while True:
            start = time.perf_counter()
            for _ in range(number):
                fn(data)
            if time.perf_counter() - start >= round_seconds:
                break
            number *= 2
        numbers.append(number)
    best = [float("inf")] * len(fns)
    for _ in range(rounds):
        for i, (fn, number) in enumerate(zip(fns, numbers)):
            start = time.perf_counter()
            for _ in range(number):
                fn(data)
            best[i] = min(best[i], (time.perf_counter() - start) / number)
    return best


def small_dicts(n=100_000):
    return [{"id": i, "name": f"user{i}", "active": i % 2 == 0, "score": i * 0.5,
             "tags": ["a", "b"]} for i in range(n)]


def scored_records(n=100_000):
    rng = random.Random(11)
    return [{"id": i, "name": "user%d" % i, "score": rng.random(), "active": i % 2 == 0,
             "group": None} for i in range(n)]


def orjson_main(runs=5):
    """Run inside the interpreter that has orjson: to_json against
    orjson.dumps, both with keys in insertion order and compact output. The
    ratio is measured `runs` times; the median decides the goal, and the
    spread shows how busy the machine was."""
    import orjson
    print(f"# orjson {orjson.__version__} on python {sys.version.split()[0]}")
    for name, data in (("config-like", config_like()), ("small dicts", small_dicts()),
                       ("scored records", scored_records()), ("float-heavy", float_heavy())):
        if orjson.loads(ostrevane.to_json(data)) != data:
            print(f"{name}: outputs differ")
            return 1
        ratios = []
        for _ in range(runs):
            ours, peer = best_times([ostrevane.to_json, orjson.dumps], data, rounds=7)
            ratios.append(peer / ours)
        ratios.sort()
        median = ratios[len(ratios) // 2]
        print(f"{name:<15} to_json vs orjson: {median:5.2f}x median of {runs} "
              f"[{ratios[0]:.2f}-{ratios[-1]:.2f}] "
              f"(goal >= 1x: {'met' if median >= 1 else 'NOT met'})", flush=True)
    return 0


def run_orjson_peer():
    return run_in_orjson_python("to_json vs orjson", __file__, ["--orjson"])


def leave_to_default(_obj):
    return None


def callback_section(label, callback, goal=None):
    """dumps through a represent callback against the same C dumper writing
    the same data; the output must load back to the data."""
    if yaml is None or not hasattr(yaml, "CSafeDumper"):
        print(f"dumps(represent={label}) vs CSafeDumper: skipped (no PyYAML C dumper)")
        return True
    ok = True
    for name, data in (("config-like", config_like()), ("records", records())):
        ours = best_times([lambda d: ostrevane.dumps(d, represent=callback)], data)[0]
        peer = best_times(
            [lambda d: yaml.dump(d, Dumper=yaml.CSafeDumper, sort_keys=False)], data,
            rounds=3, round_seconds=0.3)[0]
        verdict = "" if goal is None else \
            f" (goal >= {goal}x: {'met' if peer >= goal * ours else 'NOT met'})"
        print(f"{name:<12} dumps(represent={label}) vs CSafeDumper: {peer / ours:6.1f}x{verdict}",
              flush=True)
        text = ostrevane.dumps(data, represent=callback)
        ok &= ostrevane.loads(text) == data
    return ok


def represent_section():
    """A callback that leaves every object to the default representation:
    it runs once per object, so this is the represent road's cost per node."""
    return callback_section("...", leave_to_default, goal=10)


def describe_everything(obj):
    """Answers with a descriptor for every string, list and dict: the
    descriptor road with its style choice and comment placement, per node."""
    if isinstance(obj, str):
        return ostrevane.OstrevaneScalar(obj)
    if isinstance(obj, list):
        return ostrevane.OstrevaneSequence(obj, comment_before="items")
    if isinstance(obj, dict):
        return ostrevane.OstrevaneMapping(list(obj.items()), comment_before="pairs")
    return None


def descriptor_section():
    """A callback that answers with descriptors (the comments make the output
    longer than the C dumper's)."""
    return callback_section("descriptors", describe_everything)


def fmt_ms(seconds):
    return f"{seconds * 1e3:9.3f} ms"


def main():
    datasets = [("config-like", config_like()), ("records", records()), ("float-heavy", float_heavy())]
    print(f"# python {sys.version.split()[0]}, ostrevane from {ostrevane.__file__}")
    if yaml is not None:
        print(f"# PyYAML {yaml.__version__}, C dumper available: {hasattr(yaml, 'CSafeDumper')}")
    if ujson is not None:
        print(f"# ujson {ujson.__version__}")
    print()
    print(f"{'data':<12} {'dumps':>12} {'CSafeDumper':>12} {'ratio':>8}   "
          f"{'to_json':>12} {'json.dumps':>12} {'ratio':>8} {'ujson':>12} {'ratio':>8}")
    ok = True
    for name, data in datasets:
        fns = [ostrevane.dumps, ostrevane.to_json, json.dumps]
        if ujson is not None:
            fns.append(ujson.dumps)
        times = best_times(fns, data)
        ours_yaml, ours_json, json_time = times[:3]
        if yaml is not None and hasattr(yaml, "CSafeDumper"):
            # Slow enough that fewer, longer rounds give a stable figure.
            peer_yaml = best_times(
                [lambda d: yaml.dump(d, Dumper=yaml.CSafeDumper, sort_keys=False)], data,
                rounds=3, round_seconds=0.3)[0]
            yaml_cols = f"{fmt_ms(peer_yaml):>12} {peer_yaml / ours_yaml:7.1f}x"
        else:
            yaml_cols = f"{'n/a':>12} {'':>8}"
        if ujson is not None:
            peer_ujson = times[3]
            ujson_cols = f"{fmt_ms(peer_ujson):>12} {peer_ujson / ours_json:7.2f}x"
        else:
            ujson_cols = f"{'n/a':>12} {'':>8}"
        print(f"{name:<12} {fmt_ms(ours_yaml):>12} {yaml_cols}   "
              f"{fmt_ms(ours_json):>12} {fmt_ms(json_time):>12} {json_time / ours_json:7.2f}x "
              f"{ujson_cols}", flush=True)
        # The outputs must mean the same data, or the comparison is void.
        ok &= json.loads(ostrevane.to_json(data)) == data
    print()
    ok &= represent_section()
    ok &= descriptor_section()
    print()
    ok &= run_orjson_peer()
    print("\nratios: peer time / ostrevane time (higher is better; goals: dumps >= 30x CSafeDumper, "
          "to_json >= 3x json.dumps, > 1x ujson and >= 1x orjson)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(orjson_main() if sys.argv[1:] == ["--orjson"] else main())
