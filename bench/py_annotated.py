#!/usr/bin/env python3
"""Annotated loading against ruamel.yaml's round-trip load, side by side.

ruamel.yaml's round-trip mode is the peer that keeps source positions
(`.lc.line`, `.lc.col` on its containers), as `OPT_ANNOTATED` does on
ostrevane's dicts, lists and strings. Both read the generated config-like
corpus of gen_corpus.py (through py_loads.make_corpus): the stream with
each one's load-all call, and the same content as one document with
`loads`. Each measure is the best of several runs; the ratio is ruamel's
time over ostrevane's.

Then the growth with alias-built keys: a text whose keys `? [*b, i]` each
hold an alias of one 3,000-item list, loaded with OPT_ANNOTATED at 1,000
and 3,000 keys, beside the plain road's growth on the same texts. A road
that converts the definition once grows 3x for 3x the keys (goal <= 4.5x).

Usage: py_annotated.py [SIZE_BYTES] (default 1 MB)
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import py_loads  # noqa: E402


def contenders():
    import ostrevane
    from ruamel.yaml import YAML

    ann = ostrevane.OPT_ANNOTATED

    def ruamel_yaml():
        y = YAML()  # round-trip mode
        y.allow_duplicate_keys = True
        return y

    return {
        "one document": {
            "ostrevane": lambda t: ostrevane.loads(t, option=ann),
            "ruamel-rt": lambda t: ruamel_yaml().load(t),
        },
        "stream": {
            "ostrevane": lambda t: ostrevane.loads_all(t, option=ann),
            "ruamel-rt": lambda t: list(ruamel_yaml().load_all(t)),
        },
    }


def main(argv):
    size = int(argv[0]) if argv else 1024 * 1024
    stream = py_loads.make_corpus(size)
    texts = {"one document": py_loads.single_document(stream), "stream": stream}
    for measure, fns in contenders().items():
        text = texts[measure]
        print(f"\n{measure}: {len(text.encode()) / 1e6:.2f} MB")
        times = {name: py_loads.best_time(fn, text) for name, fn in fns.items()}
        ratio = times["ruamel-rt"] / times["ostrevane"]
        print(f"  OPT_ANNOTATED ostrevane {times['ostrevane'] * 1e3:8.1f} ms   "
              f"ruamel-rt {times['ruamel-rt'] * 1e3:9.1f} ms   ratio {ratio:6.1f}x")
    alias_keys_growth()
    return 0


def alias_keys_text(keys, items=3000):
    lines = [f"b: &b [{', '.join(['x'] * items)}]"]
    lines += [f"? [*b, {i}]\n: {i}" for i in range(keys)]
    return "\n".join(lines) + "\n"


def alias_keys_growth():
    import ostrevane

    small, large = alias_keys_text(1000), alias_keys_text(3000)
    growth = {}
    for name, load in (("OPT_ANNOTATED", lambda t: ostrevane.loads(t, option=ostrevane.OPT_ANNOTATED)),
                       ("plain loads", ostrevane.loads)):
        times = [py_loads.best_time(load, t) for t in (small, large)]
        growth[name] = times[1] / times[0]
    ratio = growth["OPT_ANNOTATED"]
    print(f"\nalias-built keys, 3,000 / 1,000 keys: OPT_ANNOTATED {ratio:5.2f}x   "
          f"plain loads {growth['plain loads']:5.2f}x   "
          f"(goal <= 4.5x: {'met' if ratio <= 4.5 else 'NOT met'})")


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
