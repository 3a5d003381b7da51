#!/usr/bin/env python3
"""Alias expansion cost per node: a deep chain against a flat expansion.

The deep text is a chain of L anchors, each nesting the one before 990
levels deeper (L = 140: 278 KB that expand to about 9.8 million nodes, one
level each). The flat text expands the same number of nodes side by side:
a thousand aliases of a one-item sequence, repeated, half sequences and half
scalars. Both go through loads and loads_all, alternately, several times.

Prints, per call, the ratio of the deep text's CPU time per node to the flat
text's (median and spread over the runs): expansion should cost about the
same per node at any depth (the goal is at most 3).

Usage: py_alias_depth.py [L] [RUNS] (defaults 140 and 3)
"""
import gc
import resource
import statistics
import sys
import time


def deep_text(length):
    lines = ["- &a0 " + "[" * 990 + "x" + "]" * 990]
    for i in range(1, length):
        lines.append(f"- &a{i} " + "[" * 990 + f"*a{i - 1}" + "]" * 990)
    nodes = 1 + sum(990 * (i + 1) + 1 for i in range(length))
    return "\n".join(lines) + "\n", nodes


def flat_text(nodes):
    inner = 1000
    outer = max(1, nodes // (2 * inner + 1))
    text = ("- &b [x]\n- &c [" + ", ".join(["*b"] * inner) + "]\n- ["
            + ", ".join(["*c"] * outer) + "]\n")
    return text, 1 + 2 + (inner * 2 + 1) + 1 + outer * (inner * 2 + 1)


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def per_node(load, text, nodes):
    gc.collect()
    start_cpu, start_wall = cpu_seconds(), time.perf_counter()
    result = load(text)
    cpu, wall = cpu_seconds() - start_cpu, time.perf_counter() - start_wall
    del result
    return cpu / nodes, wall / nodes


def main(argv):
    import ostrevane
    length = int(argv[1]) if len(argv) > 1 else 140
    runs = int(argv[2]) if len(argv) > 2 else 3
    deep, deep_nodes = deep_text(length)
    flat, flat_nodes = flat_text(deep_nodes)
    print(f"deep chain L={length}: {len(deep) / 1e3:.0f} KB, {deep_nodes / 1e6:.2f}M nodes; "
          f"flat: {flat_nodes / 1e6:.2f}M nodes")
    for name, load in (("loads", ostrevane.loads), ("loads_all", ostrevane.loads_all)):
        cpu_ratios, wall_ratios = [], []
        for _ in range(runs):
            deep_cpu, deep_wall = per_node(load, deep, deep_nodes)
            flat_cpu, flat_wall = per_node(load, flat, flat_nodes)
            cpu_ratios.append(deep_cpu / flat_cpu)
            wall_ratios.append(deep_wall / flat_wall)
        print(f"{name:10s} deep/flat per node: cpu {statistics.median(cpu_ratios):.2f}x "
              f"({min(cpu_ratios):.2f}-{max(cpu_ratios):.2f}), "
              f"wall {statistics.median(wall_ratios):.2f}x "
              f"({min(wall_ratios):.2f}-{max(wall_ratios):.2f})", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
