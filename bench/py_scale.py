#!/usr/bin/env python3
"""How loads scales with the size of its input, as ratios.

- throughput of the generated config corpus (one document) at 64 MB against
  the same at 4 MB;
- cost per key of a 1,000,000-key block mapping against a 10,000-key one, and
  per item of a 1,000,000-item one-line flow sequence against a 10,000-item
  one;
- a 50 MB literal block scalar against one copy of its 50 MB of text;
- the peak memory of loads on a 32 MB flow sequence "[1,1,...]" against
  json.loads of the same text, each in its own process (max RSS of the
  child, from resource.getrusage(RUSAGE_CHILDREN));
- one-line JSON against the same text broken into lines, time and peak
  memory growth of one loads (in a fresh process each), on 16,000 flow
  mappings of 50 keys, 16,000 flow sequences of 50 items and an 80 MB text
  (20 copies of a 20,000-key dict of 50-int lists); and loads of each
  one-line text against json.loads.

Each ratio is printed with the spread over a few runs.

Usage: py_scale.py [--quick]
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
from py_loads import reset_peak, status_kib  # noqa: E402


def corpus_document(size):
    """The corpus's documents as entries of one top-level mapping, about
    `size` bytes (anchors redefined in later entries simply win)."""
    out = []
    for i, doc in enumerate(gen_corpus.config_stream(size).split("\n---\n")):
        out.append(f"doc{i}:")
        out.extend("  " + line for line in doc.split("\n") if line and line[0] != "#")
    return "\n".join(out) + "\n"


def mapping_of(n):
    return "".join(f"key{i}: {i}\n" for i in range(n))


def flow_sequence_of(n):
    return "[" + ",".join(str(i % 1000) for i in range(n)) + "]"


def timed(fn, data, runs):
    """Seconds of the fastest of `runs` calls (each result dropped untimed)."""
    def once():
        gc.collect()
        start = time.perf_counter()
        result = fn(data)
        elapsed = time.perf_counter() - start
        del result
        return elapsed
    return min(once() for _ in range(runs))


def spread(values):
    return f"{min(values):.2f}-{max(values):.2f}"


def per_unit_ratio(loads, make, small, large, rounds):
    small_text, large_text = make(small).encode(), make(large).encode()
    ratios = []
    for _ in range(rounds):
        t_small = timed(loads, small_text, 9) / small
        t_large = timed(loads, large_text, 2) / large
        ratios.append(t_large / t_small)
    return ratios


def child(kind):
    """Runs in a subprocess: one load of the 32 MB flow sequence."""
    n = 16 * 1024 * 1024
    data = ("[" + "1," * (n - 1) + "1]").encode()
    if kind == "json":
        result = json.loads(data)
    else:
        import ostrevane
        result = ostrevane.loads(data)
    assert len(result) == n
    return 0


def peak_kib(kind):
    # A fresh parent per measurement, so that RUSAGE_CHILDREN sees one child.
    script = ("import resource, subprocess, sys;"
              f"subprocess.run([sys.executable, {__file__!r}, '--child', {kind!r}], check=True);"
              "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    if out.returncode != 0:
        sys.stderr.write(out.stderr)
        return None
    return int(out.stdout.strip())


def one_line_texts():
    """(name, one-line JSON, the same broken into lines) for each shape."""
    maps = [{f"k{j}": (i * 50 + j) % 9973 for j in range(50)} for i in range(16_000)]
    seqs = [[f"{(i + j) % 24:02d}:{j:02d}" if j % 2 else (i * 50 + j) % 9973
             for j in range(50)] for i in range(16_000)]
    big = {f"k{i}": list(range(i % 7, i % 7 + 50)) for i in range(20_000)}
    big_lines = "{\n" + ",\n".join(f"{json.dumps(k)}: {json.dumps(v)}"
                                    for k, v in big.items()) + "\n}"
    yield ("16,000 flow mappings", json.dumps(maps),
           "[\n" + ",\n".join(json.dumps(m) for m in maps) + "\n]\n")
    yield ("16,000 flow sequences", json.dumps(seqs),
           "[\n" + ",\n".join(json.dumps(q) for q in seqs) + "\n]\n")
    yield ("80 MB, 20 x 20,000 keys", json.dumps([big] * 20),
           "[\n" + ",\n".join([big_lines] * 20) + "\n]\n")


def child_peak(path, kind):
    """Runs in a subprocess: prints the peak RSS growth of one load, in KiB."""
    with open(path, "rb") as f:
        data = f.read()
    if kind == "json":
        fn = json.loads
    else:
        import ostrevane
        fn = ostrevane.loads
    fn(b'[{"warm": [1]}]')
    gc.collect()
    if not reset_peak():
        return 1
    before = status_kib("VmRSS")
    result = fn(data)
    print(status_kib("VmHWM") - before)
    del result
    return 0


def peak_growth_kib(data, kind):
    with tempfile.NamedTemporaryFile("wb", suffix=".json", delete=False) as f:
        f.write(data)
        path = f.name
    try:
        out = subprocess.run([sys.executable, __file__, "--child-peak", path, kind],
                             capture_output=True, text=True)
    finally:
        os.unlink(path)
    if out.returncode != 0:
        sys.stderr.write(out.stderr)
        return None
    return int(out.stdout.strip())


def one_line_ratios(loads, rounds):
    for name, one, lines in one_line_texts():
        one, lines = one.encode(), lines.encode()
        runs = 2 if len(one) > 20_000_000 else 5
        times, jsons, mems = [], [], []
        for _ in range(rounds):
            t_one, t_lines = timed(loads, one, runs), timed(loads, lines, runs)
            times.append(t_one / t_lines)
            jsons.append(t_one / timed(json.loads, one, runs))
            m_one, m_lines = peak_growth_kib(one, "ostrevane"), peak_growth_kib(lines, "ostrevane")
            if m_one and m_lines:
                mems.append(m_one / m_lines)
        mem = spread(mems) if mems else "?"
        print(f"{'one line / lines, time, ' + name + ':':<56}{spread(times)}  (goal <= 1.20)")
        print(f"{'one line / lines, peak memory, ' + name + ':':<56}{mem}  (goal <= 1.20)")
        print(f"{'one line / json.loads, time, ' + name + ':':<56}{spread(jsons)}  (goal <= 2.00)")


def main(argv):
    if argv and argv[0] == "--child":
        return child(argv[1])
    if argv and argv[0] == "--child-peak":
        return child_peak(argv[1], argv[2])
    quick = "--quick" in argv
    rounds = 2 if quick else 3
    import ostrevane
    loads = ostrevane.loads

    # Throughput at 64 MB against 4 MB.
    big = corpus_document(64 * 1024 * 1024).encode()
    small = big[:4 * 1024 * 1024]
    small = small[:small.rfind(b"\ndoc")] + b"\n"
    ratios = []
    for _ in range(rounds):
        t_small = timed(loads, small, 5) / len(small)
        t_big = timed(loads, big, 2) / len(big)
        ratios.append(t_small / t_big)
    del big
    print(f"throughput 64 MB / 4 MB:               {spread(ratios)}  (goal >= 0.80)")

    ratios = per_unit_ratio(loads, mapping_of, 10_000, 1_000_000, rounds)
    print(f"per key, 1,000,000 / 10,000 keys:      {spread(ratios)}  (goal <= 1.50)")
    ratios = per_unit_ratio(loads, flow_sequence_of, 10_000, 1_000_000, rounds)
    print(f"per item, 1,000,000 / 10,000 items:    {spread(ratios)}  (goal <= 1.50)")

    # A 50 MB literal block scalar against one copy of its text.
    line = "x" * 79 + "\n"
    body = line * (50 * 1024 * 1024 // len(line))
    block = ("text: |\n" + "".join("  " + l for l in body.splitlines(True))).encode()
    ratios = []
    for _ in range(rounds):
        t_load = timed(loads, block, 3)
        t_copy = timed(lambda b: bytearray(b), body.encode(), 3)
        ratios.append(t_load / t_copy)
    del block, body
    print(f"50 MB block scalar / one copy:         {spread(ratios)}")

    # Peak memory against json.loads, each in a fresh process.
    ratios = []
    for _ in range(1 if quick else 2):
        ours, theirs = peak_kib("ostrevane"), peak_kib("json")
        if ours and theirs:
            ratios.append(ours / theirs)
    if ratios:
        print(f"peak memory, 32 MB [1,1,...] / json:   {spread(ratios)}  (goal <= 3.00)")

    one_line_ratios(loads, rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
